// A handle that one owner holds at a time (a socket, an open file): closed
// when its holder goes, handed on by a move that leaves the source empty.
#pragma once

#include <utility>

namespace tally {

template <typename T, T empty, void (*close_handle)(T)>
class OwnedHandle {
public:
    OwnedHandle() = default;
    ~OwnedHandle() { reset(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    OwnedHandle(OwnedHandle&& other) noexcept : value_(std::exchange(other.value_, empty)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.value_, empty));
        return *this;
    }

    T get() const { return value_; }
    bool is_open() const { return value_ != empty; }
    // Closes what is held, if anything, and holds `value` instead.
    void reset(T value = empty) {
        if (value_ != empty) close_handle(value_);
        value_ = value;
    }

private:
    T value_ = empty;
};

}  // namespace tally
