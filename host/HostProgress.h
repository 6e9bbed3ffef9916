// CHostProgress: the engine's progress shown in the host's progress bar, with
// the host's abort test as the cancel. Its user data is the plug-in object
// (CQNF_8BFPluginVirtual), set with SetUserDataPtr before use.
#pragma once

#include "core/Progress.h"

class CHostProgress : public CQNF_Progress {
public:
    CHostProgress() = default;
    ~CHostProgress() override = default;

    // Every report reaches the host, repeats included.
    void Progress(uint8_t percent, void* data) override;
    // The host's abort test; false when the host has none.
    bool IsCanceled() override;
    // Whether the abort test said yes since the last Restart: a failure then
    // was the user's cancel, not a lack of memory.
    bool WasCanceled() const { return m_canceled; }
    void Restart() { m_canceled = false; }

private:
    bool m_canceled = false;
};
