// The shape set reader on arbitrary bytes, as the presets manager's Append
// and Replace use it: accepted shapes must be safe to draw and to write, the
// presets must change only on success, and the set must survive the writer
// and the reader again unchanged.
#include "cutter/PresetsModel.h"

#include "core/Mem.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using PM = CWnd_PresetsManagerModel;

class MemFile : public CQNF_PresetsFile {
public:
    std::vector<uint8_t> bytes;
    int writes = 0;
    ReadResult Read(std::vector<uint8_t>& out) override
    {
        out = bytes;
        return ReadResult::Ok;
    }
    bool Write(const void* data, size_t size) override
    {
        ++writes;
        bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        return true;
    }
};

void CheckRecord(const PM::SHAPESETREC& r)
{
    if (r.count > PM::kMaxNodes || r.name[PM::kNameSize - 1] != 0)
        __builtin_trap();
    for (uint32_t i = 0; i < r.count; ++i)
        if (!std::isfinite(r.U[i]) || !std::isfinite(r.H[i]) || !std::isfinite(r.S[i]))
            __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<PM::SHAPESETREC> recs;
    const ShapeIoError e = PM::ReadShapeSet(data, size, recs);

    MemFile file;
    file.bytes.assign(sizeof(PM::SHAPESETREC), 0);
    std::memcpy(file.bytes.data(), "mine", 5);
    PM model(&file);
    model.FillIn();
    const bool replace = size && (data[size - 1] & 1);
    if (model.sub_opLoadSetFromMemBlock(data, size, replace) != e)
        __builtin_trap();
    if (e != ShapeIoError::None || recs.empty()) {
        if (file.writes != 0 || model.GetCount() != 1 || std::strcmp(model.Records()[0].name, "mine") != 0)
            __builtin_trap();
        return 0;
    }
    if (model.GetCount() != recs.size() + (replace ? 0 : 1))
        __builtin_trap();
    std::vector<const PM::SHAPESETREC*> ptrs;
    for (const auto& r : recs) {
        CheckRecord(r);
        ptrs.push_back(&r);
    }
    if (recs.size() > 200)
        return 0;
    CQNF_Mem image;
    std::vector<PM::SHAPESETREC> again;
    if (PM::ShapeSetImage(ptrs, image) != ShapeIoError::None ||
        PM::ReadShapeSet(image.GetPtr(), image.GetSize(), again) != ShapeIoError::None || again.size() != recs.size())
        __builtin_trap();
    for (size_t i = 0; i < recs.size(); ++i) {
        if (std::memcmp(again[i].name, recs[i].name, sizeof recs[i].name) != 0 || again[i].count != recs[i].count)
            __builtin_trap();
        const size_t n = recs[i].count * sizeof(float);
        if (std::memcmp(again[i].U, recs[i].U, n) || std::memcmp(again[i].H, recs[i].H, n) ||
            std::memcmp(again[i].S, recs[i].S, n))
            __builtin_trap();
    }
    return 0;
}
