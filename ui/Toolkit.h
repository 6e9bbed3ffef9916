// The portable core under every window: the event queue, the event-loop
// timers, the application loop and nested modal loops, and the hand-over of
// each event to its window's event handler.
//
// One instance per process (Get()). A platform backend is attached by the
// program or the test; with none attached every window operation fails
// cleanly (windows are not made, timers not set, loops return at once).
//
// Event flow: the backend pushes native events into the queue (Push) while a
// loop waits; a loop takes them one at a time and hands each to the event
// handler of the window it is for. Timers fire between events, whenever a
// loop or a pump runs; a tick that comes due while nothing runs is delivered
// at the next loop turn, once (missed ticks of a repeating timer are not
// queued up).
//
// Modal loops: while a modal loop runs, mouse events for windows outside the
// modal window's family (the window and those it opened) are dropped; a
// press there beeps and brings the modal window forward with the keyboard
// focus, and keys that reach a window outside the family (the desktop gave
// it the focus) go to the modal window, as a desktop's own dialogs keep
// theirs. Drawing, activation and disposal events go to every window, and
// every window's timers keep firing.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <deque>
#include <map>
#include <vector>

class CQNF_Window;

namespace qnui {

class Toolkit final : public plat::EventSink {
public:
    static Toolkit& Get();

    // Attaches a backend (kept by the caller) or, with null, detaches it.
    // Queued events, timers and windows of the previous backend are forgotten.
    void Attach(plat::Platform* platform);
    plat::Platform* P() const { return m_p; }

    // --- the queue ---------------------------------------------------------
    void Push(const plat::Event& e) override { m_queue.push_back(e); }
    // Moves what the backend has ready into the queue, without waiting.
    void Poll();
    // Whether an event of the kinds is queued; nothing is removed.
    bool Peek(uint32_t kinds) const;
    // Takes the oldest queued event of the kinds.
    bool Take(uint32_t kinds, plat::Event& out);
    void Flush(uint32_t kinds = plat::kAllKinds);
    size_t Queued() const { return m_queue.size(); }

    // --- windows -----------------------------------------------------------
    void Register(plat::WinId id, CQNF_Window* w);
    void Unregister(plat::WinId id);
    CQNF_Window* Find(plat::WinId id) const;
    // The ids of the windows registered now.
    std::vector<plat::WinId> WindowIds() const;

    // --- timers ------------------------------------------------------------
    using TimerRef = uint64_t;  // 0 = none
    // A repeating timer of the window, first due after ms.
    TimerRef AddTimer(CQNF_Window* w, uint32_t ms);
    void RemoveTimer(TimerRef t);
    bool HasTimer(TimerRef t) const { return m_timers.count(t) != 0; }
    size_t TimerCount() const { return m_timers.size(); }
    // Delivers every tick that is due now.
    void FireDueTimers();
    // Milliseconds to the next due timer, -1 without timers.
    int32_t MsToNextTimer() const;

    // --- loops -------------------------------------------------------------
    struct Frame {
        CQNF_Window* owner = nullptr;  // the window whose disposal ends the loop
        bool modal = false;
        bool quit = false;
    };
    // Runs until the frame is told to quit: timers, queued events, waiting.
    void RunLoop(Frame& frame);
    // Ends the modal loops run for this window (at once for the innermost;
    // outer ones end when control returns to them).
    void QuitModalLoopsOf(const CQNF_Window* w);
    // Ends the application loop owned by this window; false when there is none.
    bool QuitApplicationLoopOf(const CQNF_Window* w);
    // The window of the innermost running modal loop, or null.
    CQNF_Window* TopModal() const;
    size_t LoopDepth() const { return m_frames.size(); }

    // Hands one event to its window (after the modal rule).
    void Dispatch(const plat::Event& e);
    // Processes queued events, and waits for more, for ms of the backend's
    // clock; timers fire on the way. For tests and demos.
    void PumpFor(uint32_t ms);
    // Processes everything queued and due now.
    void PumpPending() { PumpFor(0); }

private:
    struct Timer {
        CQNF_Window* window;
        uint32_t interval;
        uint32_t due;
    };
    bool InputAllowed(const CQNF_Window* w) const;
    void ToFront(const CQNF_Window* w);

    plat::Platform* m_p = nullptr;
    std::deque<plat::Event> m_queue;
    std::map<plat::WinId, CQNF_Window*> m_windows;
    std::map<TimerRef, Timer> m_timers;
    TimerRef m_nextTimer = 1;
    std::vector<Frame*> m_frames;
};

}  // namespace qnui
