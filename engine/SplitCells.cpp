// The split, stage by stage: the cell centres, the test raster of the knives,
// hole closing, the lines-mode piece, one flood fill per free region, and the
// work planes sized for the largest piece. Each stage reports progress in its
// own share of the caller's range and stops on cancel.
#include "engine/SplitCentres.h"
#include "engine/SplitRaster.h"
#include "engine/Tessolo.h"
#include "imaging/Div255.h"
#include "imaging/Parallel.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

using namespace tessolo_split;

namespace {

// One region of the smooth cut, filled on the split's thread and made into
// coverage on any thread. The smooth rule reads, beside each span, the test
// raster as the sequential fill leaves it at that moment: the knives, every
// earlier region, and this region's spans so far; later regions not yet.
// So the region keeps its spans in fill order and a copy of the raster
// around them taken right after its fill with its own spans cleared again,
// and replays the spans on that copy into coverage of its own: the same
// bytes as the sequential fill, whatever thread does it.
struct RegionRecord {
    struct Span {
        int32_t x, y;
        uint32_t length;
    };
    std::vector<Span> spans;  // image sub-pixels, in fill order
    // The copy's place: sub-pixel column x0 (a whole byte) and row y0 (a
    // whole output row), and what the replay sees as the raster's size.
    int32_t x0 = 0, y0 = 0, width = 0, height = 0;
    uint32_t rowBytes = 0;
    std::vector<uint8_t> bits;
    // The coverage: output pixels from (x0 / 4, y0 / 4), and the region's
    // box in them.
    std::vector<uint8_t> out;
    int32_t outWidth = 0, outHeight = 0;
    qntRECT_s box{};

    uint64_t Bytes() const { return bits.size() + out.size() + spans.size() * sizeof(Span); }
};

}  // namespace

// What the stages of one split share: the caller's planes and selection, the
// test and output rasters, and the fill context over them.
struct CTessolo::SplitJob {
    int32_t w = 0, h = 0;
    uint8_t* selection = nullptr;
    uint32_t selectionStride = 0;
    uint8_t** channels = nullptr;
    uint32_t channelStride = 0;
    uint8_t channelCount = 0;
    uint8_t from = 0, to = 100;
    bool bits = false;  // smooth cut: the knives drawn as 4 x 4 sub-pixel bits
    std::vector<qntFPOS> centres;
    std::vector<qntPOS> cells;
    CentreIndex centreIndex;
    FILLCONTEXT ctx{};
    SeedStack stack;  // the flood fill's, kept from region to region
    // Smooth cut on several threads: regions filled but not yet pieces.
    unsigned threads = 1;
    std::vector<RegionRecord> regions;
    size_t regionCount = 0;
    uint64_t regionBytes = 0;

    // Nested steps report inside this call's own range.
    uint8_t Inner(double p) const { return uint8_t(from + (to - from) * p / 100.0); }
    BitRaster Bits() const { return BitRaster{ctx.test, ctx.rowBytes, ctx.width, ctx.height}; }
    ByteRaster Bytes() const { return ByteRaster{ctx.test, uint32_t(w), w, h}; }
};

namespace {

// Closes every free position of a bit raster whose four neighbours are all
// blocked (outside counts as blocked). A closed position never changes the
// decision of another one (closing needs all four neighbours blocked, and a
// free neighbour is not), so rows can be done word by word in place.
void CloseHolesBitRow(const BitRaster& r, int32_t y)
{
    const uint32_t n = r.rowBytes;
    uint8_t* row = r.Row(y);
    const uint8_t* up = y > 0 ? r.Row(y - 1) : nullptr;
    const uint8_t* down = y + 1 < r.height ? r.Row(y + 1) : nullptr;
    const int tail = int(n) * 8 - r.width;  // padding bits at the end of the row
    const uint8_t pad = uint8_t((1u << tail) - 1u);
    auto at = [&](const uint8_t* p, uint32_t i) -> uint8_t {  // a byte with its padding and the outside blocked
        if (!p)
            return 0xFF;
        return i == n - 1 ? uint8_t(p[i] | pad) : p[i];
    };
    uint32_t i = 0;
    while (i < n) {
        // Whole words in which no free position has both vertical
        // neighbours blocked close nothing.
        if (i + 8 < n) {
            uint64_t c, u = ~0ull, d = ~0ull;
            std::memcpy(&c, row + i, 8);
            if (up)
                std::memcpy(&u, up + i, 8);
            if (down)
                std::memcpy(&d, down + i, 8);
            if ((~c & u & d) == 0) {
                i += 8;
                continue;
            }
        }
        const uint32_t stop = std::min(n, i + 8);
        for (; i < stop; ++i) {
            const uint8_t cur = at(row, i);
            if (cur == 0xFF)
                continue;
            const uint8_t prev = i > 0 ? at(row, i - 1) : 0xFF;
            const uint8_t next = i + 1 < n ? at(row, i + 1) : 0xFF;
            const uint8_t left = uint8_t((cur >> 1) | (prev << 7));
            const uint8_t right = uint8_t((cur << 1) | (next >> 7));
            row[i] |= uint8_t(~cur & left & right & at(up, i) & at(down, i));
        }
    }
}

// The same on a byte raster, left to right: a walled-in position becomes 255,
// or with smooth edges the mean of its neighbours inside the raster (the left
// one already closed where it was a hole too).
void CloseHolesByteRow(const ByteRaster& r, int32_t y, bool smooth)
{
    const int32_t w = r.width, h = r.height;
    uint8_t* row = r.Row(y);
    for (int32_t x = r.NextFree(row, 0); x < w; x = r.NextFree(row, x + 1)) {
        const bool l = x == 0 || row[x - 1];
        const bool rt = x + 1 >= w || row[x + 1];
        const bool u = y == 0 || row[ptrdiff_t(x) - w];
        const bool d = y + 1 >= h || row[ptrdiff_t(x) + w];
        if (!(l && rt && u && d))
            continue;
        if (!smooth) {
            row[x] = 255;
            continue;
        }
        int sum = 0, count = 0;
        if (x > 0)
            sum += row[x - 1], ++count;
        if (x + 1 < w)
            sum += row[x + 1], ++count;
        if (y > 0)
            sum += row[ptrdiff_t(x) - w], ++count;
        if (y + 1 < h)
            sum += row[ptrdiff_t(x) + w], ++count;
        row[x] = uint8_t(count ? sum / count : 255);
    }
}

// Makes a raster block hold at least `bytes`, keeping a larger one (its
// contents are not kept).
bool GrowRaster(CQNF_Mem& block, uint64_t bytes)
{
    return block.GetSize() >= bytes || block.alloc(bytes);
}

// Output mask of the box multiplied by the selection; the box shrunk to what
// stays covered (right <= left when nothing does).
qntRECT_s MaskBySelection(uint8_t* out, int32_t outStride, const uint8_t* test, const uint8_t* selection,
                          uint32_t selectionStride, qntRECT_s box)
{
    qntRECT_s kept{box.right, box.bottom, box.left - 1, box.top - 1};
    for (int32_t y = box.top; y < box.bottom; ++y) {
        uint8_t* o = out + size_t(y) * outStride;
        const uint8_t* t = test + size_t(y) * outStride;
        const uint8_t* s = selection + size_t(y) * selectionStride;
        // The products first (vector code), then the row's first and last
        // covered pixels widen the box.
        for (int32_t x = box.left; x < box.right; ++x)
            o[x] = uint8_t(qnDivBy255(uint16_t(s[x] * t[x])));
        int32_t first = box.left;
        while (first < box.right && !o[first])
            ++first;
        if (first == box.right)
            continue;
        int32_t last = box.right - 1;
        while (!o[last])
            --last;
        kept.left = std::min(kept.left, first);
        kept.right = std::max(kept.right, last + 1);
        kept.top = std::min(kept.top, y);
        kept.bottom = std::max(kept.bottom, y + 1);
    }
    return kept;
}

}  // namespace

bool CTessolo::SplitCells(long width, long height, uint8_t* selection, uint32_t selectionStride, uint8_t** channels,
                          uint32_t channelStride, uint8_t channelCount, uint8_t from, uint8_t to, uint8_t renderAll)
{
    if (m_bBusy)
        return false;
    BusyScope busy(m_bBusy);
    return i_SplitCells(width, height, selection, selectionStride, channels, channelStride, channelCount, from, to,
                        renderAll);
}

bool CTessolo::i_SplitCells(long width, long height, uint8_t* selection, uint32_t selectionStride,
                            uint8_t** channels, uint32_t channelStride, uint8_t channelCount, uint8_t from,
                            uint8_t to, uint8_t renderAll)
{
    // Pieces are filtered through 16-bit sizes: larger images are refused.
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535)
        return false;
    if (!channels || !(channelCount == 1 || channelCount == 3 || channelCount == 4))
        return false;
    for (uint8_t k = 0; k < channelCount; ++k)
        if (!channels[k] || channelStride < uint32_t(width))
            return false;
    if (selection && selectionStride < uint32_t(width))
        return false;
    SplitJob job;
    job.w = int32_t(width);
    job.h = int32_t(height);
    job.selection = selection;
    job.selectionStride = selectionStride;
    job.channels = channels;
    job.channelStride = channelStride;
    job.channelCount = channelCount;
    job.from = from;
    job.to = to;
    i_FindCellCentres(job);

    // Pieces already in the table (a caller that did not free them) keep
    // their plane count and stay covered by the work planes.
    if (m_nPieces > 0 && m_nWorkPlaneCount != channelCount + 1)
        return false;
    if (m_nPieces == 0) {
        m_nLargestWidth = 0;
        m_nLargestHeight = 0;
    }
    m_nWorkPlaneCount = uint8_t(channelCount + 1);
    if (!i_ProgressStep(0, from, to))
        return false;

    job.bits = m_bCut && m_bSmooth;
    if (!i_DrawTestRaster(job) || !i_ProgressStep(20, from, to))
        return false;
    // The smooth cut's regions become coverage on every thread, each in a
    // buffer of its own; the other cuts fill one image-sized output mask.
    job.threads = job.bits ? qnpar::ThreadCount() : 1;
    const uint64_t outBytes = job.threads > 1 ? 0 : qnMulSize({uint64_t(job.w), uint64_t(job.h)});
    if (outBytes > 0 && !GrowRaster(m_memSplitOut, outBytes)) {
        PlatformMessageBox(kMemoryText, kErrorTitle);
        return false;
    }
    if (outBytes > 0)
        std::memset(m_memSplitOut.GetPtr(), 0, size_t(outBytes));
    job.ctx.output = outBytes > 0 ? m_memSplitOut.GetPtr() : nullptr;
    job.ctx.outputStride = uint32_t(job.w);
    job.ctx.smooth = m_bSmooth;
    job.ctx.linesMode = m_bCut ? 0 : 1;
    if (!i_ProgressStep(25, from, to) || !i_CloseHoles(job) || !i_ProgressStep(50, from, to))
        return false;
    m_bLinesMode = m_bCut ? 0 : 1;
    if (m_bLinesMode && !i_AddLinesPiece(job))
        return false;
    if (!i_ProgressStep(55, from, to) || !i_CollectRegions(job) || !i_ProgressStep(95, from, to))
        return false;
    if (!i_SizeWorkPlanes() || !i_ProgressStep(100, from, to))
        return false;
    // The rasters, and blocks of the last cut no piece took, are done with:
    // give their memory back before the pieces are rendered, which is when
    // the pieces' own pages come in.
    m_memSplitTest.free();
    m_memSplitOut.free();
    for (CQNF_Mem* block : m_PiecePool)
        delete block;
    m_PiecePool.clear();
    if (renderAll) {
        std::vector<uint32_t> all(m_nPieces);
        for (uint32_t i = 0; i < m_nPieces; ++i)
            all[i] = i;
        i_RenderPieces(all.data(), m_nPieces);
    }
    return true;
}

// Cell centres: where the two diagonals of each cell cross.
void CTessolo::i_FindCellCentres(SplitJob& job)
{
    const int32_t w = job.w, h = job.h;
    if (m_nKnotColumns >= 2 && m_nKnotRows >= 2) {
        const size_t cellCount = size_t(m_nKnotColumns - 1) * (m_nKnotRows - 1);
        job.centres.reserve(cellCount);
        job.cells.reserve(cellCount);
        for (uint32_t r = 0; r + 1 < m_nKnotRows; ++r)
            for (uint32_t c = 0; c + 1 < m_nKnotColumns; ++c) {
                const qntFPOS tl = i_ConvertKnot(c, r, w, h), br = i_ConvertKnot(c + 1, r + 1, w, h);
                const qntFPOS tr = i_ConvertKnot(c + 1, r, w, h), bl = i_ConvertKnot(c, r + 1, w, h);
                unsigned char collinear = 0;
                qntFPOS pt{0, 0};
                if (m_2DMath.IntersectLineSegments_RetPoint({tl.x, tl.y, br.x, br.y}, {tr.x, tr.y, bl.x, bl.y},
                                                            collinear, pt) &&
                    !collinear) {
                    job.centres.push_back(pt);
                    job.cells.push_back(qntPOS{int32_t(c + 1), int32_t(r + 1)});
                }
            }
    }
    job.centreIndex.Build(job.centres.data(), job.cells.data(), uint32_t(job.centres.size()));
}

// The knives drawn into the test raster: for the smooth cut as bits at four
// times the resolution in each direction (drawn unsmoothed, in bit mode),
// else as one byte per image pixel.
bool CTessolo::i_DrawTestRaster(SplitJob& job)
{
    FILLCONTEXT& ctx = job.ctx;
    const int32_t w = job.w, h = job.h;
    if (job.bits) {
        ctx.width = 4 * w;
        ctx.height = 4 * h;
        ctx.rowBytes = uint32_t((ctx.width + 7) / 8);
    } else {
        ctx.width = w;
        ctx.height = h;
        ctx.rowBytes = uint32_t(w);
    }
    // 8 spare bytes: the raster is read a 64-bit word at a time.
    const uint64_t bytes = qnMulSize({ctx.rowBytes, uint64_t(ctx.height)});
    if (bytes > UINT32_MAX - 8 || !GrowRaster(m_memSplitTest, bytes + 8)) {
        PlatformMessageBox(kMemoryText, kErrorTitle);
        return false;
    }
    std::memset(m_memSplitTest.GetPtr() + bytes, 0, 8);
    ctx.test = m_memSplitTest.GetPtr();
    if (!job.bits)
        return i_ProgressStep(3, job.from, job.to) &&
               i_DrawSplitting(w, h, ctx.test, uint32_t(w), job.Inner(3), job.Inner(20));
    if (!i_ProgressStep(5, job.from, job.to))
        return false;
    const uint8_t savedBitMode = m_Drawing.bitMode;
    m_Drawing.bitMode = 1;
    m_bSmooth = 0;
    const bool drawn = i_DrawSplitting(ctx.width, ctx.height, ctx.test, ctx.rowBytes, job.Inner(5), job.Inner(20));
    m_bSmooth = 1;
    m_Drawing.bitMode = savedBitMode;
    return drawn;
}

// Hole closing: a single free position walled in on all four sides belongs
// to the knife.
bool CTessolo::i_CloseHoles(SplitJob& job)
{
    const BitRaster bitRaster = job.Bits();
    const ByteRaster byteRaster = job.Bytes();
    for (int32_t y = 0; y < job.ctx.height; ++y) {
        if (!i_ProgressStep(25.0 + 25.0 * y / job.ctx.height, job.from, job.to))
            return false;
        if (job.bits)
            CloseHolesBitRow(bitRaster, y);
        else
            CloseHolesByteRow(byteRaster, y, m_bSmooth);
    }
    return true;
}

// Lines mode: the knife lines themselves are the first piece, cut to the
// selection when there is one.
bool CTessolo::i_AddLinesPiece(SplitJob& job)
{
    const int32_t w = job.w, h = job.h;
    if (!job.selection)
        return i_AddPiece(job.ctx.test, w, h, qntRECT_s{0, 0, w, h}, 0, job.channels, job.channelStride,
                          job.channelCount, nullptr, 0, &job.centreIndex);
    const qntRECT_s box = MaskBySelection(job.ctx.output, w, job.ctx.test, job.selection, job.selectionStride,
                                          qntRECT_s{0, 0, w, h});
    return box.right <= box.left || i_AddPiece(job.ctx.output, w, h, box, 1, job.channels, job.channelStride,
                                               job.channelCount, job.selection, job.selectionStride,
                                               &job.centreIndex);
}

// Every free region becomes one piece, in row-by-row order of its first
// position.
bool CTessolo::i_CollectRegions(SplitJob& job)
{
    const BitRaster bitRaster = job.Bits();
    const ByteRaster byteRaster = job.Bytes();
    for (int32_t y = 0; y < job.ctx.height; ++y) {
        if (!i_ProgressStep(55.0 + 40.0 * y / job.ctx.height, job.from, job.to))
            return false;
        if (job.bits) {
            const uint8_t* row = bitRaster.Row(y);
            for (int32_t x = bitRaster.NextFree(row, 0); x < job.ctx.width; x = bitRaster.NextFree(row, x + 1)) {
                const bool added = job.threads > 1 ? i_RecordRegion(job, x, y) : i_AddRegion(job, x, y);
                if (!added || i_Canceled())
                    return false;
            }
        } else {
            const uint8_t* row = byteRaster.Row(y);
            for (int32_t x = byteRaster.NextFree(row, 0); x < job.w; x = byteRaster.NextFree(row, x + 1)) {
                if (!i_AddRegion(job, x, y) || i_Canceled())
                    return false;
            }
        }
    }
    return i_FinishRegions(job);
}

// The region seeded at (sx, sy) filled into the output mask and, cut to the
// selection when there is one, added as a piece. False on failure.
bool CTessolo::i_AddRegion(SplitJob& job, int32_t sx, int32_t sy)
{
    FILLCONTEXT& ctx = job.ctx;
    ctx.left = 1000000;
    ctx.top = 1000000;
    ctx.right = -1000000;
    ctx.bottom = -1000000;
    if (job.bits)
        FillRegion(job.Bits(), job.stack, sx, sy,
                   [&](int32_t x, int32_t y, uint32_t n) { FillLineBit(ctx, x, y, n); });
    else
        FillRegion(job.Bytes(), job.stack, sx, sy,
                   [&](int32_t x, int32_t y, uint32_t n) { FillLineByte(ctx, x, y, n); });
    const int32_t w = job.w, h = job.h;
    qntRECT_s box{std::max(ctx.left, 0), std::max(ctx.top, 0), std::min(ctx.right, w), std::min(ctx.bottom, h)};
    if (box.left >= box.right || box.top >= box.bottom)
        return true;
    if (job.selection) {
        box = MaskBySelection(ctx.output, w, ctx.output, job.selection, job.selectionStride, box);
        if (box.right <= box.left)
            return true;
    }
    if (!i_AddPiece(ctx.output, w, h, box, 1, job.channels, job.channelStride, job.channelCount, job.selection,
                    job.selectionStride, &job.centreIndex))
        return false;
    if (m_nPieces > kMaxPieces - 1) {
        PlatformMessageBox(kTooManyText, kErrorTitle);
        return false;
    }
    return true;
}

// The region seeded at (sx, sy) filled in the test raster and kept as a
// record (see RegionRecord); a full batch is finished at once.
bool CTessolo::i_RecordRegion(SplitJob& job, int32_t sx, int32_t sy)
{
    FILLCONTEXT& ctx = job.ctx;
    if (job.regionCount == job.regions.size())
        job.regions.emplace_back();
    RegionRecord& r = job.regions[job.regionCount];
    r.spans.clear();
    int32_t xmin = INT32_MAX, xmax = -1, ymin = INT32_MAX, ymax = -1;
    FillRegion(job.Bits(), job.stack, sx, sy, [&](int32_t x, int32_t y, uint32_t n) {
        MarkSpanBit(ctx, x, y, n);
        r.spans.push_back(RegionRecord::Span{x, y, n});
        xmin = std::min(xmin, x);
        xmax = std::max(xmax, x + int32_t(n) - 1);
        ymin = std::min(ymin, y);
        ymax = std::max(ymax, y);
    });
    if (r.spans.empty())
        return true;
    ++job.regionCount;

    // The copy holds every sub-pixel the replay reads or marks: the rows
    // beside the spans, the columns one beyond them, in whole bytes (two
    // output pixels) and whole output rows from its top left. Its raster
    // ends where the image's does, so the rules clip where they would.
    const int32_t W = ctx.width, H = ctx.height;
    r.x0 = (std::max(xmin - 1, 0) >> 3) << 3;
    r.y0 = std::max(ymin - 1, 0) & ~3;
    const int32_t byteEnd = std::min(int32_t(ctx.rowBytes), ((xmax + 1) >> 3) + 1);
    r.rowBytes = uint32_t(byteEnd - (r.x0 >> 3));
    r.width = W - r.x0;
    r.height = std::min(ymax + 2, H) - r.y0;
    r.bits.resize(size_t(r.rowBytes) * size_t(r.height) + 8);
    for (int32_t y = 0; y < r.height; ++y)
        std::memcpy(r.bits.data() + size_t(y) * r.rowBytes, ctx.test + size_t(r.y0 + y) * ctx.rowBytes + (r.x0 >> 3),
                    r.rowBytes);
    std::memset(r.bits.data() + size_t(r.rowBytes) * size_t(r.height), 0, 8);
    // Before its fill the region's own positions were free.
    for (const RegionRecord::Span& s : r.spans)
        ClearBits(r.bits.data() + size_t(s.y - r.y0) * r.rowBytes, s.x - r.x0, s.x - r.x0 + int32_t(s.length));
    r.outWidth = (std::min(xmax + 1, W - 1) >> 2) - (r.x0 >> 2) + 1;
    r.outHeight = (std::min(ymax + 1, H - 1) >> 2) - (r.y0 >> 2) + 1;
    r.out.assign(size_t(r.outWidth) * size_t(r.outHeight), 0);
    job.regionBytes += r.Bytes();
    return job.regionBytes < m_nRegionBatchBytes || i_FinishRegions(job);
}

// The recorded regions made into coverage on every thread, then added as
// pieces in their order, as the sequential fill adds them.
bool CTessolo::i_FinishRegions(SplitJob& job)
{
    const size_t count = job.regionCount;
    job.regionCount = 0;
    job.regionBytes = 0;
    if (count == 0)
        return true;
    qnpar::For(uint32_t(count), job.threads, [&](uint32_t i, unsigned) {
        RegionRecord& r = job.regions[i];
        FILLCONTEXT c{};
        c.rowBytes = r.rowBytes;
        c.width = r.width;
        c.height = r.height;
        c.test = r.bits.data();
        c.output = r.out.data();
        c.outputStride = uint32_t(r.outWidth);
        c.smooth = 1;
        c.left = 1000000;
        c.top = 1000000;
        c.right = -1000000;
        c.bottom = -1000000;
        for (const RegionRecord::Span& s : r.spans)
            FillLineBit(c, s.x - r.x0, s.y - r.y0, s.length);
        r.box = qntRECT_s{std::max(c.left, 0), std::max(c.top, 0), std::min(c.right, r.outWidth),
                          std::min(c.bottom, r.outHeight)};
    });
    for (size_t i = 0; i < count; ++i) {
        RegionRecord& r = job.regions[i];
        const qntPOS origin{r.x0 >> 2, r.y0 >> 2};
        qntRECT_s box = r.box;
        if (box.left >= box.right || box.top >= box.bottom)
            continue;
        uint8_t* selection = nullptr;
        if (job.selection) {
            selection = job.selection + size_t(origin.y) * job.selectionStride + origin.x;
            box = MaskBySelection(r.out.data(), r.outWidth, r.out.data(), selection, job.selectionStride, box);
            if (box.right <= box.left)
                continue;
        }
        uint8_t* channels[4] = {};
        for (uint8_t k = 0; k < job.channelCount; ++k)
            channels[k] = job.channels[k] + size_t(origin.y) * job.channelStride + origin.x;
        if (!i_AddPiece(r.out.data(), r.outWidth, r.outHeight, box, 0, channels, job.channelStride, job.channelCount,
                        selection, job.selectionStride, &job.centreIndex, origin))
            return false;
        if (m_nPieces > kMaxPieces - 1) {
            PlatformMessageBox(kTooManyText, kErrorTitle);
            return false;
        }
    }
    return true;
}

// The work planes a piece is rendered in, sized for the largest piece.
bool CTessolo::i_SizeWorkPlanes()
{
    if (m_nPieces == 0)
        return true;
    const uint64_t plane = uint64_t(m_nLargestWidth) * uint64_t(m_nLargestHeight);
    const uint64_t need = plane * m_nWorkPlaneCount;
    if (need > m_memWork.GetSize() && !m_memWork.Resize(need)) {
        PlatformMessageBox(kMemoryText, kErrorTitle);
        return false;
    }
    m_nWorkStride = uint32_t(m_nLargestWidth);
    for (uint8_t k = 0; k < 5; ++k)
        m_pWorkPlanes[k] = k < m_nWorkPlaneCount ? m_memWork.GetPtr() + k * plane : nullptr;
    return true;
}
