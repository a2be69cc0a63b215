// The intake pump's rounds, drains and the way back to notifications.
#include "server/intake/intake_pump.h"

namespace tally {

PumpNext IntakePump::notified() { return draining_ ? PumpNext::wait : take_round(); }

PumpNext IntakePump::round_posted(bool socket_open) {
    return draining_ && socket_open ? take_round() : PumpNext::wait;
}

void IntakePump::round_not_posted() {
    if (draining_) end_drain();
}

PumpNext IntakePump::take_round() {
    const IntakeRound round = take_round_();
    if (round.backlog) {
        if (!draining_) draining_ = notifications_.pause_notifications();
        if (draining_) return PumpNext::post_round;
    }
    // The socket is empty: back to notifications once a drain ends.
    if (draining_) end_drain();
    return PumpNext::wait;
}

void IntakePump::end_drain() {
    draining_ = false;
    notifications_.resume_notifications();
}

}  // namespace tally
