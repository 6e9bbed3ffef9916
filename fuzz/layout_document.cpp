// Layout documents as they come from disk: any bytes are either refused with
// the current layout kept, or taken; a taken layout writes a block that reads
// back to the same bytes, and that the engine's own reader accepts.
#include "app/Wnd_Main.h"
#include "engine/Tessolo.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class FuzzModel : public CWnd_Main {
public:
    FuzzModel()
    {
        SetImageSize(640, 480);
        SetRandomSource(&m_seeded);
    }
    CQNF_SeededRandom m_seeded{3};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    FuzzModel m;
    if (!m.settings_LoadDefaults())
        return 0;
    CQNF_Mem before;
    uint32_t beforeLength = 0;
    m.settings_SaveCurLayoutAndCellSettingsToMem(&before, beforeLength);

    std::string message;
    const bool taken = m.settings_LoadDocumentFromMem(data, uint32_t(size), message);
    CQNF_Mem after;
    uint32_t length = 0;
    if (!m.settings_SaveCurLayoutAndCellSettingsToMem(&after, length))
        std::abort();
    if (!taken) {
        if (length != beforeLength || std::memcmp(after.GetPtr(), before.GetPtr(), length) != 0)
            std::abort();
        return 0;
    }
    FuzzModel again;
    uint32_t count = 0;
    if (!again.settings_LoadCurLayoutAndCellSettingsFromMem(after.GetPtr(), length, nullptr, count, 0))
        std::abort();
    CQNF_Mem second;
    uint32_t secondLength = 0;
    again.settings_SaveCurLayoutAndCellSettingsToMem(&second, secondLength);
    if (secondLength != length || std::memcmp(second.GetPtr(), after.GetPtr(), length) != 0)
        std::abort();

    CTessolo engine;
    CQNF_Mem block(length);
    std::memcpy(block.GetPtr(), after.GetPtr(), length);
    uint8_t drawOnly = 0;
    uint32_t records = 0;
    CTessolo::SFX_ONEPIECE* list = nullptr;
    if (!engine.InitFromLastSettingsBinary(&block, drawOnly, records, &list))
        std::abort();
    return 0;
}
