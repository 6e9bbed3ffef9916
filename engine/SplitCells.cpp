// The split, stage by stage: the cell centres, the test raster of the knives,
// hole closing, the lines-mode piece, one flood fill per free region (the
// smooth cut's on every thread, SplitRegions.cpp), and the work planes sized
// for the largest piece. Each stage reports progress in its
// own share of the caller's range and stops on cancel.
#include "engine/SplitJob.h"
#include "engine/Tessolo.h"
#include "imaging/Div255.h"
#include "imaging/Parallel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif
#include <vector>

using namespace tessolo_split;

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
    if (block.GetSize() >= bytes)
        return true;
    if (!block.alloc(bytes))
        return false;
#if defined(__linux__)
    // A raster is cleared whole right away: in large pages it comes in with
    // a few hundred faults instead of one per 4 KB.
    constexpr uintptr_t kLarge = uintptr_t(2) << 20;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(block.GetPtr()) + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block.GetPtr()) + bytes) & ~(kLarge - 1);
    if (end > start)
        madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
    return true;
}

}  // namespace

// Output mask of the box multiplied by the selection; the box shrunk to what
// stays covered (right <= left when nothing does).
qntRECT_s tessolo_split::MaskBySelection(uint8_t* out, int32_t outStride, const uint8_t* test, const uint8_t* selection,
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


bool CTessolo::SplitCells(long width, long height, uint8_t* selection, uint32_t selectionStride, uint8_t** channels,
                          uint32_t channelStride, uint8_t channelCount, uint8_t from, uint8_t to, uint8_t renderAll)
{
    if (m_bBusy)
        return false;
    BusyScope busy(m_bBusy);
    m_nSplitFailure = SplitFailure::None;
    // The split's rasters lie where the new pieces' planes go (lent by
    // their arena), so no plane is written while the split runs: pieces
    // rendered as soon as they are made have every byte of their planes
    // written then; the others' planes are cleared after, on every thread.
    // Only planes that may not read 0 are cleared (those where the rasters
    // lay, or in memory of an earlier cut).
    m_PlanesToClear.clear();
    m_bPlanesRendered = true;
    const bool done = i_SplitCells(width, height, selection, selectionStride, channels, channelStride, channelCount,
                                   from, to, renderAll);
    m_bPlanesRendered = false;
    if (!done || !renderAll)
        qnpar::For(uint32_t(m_PlanesToClear.size()), qnpar::ThreadCount(), [&](uint32_t i, unsigned) {
            const SPLITEDCELL& p = m_pPieces[m_PlanesToClear[i]];
            std::memset(p.planes->GetPtr(), 0, size_t(p.Width()) * size_t(p.Height()) * (m_nWorkPlaneCount - 1u));
        });
    m_PlanesToClear.clear();
    return done;
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
    // The smooth cut on several threads makes each region's coverage in a
    // buffer of its own; the other ways fill one image-sized output mask.
    job.threads = job.bits ? qnpar::ThreadCount() : 1;
    if (!(job.bits && job.threads > 1) && !i_ClearSplitOutput(job))
        return false;
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
    // The rasters (the heap's, where the planes' arena could not lend them),
    // and blocks of the last cut no piece took, are done with: give their
    // memory back before the pieces are rendered, which is when the pieces'
    // own pages come in (those of lent rasters are there already).
    m_memSplitTest.free();
    m_memSplitOut.free();
    for (CQNF_Mem* block : m_PiecePool)
        delete block;
    m_PiecePool.clear();
    m_MaskArena.Trim();
    m_PlaneArena.Trim();
#if defined(__GLIBC__)
    // The split's threads freed their working memory into heaps of their
    // own, which keep it from the pieces: hand it back to the system too.
    malloc_trim(0);
#endif
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
    if (bytes > UINT32_MAX - 8) {
        i_SplitFailed(SplitFailure::NoMemory);
        return false;
    }
    // Lent by the planes' arena, with the output mask behind it when the
    // split will fill one; else from the heap.
    const bool output = !(job.bits && qnpar::ThreadCount() > 1);
    const uint64_t lent = (bytes + 8 + 63) / 64 * 64;
    ctx.test = m_PlaneArena.Lend(0, lent + (output ? uint64_t(w) * uint64_t(h) : 0));
    if (ctx.test) {
        job.lent = lent;
    } else if (GrowRaster(m_memSplitTest, bytes + 8)) {
        ctx.test = m_memSplitTest.GetPtr();
    } else {
        i_SplitFailed(SplitFailure::NoMemory);
        return false;
    }
    std::memset(ctx.test + bytes, 0, 8);
    if (!job.bits)
        return i_ProgressStep(3, job.from, job.to) &&
               i_DrawSplitting(w, h, ctx.test, uint32_t(w), job.Inner(3), job.Inner(20));
    if (!i_ProgressStep(5, job.from, job.to))
        return false;
    const uint8_t savedBitMode = m_Drawing.bitMode;
    m_Drawing.bitMode = 1;
    m_bSmooth = 0;
    // On several threads the knives are recorded first, then made and drawn
    // in bands of rows: OR in any order gives the bits of one drawing.
    const unsigned threads = qnpar::ThreadCount();
    KnifeStrokes strokes;
    if (threads > 1)
        m_pKnifeStrokes = &strokes;
    const bool drawn = i_DrawSplitting(ctx.width, ctx.height, ctx.test, ctx.rowBytes, job.Inner(5), job.Inner(20));
    m_pKnifeStrokes = nullptr;
    m_bSmooth = 1;
    m_Drawing.bitMode = savedBitMode;
    if (!drawn || threads == 1)
        return drawn;
    // Each thread makes its knives' lines in scratch memory of its own, a
    // line at a time: the lines are never all held at once. First the raster
    // is cleared and the rows each line may touch found; then the raster is
    // drawn in bands of rows, each by one thread with the lines that reach
    // it (a line is drawn in every band it reaches, each band plotting only
    // its own rows): no two threads write one byte, and a band's bytes stay
    // in its thread's cache.
    std::vector<KnifeScratch> scratch(threads);
    struct Rows {
        int32_t top = 1, bottom = 0;  // none
    };
    std::vector<Rows> reach(strokes.jobs.size());
    const uint32_t bands = uint32_t(std::min<int64_t>(ctx.height, int64_t(threads) * 4));
    auto bandTop = [&](uint32_t b) { return int32_t(int64_t(ctx.height) * b / bands); };
    // A line that reaches more than two bands would be made again in each:
    // such a line is drawn once, as soon as it is made, into the whole
    // raster by one thread while others draw theirs (atomic OR: the same
    // bits).
    std::vector<uint8_t> wide(strokes.jobs.size(), 0);
    auto line = [&](uint32_t i, unsigned worker, const qntFPOS*& points, unsigned long& n, double& width) {
        const KnifeStrokes::Job& stroke = strokes.jobs[i];
        // A polyline of fewer than two points draws nothing.
        return i_KnifeLine(stroke.knife, stroke.a, stroke.b, scratch[worker], points, n, width) && n >= 2;
    };
    auto draw = [&](CQNF_ImageDrawing& pen, uint32_t i, unsigned worker) {
        const qntFPOS* points = nullptr;
        unsigned long n = 0;
        double width = 1.0;
        if (line(i, worker, points, n, width))
            pen.DrawHQPolyLine(points, n, width, 1, 1, 1, std::max(1.0, width * 0.25));
    };
    // The raster cleared first, band by band, so that a wide line can be
    // drawn as soon as it is made.
    qnpar::For(bands, threads, [&](uint32_t b, unsigned) {
        std::memset(ctx.test + size_t(bandTop(b)) * ctx.rowBytes, 0,
                    size_t(bandTop(b + 1) - bandTop(b)) * ctx.rowBytes);
    });
    // Every line made once, a few at a time within a budget of line memory,
    // with a cancel looked for in between (one line can take long to make):
    // the rows it reaches, and a wide one drawn at once.
    const auto measure = [&](uint32_t i, unsigned worker) {
        const qntFPOS* points = nullptr;
        unsigned long n = 0;
        double width = 1.0;
        if (!line(i, worker, points, n, width))
            return;
        double top = points[0].y, bottom = points[0].y;
        bool finite = std::isfinite(width);
        for (unsigned long k = 0; k < n && finite; ++k) {
            finite = std::isfinite(points[k].y);
            top = std::min(top, points[k].y);
            bottom = std::max(bottom, points[k].y);
        }
        // The pen's reach past the points, with room to spare; a line with
        // ends that are no numbers is drawn in every band.
        const double margin = std::abs(width) + 4.0;
        if (!finite || top - margin < 0.0)
            reach[i].top = 0;
        else
            reach[i].top = int32_t(std::min<double>(top - margin, ctx.height));
        if (!finite || bottom + margin >= ctx.height)
            reach[i].bottom = ctx.height;
        else
            reach[i].bottom = int32_t(bottom + margin) + 1;
        uint32_t met = 0;
        for (uint32_t b = 0; b < bands; ++b)
            met += bandTop(b + 1) > reach[i].top && bandTop(b) < reach[i].bottom;
        wide[i] = met > 2;
        if (wide[i]) {
            CQNF_ImageDrawing pen;
            pen.antiAlias = 0;
            pen.bitMode = 1;
            pen.atomicBits = 1;
            pen.SetDestination(ctx.test, ctx.rowBytes, ctx.width, ctx.height);
            pen.DrawHQPolyLine(points, n, width, 1, 1, 1, std::max(1.0, width * 0.25));
        }
    };
    const uint32_t total = uint32_t(strokes.jobs.size());
    for (uint32_t done = 0; done < total;) {
        const uint32_t n = i_NextKnifeBatch(strokes, done, total, threads * 2);
        qnpar::For(n, threads, [&](uint32_t k, unsigned worker) {
            measure(done + k, worker);
            scratch[worker].Trim(threads);
        });
        done += n;
        if (i_Canceled())
            return false;
    }
    // The other lines band by band, each band by one thread (no two write
    // one byte), after every wide line is in.
    qnpar::For(bands, threads, [&](uint32_t b, unsigned worker) {
        const int32_t y0 = bandTop(b), y1 = bandTop(b + 1);
        CQNF_ImageDrawing pen;
        pen.antiAlias = 0;
        pen.bitMode = 1;
        pen.SetDestination(ctx.test, ctx.rowBytes, ctx.width, ctx.height);
        pen.SetBitRowBand(y0, y1);
        for (uint32_t i = 0; i < uint32_t(reach.size()); ++i) {
            if (wide[i] || reach[i].bottom <= y0 || reach[i].top >= y1)
                continue;
            draw(pen, i, worker);
            scratch[worker].Trim(threads);
        }
    });
    return true;
}

// Hole closing: a single free position walled in on all four sides belongs
// to the knife.
bool CTessolo::i_CloseHoles(SplitJob& job)
{
    const BitRaster bitRaster = job.Bits();
    const ByteRaster byteRaster = job.Bytes();
    const unsigned threads = qnpar::ThreadCount();
    if (job.bits && threads > 1 && job.ctx.height >= 4) {
        // In bands of rows on every thread: the rows inside the bands first,
        // then each band's first row, so that no row is closed while a
        // neighbour reads it (the order of closing changes nothing).
        const int32_t h = job.ctx.height;
        // Bands of at least two rows: two first rows are never neighbours.
        const uint32_t bands = uint32_t(std::min<int64_t>(h / 2, int64_t(threads) * 4));
        for (int phase = 0; phase < 2; ++phase) {
            if (!i_ProgressStep(25.0 + 12.5 * phase, job.from, job.to))
                return false;
            qnpar::For(bands, threads, [&](uint32_t b, unsigned) {
                const int32_t y0 = int32_t(int64_t(h) * b / bands);
                const int32_t y1 = int32_t(int64_t(h) * (b + 1) / bands);
                if (phase == 1)
                    CloseHolesBitRow(bitRaster, y0);
                else
                    for (int32_t y = y0 + 1; y < y1; ++y)
                        CloseHolesBitRow(bitRaster, y);
            });
        }
        return true;
    }
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

// The image-sized output mask, all 0.
bool CTessolo::i_ClearSplitOutput(SplitJob& job)
{
    const uint64_t outBytes = qnMulSize({uint64_t(job.w), uint64_t(job.h)});
    // Behind the test raster where it was lent (the arena lends the same
    // place again: no blocks were handed out since).
    uint8_t* out = job.lent ? m_PlaneArena.Lend(job.lent, outBytes) : nullptr;
    if (!out) {
        if (!GrowRaster(m_memSplitOut, outBytes)) {
            i_SplitFailed(SplitFailure::NoMemory);
            return false;
        }
        out = m_memSplitOut.GetPtr();
    }
    std::memset(out, 0, size_t(outBytes));
    job.ctx.output = out;
    return true;
}

// Every free region becomes one piece, in row-by-row order of its first
// position: the smooth cut on several threads by labelling (SplitRegions.cpp)
// when it can, else one flood fill after the other into one output mask.
bool CTessolo::i_CollectRegions(SplitJob& job)
{
    if (job.bits && job.threads > 1) {
        const int done = i_CollectLabelledRegions(job);
        if (done >= 0)
            return done == 1;
    }
    if (!job.ctx.output && !i_ClearSplitOutput(job))
        return false;
    const BitRaster bitRaster = job.Bits();
    const ByteRaster byteRaster = job.Bytes();
    for (int32_t y = 0; y < job.ctx.height; ++y) {
        if (!i_ProgressStep(55.0 + 40.0 * y / job.ctx.height, job.from, job.to))
            return false;
        if (job.bits) {
            const uint8_t* row = bitRaster.Row(y);
            for (int32_t x = bitRaster.NextFree(row, 0); x < job.ctx.width; x = bitRaster.NextFree(row, x + 1)) {
                if (!i_AddRegion(job, x, y) || i_Canceled())
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
    return true;
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
        i_SplitFailed(SplitFailure::TooManyPieces);
        return false;
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
    if (need > m_memWork.GetSize()) {
        // Made anew (the common case), the planes are cleared on every
        // thread: a few large pieces' planes are megabytes, whose pages come
        // in as they are cleared.
        const bool fresh = m_memWork.IsEmpty();
        if (fresh ? !m_memWork.alloc(need) : !m_memWork.Resize(need)) {
            i_SplitFailed(SplitFailure::NoMemory);
            return false;
        }
        if (fresh) {
            constexpr uint64_t kPart = uint64_t(1) << 20;
            qnpar::For(uint32_t((need + kPart - 1) / kPart), qnpar::ThreadCount(), [&](uint32_t i, unsigned) {
                const uint64_t from = i * kPart;
                std::memset(m_memWork.GetPtr() + from, 0, size_t(std::min(kPart, need - from)));
            });
        }
    }
    m_nWorkStride = uint32_t(m_nLargestWidth);
    for (uint8_t k = 0; k < 5; ++k)
        m_pWorkPlanes[k] = k < m_nWorkPlaneCount ? m_memWork.GetPtr() + k * plane : nullptr;
    return true;
}
