#pragma once

#include <memory>
#include <mutex>
#include <utility>

// Keeps calls from a signal emitted on another thread out of an object that is going away.
// A signals2 disconnect() stops later emissions from calling the slot but does not wait for a
// call already running, so a slot that captures `this` can still be inside the object while its
// destructor runs. Slots wrapped by Guard() run under the guard's lock, and Close() takes that
// lock: once Close() has returned, no wrapped call is running and none will run again.
//
// Threads: wrapped calls may run on any thread and run one at a time (a wrapped call may start
// another on the same thread). Close() may be called from any thread, also more than once; the
// owner calls it (or destroys the guard) before anything the slots use is destroyed. Close()
// from inside a wrapped call closes the guard without waiting for that call to end.
class SlotGuard
{
public:
    SlotGuard();
    ~SlotGuard();
    SlotGuard(const SlotGuard&) = delete;
    SlotGuard& operator=(const SlotGuard&) = delete;

    // A callable that runs function with the same arguments while the guard is open and does
    // nothing once it is closed. It holds the guard's state, not the guard, so it may outlive it.
    template <typename F> auto Guard(F function) const
    {
        return [state = m_state, function = std::move(function)](auto&&... args) {
            std::lock_guard<std::recursive_mutex> lock(state->mutex);
            if (state->open)
                function(std::forward<decltype(args)>(args)...);
        };
    }

    void Close();

private:
    struct State
    {
        std::recursive_mutex mutex;
        bool open = true;
    };
    std::shared_ptr<State> m_state;
};
