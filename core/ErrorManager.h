// Per-object error numbers and the common base of the framework classes.
//
// Operations report success as a boolean (or a -1 / null sentinel) and leave
// the reason in the object's 16-bit error number. The number is a diagnostic
// for callers and tests; it is never shown to the user.
#pragma once

#include <cstdint>

class CQNF_ErrorManager {
public:
    CQNF_ErrorManager() = default;
    CQNF_ErrorManager(const CQNF_ErrorManager&) = default;
    CQNF_ErrorManager& operator=(const CQNF_ErrorManager&) = default;
    virtual ~CQNF_ErrorManager() = default;

    void SetError(unsigned short error) { m_error = error; }
    unsigned short GetError() const { return m_error; }
    bool IsError() const { return m_error != 0; }
    void ResetError() { m_error = 0; }

private:
    uint16_t m_error = 0;
};

class CQNF_FrameWork : public CQNF_ErrorManager {
public:
    CQNF_FrameWork() = default;
    CQNF_FrameWork(const CQNF_FrameWork&) = default;
    CQNF_FrameWork& operator=(const CQNF_FrameWork&) = default;
    ~CQNF_FrameWork() override = default;
};

// Error numbers of the core; other subsystems add theirs beside their code.
namespace qnerr {
inline constexpr unsigned short BadArgument = 1;
inline constexpr unsigned short Empty = 2;
inline constexpr unsigned short NoMemory = 17;
inline constexpr unsigned short FileNotOpened = 32;
inline constexpr unsigned short FileWrite = 33;
inline constexpr unsigned short FileRead = 34;
inline constexpr unsigned short FileAccess = 35;
inline constexpr unsigned short FileSeek = 36;
inline constexpr unsigned short FileClosed = 37;
inline constexpr unsigned short ImageUnsupported = 48;
inline constexpr unsigned short ImageCorrupt = 49;
}  // namespace qnerr
