// CCutterProgress: the engine's progress while the knife editor cuts the
// image into pieces, shown in the editor's progress bar, with the editor's
// abort button as the cancel.
//
// Its user data is the knife editor, seen through CCutterProgressTarget (set
// with SetEditor before use). The bar moves only in steps of 5 percent; the
// cancel query first lets pending events through, so that the windows repaint
// and a click on the abort button (or Esc) reaches the editor.
//
// Header only: the editor links it without the rest of the host adapter.
#pragma once

#include "core/Progress.h"

#include <cstdint>

class CCutterProgressTarget {
public:
    virtual ~CCutterProgressTarget() = default;
    // Sets the value of the editor's progress bar.
    virtual void CutterProgress_SetBar(uint8_t percent) = 0;
    // Pending timer and window events of every window, then every event of
    // the editor itself.
    virtual void CutterProgress_PumpEvents() = 0;
    // True once the user asked to abort the Cut.
    virtual bool CutterProgress_AbortRequested() const = 0;
};

class CCutterProgress : public CQNF_Progress {
public:
    CCutterProgress() = default;
    ~CCutterProgress() override = default;

    void SetEditor(CCutterProgressTarget* editor) { SetUserDataPtr(editor); }

    void Progress(uint8_t percent, void* /*data*/) override
    {
        if (percent == m_lastPercent)
            return;
        m_lastPercent = percent;
        if (percent % 5 == 0 && Editor())
            Editor()->CutterProgress_SetBar(percent);
    }

    bool IsCanceled() override
    {
        CCutterProgressTarget* editor = Editor();
        if (!editor)
            return false;
        editor->CutterProgress_PumpEvents();
        return editor->CutterProgress_AbortRequested();
    }

private:
    CCutterProgressTarget* Editor() const { return static_cast<CCutterProgressTarget*>(GetUserDataPtr()); }
};
