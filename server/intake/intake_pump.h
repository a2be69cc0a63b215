// The intake pump: when the listening socket's datagrams are taken, in one
// round a notification while the server keeps up, or in rounds the window
// posts itself with the notifications off while a backlog drains (why:
// bench/STORM.md, "Draining a backlog"). The window gives the two switches
// of its notifications and posts the rounds the pump asks for.
#pragma once

#include <functional>

#include "server/intake/intake.h"

namespace tally {

// The socket's datagram notifications, as the window that receives them
// turns them off and on.
class IntakeNotifications {
public:
    virtual ~IntakeNotifications() = default;
    // Off while a backlog drains; false when they could not be turned off.
    virtual bool pause_notifications() = 0;
    // On again, with one look for a datagram that came while they were off.
    virtual void resume_notifications() = 0;
};

// What the window does after a round: nothing more, or post the next round.
enum class PumpNext { wait, post_round };

class IntakePump {
public:
    // `take_round` takes one round of waiting datagrams (Intake::take_waiting).
    IntakePump(IntakeNotifications& notifications, std::function<IntakeRound()> take_round)
        : notifications_(notifications), take_round_(std::move(take_round)) {}

    // The socket says a datagram waits. One posted before a drain began is
    // left to the drain.
    PumpNext notified();
    // A round the window posted itself. One posted for a socket since
    // closed or reopened is dropped.
    PumpNext round_posted(bool socket_open);
    // The window could not post the next round: back to notifications.
    void round_not_posted();
    // The socket was reopened: no drain is under way.
    void reset() { draining_ = false; }
    bool draining() const { return draining_; }

private:
    PumpNext take_round();
    void end_drain();

    IntakeNotifications& notifications_;
    std::function<IntakeRound()> take_round_;
    bool draining_ = false;  // rounds are posted, with the notifications off
};

}  // namespace tally
