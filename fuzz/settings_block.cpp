// Fuzz target: the layout settings block reader, then the knife lines and a
// small split of whatever layout it accepted.
#include "core/Mem.h"
#include "engine/Tessolo.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Effect sizes above this are cut to it (see below).
constexpr uint8_t kMaxReach = 6;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CTessolo engine;
    CQNF_Mem block;
    if (size > 0) {
        if (!block.alloc(size))
            return 0;
        std::memcpy(block.GetPtr(), data, size);
    }
    uint8_t drawOnly = 0;
    uint32_t count = 0;
    CTessolo::SFX_ONEPIECE* records = nullptr;
    if (!engine.InitFromLastSettingsBinary(&block, drawOnly, count, &records))
        return 0;
    // Every accepted record must be readable.
    volatile uint32_t sum = 0;
    for (uint32_t i = 0; i < count; ++i)
        sum = sum + records[i].row + records[i].bevel.depth;

    const long w = 40, h = 30;
    std::vector<uint8_t> plane(size_t(w) * h);
    engine.DrawSplitting(w, h, plane.data(), uint32_t(w), 0, 100);

    std::vector<uint8_t> grey(size_t(w) * h, 128);
    uint8_t* planes[1] = {grey.data()};
    engine.m_nColorMode = 0;
    if (engine.SplitCells(w, h, nullptr, 0, planes, uint32_t(w), 1, 0, 100, 0) && engine.m_nPieces > 0) {
        for (uint32_t i = 0; i < engine.m_nPieces && i < count; ++i) {
            // The effects' reach grows their work with its square (a 255
            // pixel stroke visits 200,000 pixels for each one it draws):
            // a small reach runs the same code at thousands of inputs a
            // second instead of a few dozen.
            CTessolo::SFX_ONEPIECE r = records[i];
            r.stroke.size = std::min<uint8_t>(r.stroke.size, kMaxReach);
            r.bevel.size = std::min<uint8_t>(r.bevel.size, kMaxReach);
            r.bevel.soften = std::min<uint8_t>(r.bevel.soften, kMaxReach);
            r.gaussianBlur.radius = std::min<uint8_t>(r.gaussianBlur.radius, kMaxReach);
            r.motionBlur.distance = std::min<uint8_t>(r.motionBlur.distance, kMaxReach);
            CTessolo::PutOnePieceRequested(r, engine.m_pPieces[i]);
        }
        engine.RenderPiece(0);
    }
    return 0;
}
