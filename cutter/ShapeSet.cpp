// Shape set files ".qntk": "Version", "Shape_%d" records and "TotalShapes".
#include "cutter/PresetsModel.h"

#include "core/Mem.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "core/Storage.h"
#include "core/String.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

using PM = CWnd_PresetsManagerModel;

namespace {

uint32_t GetLE32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

CQNF_String ShapeKey(uint32_t i)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "Shape_%u", unsigned(i));
    return CQNF_String(buf);
}

}  // namespace

std::vector<uint8_t> PM::EncodeSetRecord(const SHAPESETREC& rec)
{
    const uint32_t n = std::min<uint32_t>(rec.count, kMaxNodes);
    std::vector<uint8_t> out(kSetRecordHead + kSetNodeSize * n, 0);
    std::memcpy(out.data(), rec.name, kNameSize - 1);
    out[kNameSize - 1] = 0;
    PutLE32(out.data() + kNameSize, n);
    uint8_t* p = out.data() + kSetRecordHead;
    for (uint32_t i = 0; i < n; ++i, p += kSetNodeSize) {
        PutLE32(p, std::bit_cast<uint32_t>(rec.U[i]));
        PutLE32(p + 4, std::bit_cast<uint32_t>(rec.H[i]));
        PutLE32(p + 8, std::bit_cast<uint32_t>(rec.S[i]));
    }
    return out;
}

ShapeIoError PM::DecodeSetRecord(const uint8_t* data, size_t size, SHAPESETREC& rec)
{
    if (!data || size < kSetRecordHead)
        return ShapeIoError::BadFormat;
    const uint32_t n = GetLE32(data + kNameSize);
    if (n > kMaxNodes || size < kSetRecordHead + size_t(kSetNodeSize) * n)
        return ShapeIoError::BadFormat;
    SHAPESETREC read;
    std::memset(&read, 0, sizeof read);
    std::memcpy(read.name, data, kNameSize - 1);
    read.count = uint8_t(n);
    const uint8_t* p = data + kSetRecordHead;
    for (uint32_t i = 0; i < n; ++i, p += kSetNodeSize) {
        read.U[i] = std::bit_cast<float>(GetLE32(p));
        read.H[i] = std::bit_cast<float>(GetLE32(p + 4));
        read.S[i] = std::bit_cast<float>(GetLE32(p + 8));
    }
    // Only what the presets store takes: a set's shapes go there.
    if (!RecordFault(read).empty())
        return ShapeIoError::BadFormat;
    rec = read;
    return ShapeIoError::None;
}

ShapeIoError PM::ReadShapeSet(const uint8_t* data, size_t size, std::vector<SHAPESETREC>& records)
{
    if (!data || size == 0 || size > kMaxShapeSetFileSize)
        return ShapeIoError::BadFormat;
    CQNF_Storage st;
    if (!st.CheckMD5(data, size) || !st.Open(data, size))
        return ShapeIoError::BadFormat;
    CQNF_String version;
    uint32_t total = 0;
    if (!st.GetRec("Version", version) || version.Compare(kSetVersion) != 0 || !st.GetRec("TotalShapes", total))
        return ShapeIoError::Refused;
    // Every record takes at least its head: a larger count cannot be there.
    if (total > size / kSetRecordHead)
        return ShapeIoError::ReadFailed;
    std::vector<SHAPESETREC> read(total);
    for (uint32_t i = 0; i < total; ++i) {
        CQNF_Mem block;
        if (!st.GetRec(ShapeKey(i), block))
            return ShapeIoError::ReadFailed;
        const ShapeIoError e = DecodeSetRecord(block.GetPtr(), block.GetSize(), read[i]);
        if (e != ShapeIoError::None)
            return e;
    }
    records.swap(read);
    return ShapeIoError::None;
}

ShapeIoError PM::ShapeSetImage(const std::vector<const SHAPESETREC*>& records, CQNF_Mem& image,
                               const std::function<void(const char*)>& status)
{
    return qnBuildStorageImage(
        [&](CQNF_Storage& st) {
            if (!st.SetRecord("Version", CQNF_String(kSetVersion)))
                return ShapeIoError::WriteFailed;
            const uint32_t total = uint32_t(records.size());
            for (uint32_t i = 0; i < total; ++i) {
                if (status) {
                    char text[64];
                    std::snprintf(text, sizeof text, "Writing shape %u of %u", unsigned(i + 1), unsigned(total));
                    status(text);
                }
                const std::vector<uint8_t> rec = EncodeSetRecord(*records[i]);
                if (!st.SetRecord(ShapeKey(i), rec.data(), uint32_t(rec.size())))
                    return ShapeIoError::WriteFailed;
            }
            if (!st.SetRecord("TotalShapes", total))
                return ShapeIoError::WriteFailed;
            if (status)
                status("Writing complete");
            return ShapeIoError::None;
        },
        image);
}

ShapeIoError PM::opSaveSet(CQNF_Mem& image, const std::function<void(const char*)>& status) const
{
    std::vector<const SHAPESETREC*> chosen;
    for (size_t i = 0; i < m_Records.size(); ++i)
        if (m_Selected[i])
            chosen.push_back(&m_Records[i]);
    // Nothing selected: no set, and nothing to tell.
    if (chosen.empty())
        return ShapeIoError::Refused;
    return ShapeSetImage(chosen, image, status);
}

ShapeIoError PM::SaveSetFile(const std::string& path, const std::function<void(const char*)>& status) const
{
    CQNF_Mem image;
    const ShapeIoError e = opSaveSet(image, status);
    if (e != ShapeIoError::None)
        return e;
    return qnReplaceFile(path, image.GetPtr(), image.GetSize()) ? ShapeIoError::WriteFailed : ShapeIoError::None;
}

ShapeIoError PM::stSaveSetToFile(CQNF_StdFile* file, const std::function<void(const char*)>& status) const
{
    CQNF_Mem image;
    const ShapeIoError e = opSaveSet(image, status);
    return e != ShapeIoError::None ? e : qnWriteWholeFile(file, image);
}

ShapeIoError PM::sub_opLoadSetFromMemBlock(const uint8_t* data, size_t size, bool replace)
{
    std::vector<SHAPESETREC> shapes;
    const ShapeIoError e = ReadShapeSet(data, size, shapes);
    if (e != ShapeIoError::None)
        return e;
    if (shapes.empty())
        return ShapeIoError::None;
    if (!m_pFile)
        return ShapeIoError::UpdateFailed;
    // Appending to presets that could not be read would write over them.
    if (!replace && !m_bLoaded)
        return ShapeIoError::ReadFailed;
    std::vector<SHAPESETREC> combined;
    if (!replace)
        combined = m_Records;
    combined.insert(combined.end(), shapes.begin(), shapes.end());
    // The presets change only once the file holds them.
    if (!ShapeMng_Save(*m_pFile, combined))
        return ShapeIoError::UpdateFailed;
    m_bLoaded = 1;
    m_bChanged = 0;
    i_SetRecords(std::move(combined));
    return ShapeIoError::None;
}

ShapeIoError PM::opLoadSet(CQNF_StdFile* file, bool replace)
{
    CQNF_Mem block;
    const ShapeIoError e = qnReadWholeFile(file, kMaxShapeSetFileSize, block);
    if (e == ShapeIoError::EmptyFile)
        return ShapeIoError::BadFormat;
    if (e != ShapeIoError::None)
        return e;
    return sub_opLoadSetFromMemBlock(block.GetPtr(), block.GetSize(), replace);
}

ShapeIoError PM::LoadSetFile(const std::string& path, bool replace)
{
    CQNF_StdFile file;
    if (!file.Open(CQNF_String(path.c_str()), 1))
        return ShapeIoError::ReadFailed;
    return opLoadSet(&file, replace);
}
