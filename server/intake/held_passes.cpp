// Held passes, unannounced datagrams and recently applied passes.
#include "server/intake/held_passes.h"

#include <algorithm>

namespace tally {

namespace {
constexpr std::size_t max_unannounced = 4096;
constexpr std::size_t max_applied_per_mac = 4;
}  // namespace

std::vector<std::uint8_t> HeldPass::missing() const {
    std::vector<std::uint8_t> out;
    for (std::size_t k = 0; k < datagrams.size(); ++k)
        if (datagrams[k].bytes.empty()) out.push_back(static_cast<std::uint8_t>(k));
    return out;
}

std::uint64_t HeldPasses::mac_key(const Mac& mac) {
    std::uint64_t key = 0;
    for (std::uint8_t b : mac) key = key << 8 | b;
    return key;
}

HeldPass* HeldPasses::find(const Mac& mac, const PassId& id) {
    auto range = by_mac_.equal_range(mac_key(mac));
    for (auto it = range.first; it != range.second; ++it)
        if (it->second->manifest.pass_id == id) return &*it->second;
    return nullptr;
}

void HeldPasses::erase(PassRef pass) {
    auto range = by_mac_.equal_range(mac_key(pass->manifest.mac));
    for (auto it = range.first; it != range.second; ++it)
        if (it->second == pass) {
            by_mac_.erase(it);
            break;
        }
    for (const HeldDatagram& d : pass->datagrams) bytes_ -= d.bytes.size();
    passes_.erase(pass);
}

HeldPass& HeldPasses::open(const Manifest& manifest, std::uint32_t now, std::size_t& dropped) {
    while (!passes_.empty() && (passes_.size() >= max_held_passes || bytes_ > max_held_bytes)) {
        erase(passes_.begin());
        ++dropped;
    }
    HeldPass pass;
    pass.manifest = manifest;
    pass.datagrams.resize(manifest.digests.size());
    pass.opened = now;
    pass.order = ++opened_;
    passes_.push_back(std::move(pass));
    const PassRef ref = std::prev(passes_.end());
    by_mac_.emplace(mac_key(manifest.mac), ref);
    // Datagrams that came before their manifest (or whose first manifest was lost).
    for (auto it = unannounced_.begin(); it != unannounced_.end();) {
        auto listed = std::find(manifest.digests.begin(), manifest.digests.end(), it->digest);
        if (it->mac != manifest.mac || listed == manifest.digests.end()) {
            ++it;
            continue;
        }
        HeldDatagram& slot = ref->datagrams[static_cast<std::size_t>(listed - manifest.digests.begin())];
        if (slot.bytes.empty()) {
            slot = std::move(it->datagram);
            ++ref->present;
        } else {
            bytes_ -= it->datagram.bytes.size();
        }
        it = unannounced_.erase(it);
    }
    return *ref;
}

void HeldPasses::trim_to_bounds(const HeldPass* keep) {
    while (bytes_ > max_held_bytes && !passes_.empty() && &passes_.front() != keep) {
        erase(passes_.begin());
        ++overflowed_;
    }
}

HeldPass* HeldPasses::offer(const Mac& mac, const Digest& digest, const std::uint8_t* data, std::size_t size,
                            const Ipv4& sender) {
    // The newest pass that still lacks the datagram takes it: an older pass
    // of the computer that its client gave up on may list the same bytes
    // (an ID packet that did not change) and must not keep them from it.
    HeldPass* taker = nullptr;
    HeldPass* holder = nullptr;  // a pass that has it already: a repeat
    std::size_t position = 0;
    auto range = by_mac_.equal_range(mac_key(mac));
    for (auto it = range.first; it != range.second; ++it) {
        HeldPass& pass = *it->second;
        const auto& digests = pass.manifest.digests;
        for (std::size_t k = 0; k < digests.size(); ++k) {
            if (digests[k] != digest) continue;
            if (!pass.datagrams[k].bytes.empty()) {
                holder = &pass;  // a repeat, or the same datagram twice in the list
                continue;
            }
            if (!taker || pass.order > taker->order) {
                taker = &pass;
                position = k;
            }
            break;
        }
    }
    if (!taker) return holder;
    HeldDatagram& slot = taker->datagrams[position];
    slot.bytes.assign(data, data + size);
    slot.sender = sender;
    bytes_ += size;
    ++taker->present;
    trim_to_bounds(taker);
    return taker;
}

bool HeldPasses::hold_unannounced(const Mac& mac, const Digest& digest, const std::uint8_t* data, std::size_t size,
                                  const Ipv4& sender, std::uint32_t now) {
    for (const Unannounced& u : unannounced_)
        if (u.mac == mac && u.digest == digest) return false;
    Unannounced u;
    u.mac = mac;
    u.digest = digest;
    u.datagram.bytes.assign(data, data + size);
    u.datagram.sender = sender;
    u.arrived = now;
    bytes_ += size;
    unannounced_.push_back(std::move(u));
    return true;
}

void HeldPasses::trim_applied(std::uint32_t now) {
    for (auto it = applied_.begin(); it != applied_.end();) {
        auto& list = it->second;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const AppliedPass& a) { return now - a.applied >= applied_pass_seconds; }),
                   list.end());
        it = list.empty() ? applied_.erase(it) : std::next(it);
    }
}

std::size_t HeldPasses::applied(HeldPass& pass, std::uint32_t now) {
    const std::uint64_t key = mac_key(pass.manifest.mac);
    if (applied_.size() >= max_applied_passes && !applied_.count(key)) {
        trim_applied(now);
        if (applied_.size() >= max_applied_passes) applied_.erase(applied_.begin());
    }
    auto& list = applied_[key];
    if (list.size() >= max_applied_per_mac) list.erase(list.begin());
    list.push_back({pass.manifest.pass_id, pass.manifest.digests, now});
    const std::uint64_t order = pass.order;
    std::vector<PassRef> done;
    std::size_t older = 0;
    auto range = by_mac_.equal_range(key);
    for (auto it = range.first; it != range.second; ++it)
        if (it->second->order <= order) {
            done.push_back(it->second);
            older += it->second->order < order;
        }
    for (PassRef ref : done) erase(ref);
    return older;
}

bool HeldPasses::was_applied(const Mac& mac, const PassId& id, std::uint32_t now) const {
    auto found = applied_.find(mac_key(mac));
    if (found == applied_.end()) return false;
    for (const AppliedPass& a : found->second)
        if (a.id == id && now - a.applied < applied_pass_seconds) return true;
    return false;
}

bool HeldPasses::applied_digest(const Mac& mac, const Digest& digest, std::uint32_t now) const {
    auto found = applied_.find(mac_key(mac));
    if (found == applied_.end()) return false;
    for (const AppliedPass& a : found->second)
        if (now - a.applied < applied_pass_seconds &&
            std::find(a.digests.begin(), a.digests.end(), digest) != a.digests.end())
            return true;
    return false;
}

Expired HeldPasses::expire(std::uint32_t now) {
    Expired out;
    out.incomplete = overflowed_;
    overflowed_ = 0;
    while (!passes_.empty() && now - passes_.front().opened >= held_pass_seconds) {
        erase(passes_.begin());
        ++out.incomplete;
    }
    while (!unannounced_.empty() &&
           (now - unannounced_.front().arrived >= unannounced_seconds || unannounced_.size() > max_unannounced ||
            bytes_ > max_held_bytes)) {
        bytes_ -= unannounced_.front().datagram.bytes.size();
        out.unannounced.push_back(std::move(unannounced_.front()));
        unannounced_.pop_front();
    }
    return out;
}

}  // namespace tally
