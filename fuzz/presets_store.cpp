// The presets store "ckss.data" on arbitrary bytes, and the presets list's
// commands steered by the same bytes. The reader's promise, as the shape
// file reader's: a store it takes is whole records, each safe to use and
// each a preset (a name, every value a number: RecordFault), that
// read back the same once written, and every store the list writes is one
// it takes; a store it refuses gives no record and
// is never written over; every cut of a store it takes, but at a record's
// end, is refused. The list's selection, first icon and store must stay
// consistent.
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
    bool failWrite = false;
    ReadResult Read(std::vector<uint8_t>& out) override
    {
        out = bytes;
        return ReadResult::Ok;
    }
    bool Write(const void* data, size_t size) override
    {
        if (failWrite)
            return false;
        bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        return true;
    }
};

void Check(const PM& model)
{
    for (const auto& r : model.Records()) {
        if (r.count > PM::kMaxNodes || r.name[PM::kNameSize - 1] != 0 || !PM::RecordFault(r).empty())
            __builtin_trap();
        for (uint32_t i = 0; i < r.count; ++i)
            if (!std::isfinite(r.U[i]) || !std::isfinite(r.H[i]) || !std::isfinite(r.S[i]))
                __builtin_trap();
    }
    if (model.GetCount() ? model.m_nFirst >= model.GetCount() : model.m_nFirst != 0)
        __builtin_trap();
    if (model.GetSelectedCount() > model.GetCount())
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    MemFile file;
    file.bytes.assign(data, data + size);
    PM model(&file);
    const bool sound = PM::StoreDamage(data, size).empty();
    if ((model.FillIn() == ShapeIoError::None) != sound)
        __builtin_trap();
    if (!sound) {
        // Refused whole: no record, and closing writes nothing.
        if (model.GetCount() != 0 || model.Close() != ShapeIoError::None || file.bytes.size() != size ||
            (size && std::memcmp(file.bytes.data(), data, size) != 0))
            __builtin_trap();
        return 0;
    }
    if (size % sizeof(PM::SHAPESETREC) != 0 || model.GetCount() != size / sizeof(PM::SHAPESETREC))
        __builtin_trap();
    Check(model);
    {
        // Written again, the records read back the same bytes.
        MemFile again;
        if (!PM::ShapeMng_Save(again, model.Records()) || again.bytes != file.bytes)
            __builtin_trap();
        // A cut the bytes choose: refused unless at a record's end.
        const size_t cut = size ? (size_t(data[0]) * 131 + data[size - 1]) % size : 0;
        const bool whole = cut % sizeof(PM::SHAPESETREC) == 0;
        if (PM::StoreDamage(data, cut).empty() != whole)
            __builtin_trap();
    }
    // Commands from the last bytes.
    const size_t steps = std::min<size_t>(size, 24);
    for (size_t k = 0; k < steps; ++k) {
        const uint8_t b = data[size - 1 - k];
        const uint32_t arg = b >> 3;
        switch (b & 7) {
        case 0:
            model.OnIconClick(arg % 9, b & 0x80);
            break;
        case 1:
            model.opSort();
            break;
        case 2:
            model.opDeleteShape();
            break;
        case 3:
            model.opRenameShape(int64_t(arg) - 1, "renamed shape");
            break;
        case 4:
            model.SetIconMode(arg & 1);
            model.OnScroll(arg);
            break;
        case 5: {
            CWnd_CutterModel::SPLINE_STRUCT shape;
            if (model.opToCutter(shape) && !qnShapeIsSound(shape))
                __builtin_trap();
            break;
        }
        case 6: {
            CQNF_Mem image;
            const ShapeIoError e = model.opSaveSet(image);
            std::vector<PM::SHAPESETREC> back;
            if (e == ShapeIoError::None &&
                (PM::ReadShapeSet(image.GetPtr(), image.GetSize(), back) != ShapeIoError::None ||
                 back.size() != model.GetSelectedCount()))
                __builtin_trap();
            break;
        }
        default:
            model.SetSelected(arg, true);
            model.DoRecalcFirstByList();
            break;
        }
        Check(model);
    }
    // Closing writes exactly the list when it changed; a failed write keeps
    // the old store.
    const std::vector<uint8_t> before = file.bytes;
    file.failWrite = size & 1;
    const ShapeIoError closed = model.Close();
    if (file.failWrite ? file.bytes != before : closed != ShapeIoError::None)
        __builtin_trap();
    if (!file.failWrite && file.bytes != before &&
        (file.bytes.size() != model.GetCount() * sizeof(PM::SHAPESETREC) ||
         !PM::StoreDamage(file.bytes.data(), file.bytes.size()).empty()))
        __builtin_trap();
    return 0;
}
