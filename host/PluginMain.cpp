// About, Start and its replay road, and the window positions.
#include "host/PluginMain.h"

#include "core/Storage.h"

CPluginMain::CPluginMain() : m_Services(this)
{
    m_HostProgress.SetUserDataPtr(this);
}

CPluginMain::~CPluginMain() = default;

void CPluginMain::DoAbout()
{
    if (m_pInteractive) {
        m_pInteractive->RunAbout(*this);
        return;
    }
    HostSetRetCode_Cancel();
}

void CPluginMain::DoFinish()
{
    CQNF_8BFPluginVirtual::DoFinish();
}

void CPluginMain::DoStart()
{
    // The engine works in the document's mode and reads layers through us.
    const FilterRecord* r = m_pRecord;
    m_Engine.m_nColorMode = m_Data.colorMode;
    m_Engine.m_pHost = &m_Services;
    m_Engine.m_bLayerAccess = r && r->sSPBasic && r->sSPBasic->AcquireSuite && r->documentInfo &&
                                      r->documentInfo->version >= 2 && r->documentInfo->layersDescriptor
                                  ? 1
                                  : 0;
    // No dialog is asked for until the scripting descriptor says so.
    Scripting_SetMustShowUI(0);
    // Without a configuration every value keeps its default.
    ConfStorage_Open("plugin.conf");
    // Interactive run, or replay from the descriptor or "last.data".
    if (m_bDialogWanted) {
        if (m_pInteractive)
            m_pInteractive->RunStart(*this);
        else
            HostSetRetCode_Cancel();
    } else {
        i_ReplayRoad();
    }
    // Nothing of a run is kept inside the host between runs.
    m_Engine.FreeSpliting();
    m_memAlpha.free();
    m_pAlpha = nullptr;
}

void CPluginMain::i_ReplayRoad()
{
    HostSetRetCode_Cancel();
    CQNF_Mem block;
    uint8_t showDialog = 0;
    const bool recorded = ReadEncryptedScriptParameter_V2(&block, showDialog);
    if (!recorded) {
        // Settings the host recorded but that no longer read are damaged:
        // replaying other settings in their place would pass in silence.
        if (HasScriptParameters()) {
            HostSetRetCode_BadParam();
            return;
        }
        if (!ConfFile_Read(&block, "last.data")) {
            // Only a file that is not there is no settings; one that is
            // there but cannot be read whole (far larger than any block) is
            // damaged, and a lack of memory is just that.
            if (GetError() == qnerr::NoMemory)
                HostSetRetCode_MemFull();
            else if (GetError() != qnerr::FileNotOpened)
                HostSetRetCode_BadParam();
            return;
        }
    }
    uint8_t drawOnly = 0;
    uint32_t count = 0;
    CTessolo::SFX_ONEPIECE* records = nullptr;
    // Settings that are there but do not read are damaged, wherever they
    // were kept: no settings at all is the only reason to find none.
    if (block.GetSize() > 0 && !m_Engine.InitFromLastSettingsBinary(&block, drawOnly, count, &records)) {
        HostSetRetCode_BadParam();
        return;
    }
    ResetError();
    bool ok = block.GetSize() > 0 && PrepareCompositeAlpha(drawOnly ? 0 : 1);
    if (ok)
        ok = drawOnly ? Apply_DrawSpliting() : Apply_SplittingNoUI(count, records);
    if (ok) {
        HostSetRetCode_NoError();
        return;
    }
    // A failing pixel transfer leaves its own code, and so does the plane
    // block that could not be had. A lack of memory the engine or the
    // plug-in met on the way is told as one, not as a cancel; anything else
    // (the host's cancel, more pieces than a cut makes, which the engine
    // has shown) cancels.
    const int16_t code = HostGetRetCode();
    if (code == filterBadParameters || code == memFullErr)
        return;
    if (!m_HostProgress.WasCanceled() &&
        (m_Engine.LastSplitFailure() == CTessolo::SplitFailure::NoMemory || GetError() == qnerr::NoMemory))
        HostSetRetCode_MemFull();
    else
        HostSetRetCode_Cancel();
}

const uint8_t* CPluginMain::GetCompositeAlpha(int32_t& width, int32_t& height) const
{
    width = m_nAlphaWidth;
    height = m_nAlphaHeight;
    return m_pAlpha;
}

namespace {

// "Windows Positions>NAME>OWNER>" with both names trimmed, "--" when empty,
// and upper-cased.
CQNF_String WindowKeyPrefix(const char* name, const char* owner, CQNF_String* folders)
{
    CQNF_String parts[2] = {CQNF_String(name), CQNF_String(owner)};
    for (CQNF_String& p : parts) {
        p.TrimBoth();
        if (p.GetLength() == 0)
            p = "--";
        p.MakeUpper();
    }
    CQNF_String key("Windows Positions");
    if (folders)
        folders[0] = key;
    key += ">";
    key += parts[0];
    if (folders)
        folders[1] = key;
    key += ">";
    key += parts[1];
    if (folders)
        folders[2] = key;
    key += ">";
    return key;
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi)
{
    return v < lo ? lo : v > hi ? hi : v;
}

}  // namespace

qntPOS CPluginMain::WindowPosFromConf(const char* name, const char* owner, qntSIZE_s, uint8_t)
{
    const qntPOS centred{-32000, -32000};
    CQNF_Storage* st = ConfStorage_GetStorage();
    if (!st)
        return centred;
    const CQNF_String prefix = WindowKeyPrefix(name, owner, nullptr);
    CQNF_String left = prefix;
    left += "Left";
    CQNF_String top = prefix;
    top += "Top";
    uint32_t x = 0, y = 0;
    if (!st->GetRec(left, x) || !st->GetRec(top, y))
        return centred;
    return qntPOS{Clamp(static_cast<int32_t>(x), -100, 7000), Clamp(static_cast<int32_t>(y), -10, 6000)};
}

void CPluginMain::PutWindowPosToConf(const char* name, const char* owner, qntPOS position)
{
    CQNF_Storage* st = ConfStorage_GetStorage();
    if (!st)
        return;
    CQNF_String folders[3];
    const CQNF_String prefix = WindowKeyPrefix(name, owner, folders);
    // One locked update: another host's run changing the file at the same
    // time keeps its keys, and the file is written once.
    st->BeginUpdate();
    // Adding a folder that exists already is harmless.
    for (const CQNF_String& f : folders)
        st->AddFolder(f);
    CQNF_String left = prefix;
    left += "Left";
    CQNF_String top = prefix;
    top += "Top";
    st->SetRecord(left, static_cast<uint32_t>(position.x));
    st->SetRecord(top, static_cast<uint32_t>(position.y));
    st->EndUpdate();
}
