// The one way the store and the console report a failure the user must see:
// a message box with a fixed text and caption. The Win32 console shows it
// with MessageBoxA; tests record it.
#pragma once

#include <string>

namespace tally {

enum class BoxOwner { none, main_window, page };

struct Notice {
    std::string text;
    std::string caption;
    BoxOwner owner = BoxOwner::none;
    bool error_icon = true;
};

class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const Notice& notice) = 0;
};

}  // namespace tally
