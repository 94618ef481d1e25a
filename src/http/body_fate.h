#pragma once
// Whether a request's body can still arrive whole at the service: the one question that
// the stop, the stall judgement, the window's teardown and the hand-over of the body's end
// (whole in the send's record, or as the writer's last piece) race for.
//
// Open    the body's end has not gone to WinINet; it may still be given up or committed.
// GivenUp the end never goes: the service gets a cut body, which it refuses (a stop, a
//         stall, a quit). Final for the client: a body given up stays so, and no later
//         request of the same client is sent.
// Committed the end has gone, or is going, to WinINet: the body may arrive whole whatever
//         the program does now, and only the service's answer says whether it was stored.
//
// Each change is one compare-and-swap from Open, so exactly one party decides; the other
// reads who won from the result and acts on that, never on what it read a moment before.
// Platform-free.

#include <atomic>
#include <cstdint>

class BodyFate {
  public:
    enum class State : std::uint8_t { Open, GivenUp, Committed };

    // Open -> GivenUp. True when the body is given up, now or before; false when it was
    // committed first. moved, if given, tells whether this call made the change.
    bool GiveUp(bool* moved = nullptr) { return Move(State::GivenUp, moved) == State::GivenUp; }
    // Open -> Committed, right before the end is handed to WinINet. True when committed,
    // now or before; false when it was given up first: the end must not go.
    bool Commit(bool* moved = nullptr) { return Move(State::Committed, moved) == State::Committed; }
    // The client's next body, once the last one was committed; a give-up stays.
    void Renew() {
        State committed = State::Committed;
        state_.compare_exchange_strong(committed, State::Open);
    }
    State Now() const { return state_.load(); }

  private:
    // The state after trying Open -> wanted: wanted when this call or an earlier one made
    // it so, the other end state when that came first.
    State Move(State wanted, bool* moved) {
        State open = State::Open;
        const bool changed = state_.compare_exchange_strong(open, wanted);
        if (moved != nullptr)
            *moved = changed;
        return changed ? wanted : open;
    }

    std::atomic<State> state_{State::Open};
};
