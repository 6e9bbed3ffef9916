// Documents (".qntd": "QNTS30" and a version-3 settings block; "QNTS20" and
// a version-2 block are still read) and the last settings ("last.data" and
// the host's scripting descriptor).
#include "app/MainModel.h"

#include "core/SafeFile.h"
#include "core/StdFile.h"

#include <cstring>

namespace {

const char* const kMsgWrite = "Cannot write file...";

}  // namespace

bool CWnd_MainModel::DoCutterWindow()
{
    m_bCutMode = 1;
    uncm_Empty();
    return true;
}

bool CWnd_MainModel::settings_SaveDocument(const char* path, std::string& message)
{
    message.clear();
    if (!path || !*path) {
        message = kMsgWrite;
        return false;
    }
    CQNF_Mem block;
    uint32_t length = 0;
    if (!settings_SaveCurLayoutAndCellSettingsToMem(&block, length)) {
        message = kMsgMemory;
        return false;
    }
    // The old document is replaced only by a complete new one.
    CQNF_SafeFile file;
    const bool ok = file.Open(path) && file.File().Write(kDocumentMagic, 6) == 6 &&
                    (length == 0 || file.File().Write(block.GetPtr(), length) == int64_t(length)) && file.Commit();
    if (!ok) {
        message = kMsgWrite;
        ShowMessageBox(kMsgWrite, "Error!");
    }
    return ok;
}

bool CWnd_MainModel::settings_LoadDocument(const char* path, std::string& message)
{
    message.clear();
    CQNF_StdFile file;
    if (!path || !file.Open(CQNF_String(path), 1)) {
        message = kMsgRead;
        return false;
    }
    const int64_t length = file.GetLength();
    if (length < 0) {
        message = kMsgRead;
        return false;
    }
    if (length <= 9) {
        message = kMsgUnknown;
        ShowMessageBox(kMsgUnknown, "Error!");
        return false;
    }
    // Larger than any layout can be: not one, and never read whole.
    if (uint64_t(length) > kMaxDocumentBytes) {
        message = kMsgUnknown;
        ShowMessageBox(kMsgUnknown, "Error!");
        return false;
    }
    CQNF_Mem bytes;
    if (!bytes.alloc(uint64_t(length))) {
        message = kMsgMemory;
        ShowMessageBox(kMsgMemory, "Error!");
        return false;
    }
    if (file.Read(bytes.GetPtr(), uint32_t(length)) != length) {
        message = kMsgRead;
        ShowMessageBox(kMsgRead, "Error!");
        return false;
    }
    file.Close();
    return settings_LoadDocumentFromMem(bytes.GetPtr(), uint32_t(length), message);
}

bool CWnd_MainModel::settings_LoadDocumentFromMem(const uint8_t* data, uint32_t size, std::string& message)
{
    message.clear();
    auto refuse = [&](const char* text) {
        message = text;
        ShowMessageBox(text, "Error!");
        return false;
    };
    if (!data || size <= 9)
        return refuse(kMsgUnknown);
    uint8_t version;
    if (std::memcmp(data, kDocumentMagic, 6) == 0)
        version = 3;
    else if (std::memcmp(data, kDocumentMagicV2, 6) == 0)
        version = 2;
    else
        return refuse(kMsgUnknown);
    const uint8_t* body = data + 6;
    const uint32_t bodySize = size - 6;
    // A damaged document is refused, never taken as the default layout: the
    // layout the user has stays, and no undo step is made for nothing.
    if (!settings_CheckBlock(body, bodySize, version)) {
        m_nModelError = qnerr::LayoutBlockDamaged;
        return refuse(kMsgUnknown);
    }

    if (!m_bCutMode && !DoCutterWindow())
        return false;
    uncm_SaveState(CMUNDO_LAYOUT, CMSUB_NEWLAYOUT);

    const uint8_t* records = nullptr;
    uint32_t count = 0;
    const bool read = version == 3
                          ? settings_LoadCurLayoutAndCellSettingsFromMem(body, bodySize, &records, count, 1)
                          : settings_LoadCurLayoutAndCellSettingsFromMem_old_v2(body, bodySize, &records, count, 1);
    if (!read)
        return refuse(kMsgRead);
    i_UpdateCutterAfterLoad();

    m_nDocumentRecords = 0;
    if (records && count) {
        if (!m_DocumentRecords.alloc(uint64_t(count) * kPieceRecordSize)) {
            localClose();
            message = kMsgMemory;
            return false;
        }
        std::memcpy(m_DocumentRecords.GetPtr(), records, size_t(count) * kPieceRecordSize);
        m_nDocumentRecords = count;
    }
    return true;
}

bool CWnd_MainModel::settings_SaveCurLayoutAndCellSettings(std::string* descriptorRefusal)
{
    if (descriptorRefusal)
        descriptorRefusal->clear();
    CQNF_Mem block;
    uint32_t length = 0;
    if (!settings_SaveCurLayoutAndCellSettingsToMem(&block, length) || !m_pLastStore)
        return false;
    if (!m_pLastStore->WriteDescriptor(block.GetPtr(), length) && descriptorRefusal)
        *descriptorRefusal = m_pLastStore->DescriptorRefusal();
    return m_pLastStore->ConfFile_Write(block.GetPtr(), length, kLastSettingsName);
}

bool CWnd_MainModel::settings_LoadCurLayoutAndCellSettings()
{
    CQNF_Mem block;
    if (!m_pLastStore ||
        (!m_pLastStore->ReadDescriptor(&block) && !m_pLastStore->ConfFile_Read(&block, kLastSettingsName)))
        return settings_LoadDefaults();
    if (block.GetSize() == 0 || !block.GetPtr())
        return settings_LoadDefaults();
    const uint8_t* records = nullptr;
    uint32_t count = 0;
    const bool read = settings_LoadCurLayoutAndCellSettingsFromMem(block.GetPtr(), block.GetSize(), &records, count, 0);
    m_nLoadedRecords = 0;
    if (read && records && count) {
        if (!m_LoadedRecords.alloc(uint64_t(count) * kPieceRecordSize)) {
            localClose();
            return false;
        }
        std::memcpy(m_LoadedRecords.GetPtr(), records, size_t(count) * kPieceRecordSize);
        m_nLoadedRecords = count;
    }
    return read;
}
