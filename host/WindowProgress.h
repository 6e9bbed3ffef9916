// The engine's progress shown in the plug-in's own windows.
//
// CCutterProgress (host/CutterProgress.h) drives the knife editor's progress
// bar while it cuts the image into pieces; CMainProgress writes
// a text and a percentage into the main window's status line while pieces
// are re-rendered. Each keeps its window in the user data pointer (set with
// SetUserDataPtr before use), reached through the small interfaces below so
// the adapters need nothing of the window classes.
#pragma once

#include "core/Progress.h"
#include "host/CutterProgress.h"  // the knife editor's
#include "core/String.h"

#include <cstdint>

// What the main window offers its progress.
class CMainProgressTarget {
public:
    virtual ~CMainProgressTarget() = default;
    virtual void UpdateStatusProgress(const char* text, uint8_t percent) = 0;
    // Pending timer and window events of every window.
    virtual void ProcessPendingEvents() = 0;
    // True when the user asked to stop (Esc waiting in the queue); only an
    // operation that can stop cleanly asks.
    virtual bool StopRequested() { return false; }
    // The operation ended: the status line brings back its tip.
    virtual void EndStatusProgress() {}
};

class CMainProgress : public CQNF_Progress {
public:
    // The text shown before the percentage; set before each operation.
    CQNF_String m_Text;

    void Progress(uint8_t percent, void* data) override;
    // A re-render in the main window cannot be cancelled: always false.
    bool IsCanceled() override;
};
