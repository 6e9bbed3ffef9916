// Private to the engine: what the stages of one split share (SplitCells.cpp,
// SplitRegions.cpp).
#pragma once

#include "engine/SplitCentres.h"
#include "engine/SplitRaster.h"
#include "engine/Tessolo.h"

#include <cstdint>
#include <vector>

// The caller's planes and selection, the test and output rasters, and the
// fill context over them.
struct CTessolo::SplitJob {
    int32_t w = 0, h = 0;
    uint8_t* selection = nullptr;
    uint32_t selectionStride = 0;
    uint8_t** channels = nullptr;
    uint32_t channelStride = 0;
    uint8_t channelCount = 0;
    uint8_t from = 0, to = 100;
    bool bits = false;  // smooth cut: the knives drawn as 4 x 4 sub-pixel bits
    unsigned threads = 1;
    std::vector<qntFPOS> centres;
    std::vector<qntPOS> cells;
    CentreIndex centreIndex;
    FILLCONTEXT ctx{};
    tessolo_split::SeedStack stack;  // the flood fill's, kept from region to region
    uint64_t lent = 0;               // bytes of the rasters lent by the planes' arena

    // Nested steps report inside this call's own range.
    uint8_t Inner(double p) const { return uint8_t(from + (to - from) * p / 100.0); }
    tessolo_split::BitRaster Bits() const
    {
        return tessolo_split::BitRaster{ctx.test, ctx.rowBytes, ctx.width, ctx.height};
    }
    tessolo_split::ByteRaster Bytes() const { return tessolo_split::ByteRaster{ctx.test, uint32_t(w), w, h}; }
};
