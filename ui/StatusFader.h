// The status line's fade, one for every window that has a status line (the
// main window, the dialogs, the knife editor's dialogs, the effect windows
// and the lists of channels and layers).
//
// A new text fades the shown one out (65 of opacity per tick), is then shown
// and fades in (40 per tick) up to 255. A text equal to the pending one
// changes nothing, so a tip asked for again does not flicker.
//
// The fade itself is a plain state machine (Request, Tick), which a window
// may drive and draw as it likes; TickLine applies a tick to a static text,
// and Start/OnTimer/Stop(window) run it on the window's timer kTimer.
#pragma once

#include <cstdint>
#include <string>

class CQNF_CtrlStaticText;
class CQNF_Window;

class CStatusFader {
public:
    enum State : uint8_t { Idle = 0, FadingIn = 1, FadingOut = 2 };
    static constexpr unsigned short kTimer = 1;
    static constexpr uint32_t kTickMs = 30;

    // False when text is already the pending one.
    bool Request(const char* text);
    bool Request(const std::string& text) { return Request(text.c_str()); }
    // One 30-ms tick from the line's opacity: the next opacity; showText is
    // set on the tick at which the pending text is to be put on the line.
    uint8_t Tick(uint8_t opacity, bool& showText);
    // A progress text is shown at once and never faded.
    void Stop() { m_state = Idle; }
    // Shows a text at once, as the pending one (the first text of a window).
    void Show(const char* text)
    {
        m_pending = text ? text : "";
        m_state = Idle;
    }
    // Fades the progress text out and brings the pending text back.
    void Restart() { m_state = FadingOut; }
    const std::string& Pending() const { return m_pending; }
    State GetState() const { return m_state; }

    // One tick on a status line: the pending text goes on it when it is
    // faded out, else its opacity moves (and the line redraws itself).
    // False when there was nothing to do.
    bool TickLine(CQNF_CtrlStaticText& line);

    // A dialog's line, faded on the window's timer kTimer every kTickMs.
    void Start(CQNF_Window& w, CQNF_CtrlStaticText* line);
    // Stops the timer (the dialog is closing).
    void Stop(CQNF_Window& w);
    // Timer kTimer ticks the line; false for other timers.
    bool OnTimer(unsigned short id);

private:
    std::string m_pending;
    State m_state = Idle;
    CQNF_CtrlStaticText* m_pLine = nullptr;
    bool m_bTimer = false;
};
