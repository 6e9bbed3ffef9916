// Progress reporting and cancellation for long operations.
//
// A worker reports 0..100 through Progress() and polls IsCanceled(); it never
// knows who listens. CQNF_SubProgress lets one step of a larger operation
// report its own 0..100 while its master shows only a slice of its range.
#pragma once

#include "core/ErrorManager.h"

#include <cstdint>

class CQNF_Progress : public CQNF_FrameWork {
public:
    CQNF_Progress() = default;
    ~CQNF_Progress() override = default;

    // The base listens to nothing. data is the caller's and passed through.
    virtual void Progress(uint8_t percent, void* data);
    virtual void Cancel();
    virtual bool IsCanceled();

    void Reset() { m_canceled = 0; }
    bool GetCancelState() const { return m_canceled != 0; }
    void SetUserDataPtr(void* data) { m_userData = data; }
    void* GetUserDataPtr() const { return m_userData; }

protected:
    void* m_userData = nullptr;
    // The last percentage a derived listener showed, to skip repeats. It
    // starts at a value no report can have, so the first report always shows.
    uint8_t m_lastPercent = 0xFF;
    uint8_t m_canceled = 0;
};

class CQNF_SubProgress : public CQNF_Progress {
public:
    CQNF_SubProgress() = default;
    ~CQNF_SubProgress() override = default;

    // Maps this progress's 0..100 onto from..to of master (not owned); both
    // bounds are clamped to 0..100. A null master detaches.
    void SetMasterProgress(CQNF_Progress* master, uint8_t from, uint8_t to);
    CQNF_Progress* GetMasterProgress() const { return m_master; }

    // Sends from + (to - from) * percent / 100, truncated and kept in
    // 0..100, to the master; nothing without a master.
    void Progress(uint8_t percent, void* data) override;
    // The master's answer; false without a master. Cancel() on a sub-progress
    // is visible only through GetCancelState().
    bool IsCanceled() override;

private:
    double m_from = 0.0;
    double m_to = 0.0;
    CQNF_Progress* m_master = nullptr;
};
