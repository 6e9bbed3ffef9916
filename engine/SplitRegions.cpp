// The smooth cut's regions on every thread.
//
// The smooth rule is order-dependent: beside each span it reads the test
// raster as the sequential fill leaves it at that moment (the knives, every
// earlier region, this region's spans so far; later regions not yet), and
// within a region the spans' order matters. Both can be had without the
// sequential fill:
// - The free runs of every row are labelled into 4-connected regions, which
//   are numbered in row-by-row order of their first position: the order in
//   which the sequential fill finds them, seeded where it seeds them.
// - A region's flood fill never looks at a free position of another region
//   (one beside its spans would be connected to it), and its spans are its
//   runs: it takes the same course on the runs, each linked to those of the
//   rows beside it.
// - The raster the region's coverage rules then read is a copy of the
//   raster around the region with the runs of this and every later region
//   free again.
// Each region is so made on any thread into coverage of its own, and the
// pieces are added in region order: the bytes of the sequential fill.
#include "engine/SplitJob.h"
#include "imaging/Parallel.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <vector>

using namespace tessolo_split;

namespace {

struct Run {
    int32_t xs, xe;  // free positions [xs, xe) of one row
};

struct Region {
    int32_t seedX, seedY;
    int32_t xmin, xmax, ymin, ymax;  // sub-pixels, inclusive
    uint32_t first;                  // its first run, the smallest index of its runs
};

// An array whose elements are not written when it is made: its pages
// come in where it is first written (on the thread that writes them), not
// all at once on the calling thread. It lies at `at` when given (memory
// lent for the split), else on the heap.
template <class T>
struct Unset {
    std::unique_ptr<T[]> own;
    T* p = nullptr;
    void Make(size_t n, uint8_t* at = nullptr)
    {
        if (!at)
            own.reset(new T[n]);
        p = at ? reinterpret_cast<T*>(at) : own.get();
    }
    T* data() const { return p; }
    T& operator[](size_t i) const { return p[i]; }
};

// Bytes of the arrays of each run Label makes.
constexpr uint64_t kRunBytes = sizeof(Run) + 3 * sizeof(uint32_t);

// The free runs of a bit raster, row by row, and their regions.
struct Labels {
    std::vector<uint32_t> rowStart;  // row y's runs: [rowStart[y], rowStart[y + 1])
    Unset<Run> runs;
    Unset<uint32_t> label;  // region of each run
    std::vector<Region> regions;
    // Where a run's fill looks in the rows beside it: the first run of the
    // row below (down) and of the row above (up) that ends past its start;
    // the runs sharing a column with it follow that one. They take the
    // memory of the labelling's trees.
    Unset<uint32_t> down, up;
};
// How many rows ahead a region's course asks for the runs it reads.
constexpr int32_t kAheadRows = 3;

// Calls f(xs, xe) for each free run of a row, left to right.
template <class F>
void ForRuns(const BitRaster& r, const uint8_t* row, F&& f)
{
    for (int32_t x = r.NextFree(row, 0); x < r.width;) {
        const int32_t e = r.NextBlocked(row, x);
        f(x, e);
        if (e >= r.width)
            break;
        x = r.NextFree(row, e);
    }
}

uint32_t Root(const Unset<uint32_t>& parent, uint32_t i)
{
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

// False when the raster has more than maxRuns runs. lend(bytes) gives
// memory for the arrays of the runs, or null for the heap's.
template <class Lend>
bool Label(const BitRaster& r, unsigned threads, uint64_t maxRuns, Labels& L, Lend&& lend)
{
    const int32_t H = r.height;
    const uint32_t bands = uint32_t(std::min<int64_t>(H, int64_t(threads) * 8));
    auto bandRows = [&](uint32_t b, int32_t& y0, int32_t& y1) {
        y0 = int32_t(int64_t(H) * b / bands);
        y1 = int32_t(int64_t(H) * (b + 1) / bands);
    };
    L.rowStart.assign(size_t(H) + 1, 0);
    qnpar::For(bands, threads, [&](uint32_t b, unsigned) {
        int32_t y0 = 0, y1 = 0;
        bandRows(b, y0, y1);
        for (int32_t y = y0; y < y1; ++y) {
            uint32_t n = 0;
            ForRuns(r, r.Row(y), [&](int32_t, int32_t) { ++n; });
            L.rowStart[size_t(y) + 1] = n;
        }
    });
    uint64_t total = 0;
    for (int32_t y = 0; y < H; ++y) {
        total += L.rowStart[size_t(y) + 1];
        if (total > maxRuns)
            return false;
        L.rowStart[size_t(y) + 1] = uint32_t(total);
    }
    uint8_t* const lent = lend(total * kRunBytes);
    auto at = [&](uint64_t offset) { return lent ? lent + offset * total : nullptr; };
    L.runs.Make(total, at(0));
    qnpar::For(bands, threads, [&](uint32_t b, unsigned) {
        int32_t y0 = 0, y1 = 0;
        bandRows(b, y0, y1);
        for (int32_t y = y0; y < y1; ++y) {
            Run* out = L.runs.data() + L.rowStart[size_t(y)];
            ForRuns(r, r.Row(y), [&](int32_t xs, int32_t xe) { *out++ = Run{xs, xe}; });
        }
    });

    // Runs of neighbouring rows that share a column are one region: joined
    // within each band on its own thread (a band's runs are one range of
    // indices, and a root is always the smallest index of its tree), then
    // across the bands' edges.
    Unset<uint32_t> parent;
    parent.Make(total, at(sizeof(Run)));
    qnpar::For(bands, threads, [&](uint32_t b, unsigned) {
        int32_t y0 = 0, y1 = 0;
        bandRows(b, y0, y1);
        for (uint32_t i = L.rowStart[size_t(y0)]; i < L.rowStart[size_t(y1)]; ++i)
            parent[i] = i;
    });
    auto joinRows = [&](int32_t y) {
        uint32_t i = L.rowStart[size_t(y) - 1], j = L.rowStart[size_t(y)];
        const uint32_t iEnd = j, jEnd = L.rowStart[size_t(y) + 1];
        while (i < iEnd && j < jEnd) {
            const Run& a = L.runs[i];
            const Run& b = L.runs[j];
            if (a.xe <= b.xs) {
                ++i;
            } else if (b.xe <= a.xs) {
                ++j;
            } else {
                const uint32_t ra = Root(parent, i), rb = Root(parent, j);
                if (ra != rb)
                    parent[std::max(ra, rb)] = std::min(ra, rb);
                if (a.xe < b.xe)
                    ++i;
                else
                    ++j;
            }
        }
    };
    qnpar::For(bands, threads, [&](uint32_t b, unsigned) {
        int32_t y0 = 0, y1 = 0;
        bandRows(b, y0, y1);
        for (int32_t y = std::max(y0 + 1, 1); y < y1; ++y)
            joinRows(y);
    });
    for (uint32_t b = 1; b < bands; ++b) {
        int32_t y0 = 0, y1 = 0;
        bandRows(b, y0, y1);
        if (y0 > 0)
            joinRows(y0);
    }
    // Every run's root, read on every thread (nothing is written to the
    // trees now), then the regions numbered as the rows are read: a
    // region's first run holds its first position.
    Unset<uint32_t> root;
    root.Make(total, at(sizeof(Run) + sizeof(uint32_t)));
    qnpar::For(bands, threads, [&](uint32_t b, unsigned) {
        int32_t y0 = 0, y1 = 0;
        bandRows(b, y0, y1);
        for (uint32_t i = L.rowStart[size_t(y0)]; i < L.rowStart[size_t(y1)]; ++i) {
            uint32_t r = i;
            while (parent[r] != r)
                r = parent[r];
            root[i] = r;
        }
    });
    // A root is the smallest index of its tree: the first run of its
    // region. The regions are numbered in the order of their roots (each
    // band's roots after those of the bands above), then every other run
    // takes its root's number and widens its region's box.
    std::vector<uint32_t> roots(size_t(bands) + 1, 0);
    qnpar::For(bands, threads, [&](uint32_t b, unsigned) {
        int32_t y0 = 0, y1 = 0;
        bandRows(b, y0, y1);
        uint32_t n = 0;
        for (uint32_t i = L.rowStart[size_t(y0)]; i < L.rowStart[size_t(y1)]; ++i)
            n += root[i] == i;
        roots[size_t(b) + 1] = n;
    });
    for (uint32_t b = 0; b < bands; ++b)
        roots[size_t(b) + 1] += roots[b];
    L.label.Make(total, at(sizeof(Run) + 2 * sizeof(uint32_t)));
    L.regions.resize(roots[bands]);
    auto eachRun = [&](auto&& f) {
        qnpar::For(bands, threads, [&](uint32_t b, unsigned) {
            int32_t y0 = 0, y1 = 0;
            bandRows(b, y0, y1);
            uint32_t k = roots[b];
            for (int32_t y = y0; y < y1; ++y)
                for (uint32_t i = L.rowStart[size_t(y)]; i < L.rowStart[size_t(y) + 1]; ++i)
                    f(i, y, k);
        });
    };
    eachRun([&](uint32_t i, int32_t y, uint32_t& k) {
        if (root[i] != i)
            return;
        const Run& run = L.runs[i];
        L.label[i] = k;
        L.regions[k++] = Region{run.xs, y, run.xs, run.xe - 1, y, y, i};
    });
    // A region can reach into other bands: its box widens by atomic
    // minimum and maximum, which give the same box in any order.
    auto lower = [](int32_t& field, int32_t v) {
        std::atomic_ref<int32_t> a(field);
        for (int32_t now = a.load(std::memory_order_relaxed); v < now;)
            if (a.compare_exchange_weak(now, v, std::memory_order_relaxed))
                break;
    };
    auto raise = [](int32_t& field, int32_t v) {
        std::atomic_ref<int32_t> a(field);
        for (int32_t now = a.load(std::memory_order_relaxed); v > now;)
            if (a.compare_exchange_weak(now, v, std::memory_order_relaxed))
                break;
    };
    eachRun([&](uint32_t i, int32_t y, uint32_t&) {
        if (root[i] == i)
            return;
        const Run& run = L.runs[i];
        const uint32_t k = L.label[root[i]];
        L.label[i] = k;
        Region& g = L.regions[k];
        lower(g.xmin, run.xs);
        raise(g.xmax, run.xe - 1);
        raise(g.ymax, y);
    });
    // The links of each pair of rows, made on the thread of the lower row's
    // band: every run's down and up are written once. The trees are no
    // longer read.
    L.down = std::move(root);
    L.up = std::move(parent);
    qnpar::For(bands, threads, [&](uint32_t b, unsigned) {
        int32_t y0 = 0, y1 = 0;
        bandRows(b, y0, y1);
        for (int32_t y = std::max(y0, 1); y < y1; ++y) {
            const uint32_t aEnd = L.rowStart[size_t(y)], bEnd = L.rowStart[size_t(y) + 1];
            for (uint32_t i = L.rowStart[size_t(y) - 1], j = aEnd; i < aEnd; ++i) {
                while (j < bEnd && L.runs[j].xe <= L.runs[i].xs)
                    ++j;
                L.down[i] = j;
            }
            for (uint32_t j = aEnd, i = L.rowStart[size_t(y) - 1]; j < bEnd; ++j) {
                while (i < aEnd && L.runs[i].xe <= L.runs[j].xs)
                    ++i;
                L.up[j] = i;
            }
        }
    });
    return true;
}

// A buffer whose bytes are not set when it grows (a vector would copy or
// clear them on the calling thread, which also takes their page faults):
// made on the calling thread, written by the thread that works with it.
struct Buffer {
    std::unique_ptr<uint8_t[]> p;
    size_t capacity = 0;
    bool Reserve(size_t n)
    {
        if (n <= capacity)
            return true;
        p.reset(new (std::nothrow) uint8_t[n]);
        capacity = p ? n : 0;
        return bool(p);
    }
    uint8_t* data() const { return p.get(); }
};

// The window of the raster a region needs: the rows beside it, the columns
// one beyond it, in whole bytes (two output pixels) and whole output rows.
struct Window {
    int32_t x0, y0;      // sub-pixels
    uint32_t rowBytes;   // bytes of a row of the copy
    int32_t rows;        // rows of the copy
    int32_t outW, outH;  // output pixels it covers
};

Window WindowOf(const Region& g, int32_t W, int32_t H, uint32_t rowBytes)
{
    Window v{};
    v.x0 = (std::max(g.xmin - 1, 0) >> 3) << 3;
    v.y0 = std::max(g.ymin - 1, 0) & ~3;
    v.rowBytes = uint32_t(std::min(int32_t(rowBytes), ((g.xmax + 1) >> 3) + 1) - (v.x0 >> 3));
    v.rows = std::min(g.ymax + 2, H) - v.y0;
    v.outW = (std::min(g.xmax + 1, W - 1) >> 2) - (v.x0 >> 2) + 1;
    v.outH = (std::min(g.ymax + 1, H - 1) >> 2) - (v.y0 >> 2) + 1;
    return v;
}

struct Span {
    int32_t x, y;
    uint32_t length;
};

// A region's coverage in output pixels from (x0 / 4, y0 / 4), made in bands
// of output rows: its own copy of the raster window, its fill's spans in
// order, and the box of each band.
struct Coverage {
    uint32_t region = 0;
    Window v{};
    uint8_t* out = nullptr;
    // The copy and the spans: of its own for a region made in several
    // bands, else its thread's.
    uint8_t* ownBits = nullptr;
    std::vector<Span> ownSpans;
    uint8_t* bits = nullptr;
    std::vector<Span>* spans = nullptr;
    std::vector<qntRECT_s> bandBoxes;
    qntRECT_s box{};
    int32_t X0() const { return v.x0; }
    int32_t Y0() const { return v.y0; }
    int32_t Width() const { return v.outW; }
    uint32_t Bands() const { return uint32_t(bandBoxes.size()); }
};

// Clears in the copy the runs of the window's rows [from, to) whose region
// passes keep. A row's first run in the window is looked for where the row
// before had its own (the knives make the rows alike): a step or two from
// there instead of a search of the row, which would wait on memory at each
// step.
template <class Keep>
void FreeRuns(const Labels& L, const Window& v, int32_t W, uint8_t* bits, int32_t from, int32_t to, Keep&& keep)
{
    const int32_t right = std::min(v.x0 + int32_t(v.rowBytes) * 8, W);
    const Run* const runs = L.runs.data();
    ptrdiff_t hint = -1;
    for (int32_t ly = from; ly < to; ++ly) {
        const int32_t y = v.y0 + ly;
        const Run* first = runs + L.rowStart[size_t(y)];
        const Run* last = runs + L.rowStart[size_t(y) + 1];
        // The first run that ends past x0.
        const Run* run = nullptr;
        if (hint < 0) {
            run = std::upper_bound(first, last, v.x0, [](int32_t x, const Run& a) { return x < a.xe; });
        } else {
            run = first + std::min<ptrdiff_t>(hint, last - first);
            while (run > first && run[-1].xe > v.x0)
                --run;
            while (run < last && run->xe <= v.x0)
                ++run;
        }
        hint = run - first;
        if (ly + 2 < to) {
            const uint32_t ahead = L.rowStart[size_t(y) + 2] + uint32_t(hint);
            __builtin_prefetch(runs + ahead);
            __builtin_prefetch(L.label.data() + ahead);
        }
        uint8_t* row = bits + size_t(ly) * v.rowBytes;
        for (; run != last && run->xs < right; ++run)
            if (keep(L.label[size_t(run - runs)]))
                ClearBits(row, std::max(run->xs, v.x0) - v.x0, std::min(run->xe, right) - v.x0);
    }
}

// The region's course: its spans in the order of the sequential fill. The
// fill's spans are the region's runs (a span is a maximal free run, and a
// run is free until its span is filled), so the fill is followed on the
// runs themselves rather than on the raster's bits: a seed stands for the
// run it lies in, a scan of the row above or below pushes every unfilled
// run its span reaches from the right, and a filled run is skipped when
// popped, as a blocked seed is. Which runs are filled is marked in the
// thread's own `filled`, one byte for each run from the region's first to
// the end of its last row, MarkBytes (regions side by side would share the
// cache lines of marks kept with the runs).
uint32_t MarkBytes(const Labels& L, const Region& g)
{
    return L.rowStart[size_t(g.ymax) + 1] - g.first;
}

void TraceRegion(const Labels& L, SeedStack& stack, uint8_t* filled, Coverage& c)
{
    const Region& g = L.regions[c.region];
    const Window& v = c.v;
    // The read-ahead padding behind the window's copy, which the bands
    // make row by row.
    std::memset(c.bits + size_t(v.rowBytes) * size_t(v.rows), 0, 8);
    std::vector<Span>& spans = *c.spans;
    spans.clear();
    const Run* const runs = L.runs.data();
    const int32_t H = int32_t(L.rowStart.size()) - 1;
    const uint32_t base = g.first;
    std::memset(filled, 0, MarkBytes(L, g));
    // The runs of row y that share a column with run i, from `from` (its
    // link into that row) on, right to left.
    auto scan = [&](uint32_t i, uint32_t from, int32_t y) {
        if (y < 0 || y >= H)
            return true;
        const uint32_t end = L.rowStart[size_t(y) + 1];
        uint32_t to = from;
        while (to < end && runs[to].xs < runs[i].xe)
            ++to;
        for (uint32_t k = to; k > from; --k)
            if (!filled[k - 1 - base] && !stack.Push(int32_t(k - 1), y))
                return false;
        return true;
    };
    stack.Clear();
    if (!stack.Push(int32_t(base), g.seedY))
        return;
    qntPOS p;
    while (stack.Pop(p)) {
        const uint32_t i = uint32_t(p.x);
        if (filled[i - base])
            continue;
        filled[i - base] = 1;
        // The fill goes down the region a row at a time, and a region's runs
        // lie at about the same place in each row's: what it reads a few
        // rows on is asked for now, as rows lie far apart in memory.
        if (p.y + kAheadRows < H) {
            const size_t ahead = std::min<size_t>(L.rowStart[size_t(p.y) + kAheadRows] + (i - L.rowStart[size_t(p.y)]),
                                                  L.rowStart[size_t(H)] - 1);
            __builtin_prefetch(runs + ahead);
            __builtin_prefetch(L.down.data() + ahead);
            __builtin_prefetch(L.up.data() + ahead);
        }
        const Run& run = runs[i];
        spans.push_back(Span{run.xs - v.x0, p.y - v.y0, uint32_t(run.xe - run.xs)});
        if (!scan(i, L.up[i], p.y - 1) || !scan(i, L.down[i], p.y + 1))
            return;
    }
}

// One band of output rows of the region's coverage, cut to the selection
// when there is one (selection at the image's origin). The rules read the
// raster as the region starts (it and every later region free); a band's
// pixels depend only on the raster rows behind them and the spans beside
// them, taken in the fill's order, so bands are made side by side.
void CoverBand(const Labels& L, const CTessolo::FILLCONTEXT& raster, const uint8_t* selection,
               uint32_t selectionStride, Coverage& c, uint32_t band)
{
    const uint32_t k = c.region;
    const Window& v = c.v;
    const int32_t o0 = int32_t(int64_t(v.outH) * band / c.Bands());
    const int32_t o1 = int32_t(int64_t(v.outH) * (band + 1) / c.Bands());
    const int32_t r0 = std::min(4 * o0, v.rows), r1 = std::min(4 * o1, v.rows);
    uint8_t* bits = c.bits;
    std::memset(bits + size_t(r0) * v.rowBytes, 0xFF, size_t(r1 - r0) * v.rowBytes);
    FreeRuns(L, v, raster.width, bits, r0, r1, [k](uint32_t label) { return label >= k; });
    std::memset(c.out + size_t(o0) * size_t(v.outW), 0, size_t(o1 - o0) * size_t(v.outW));
    CTessolo::FILLCONTEXT local{};
    local.rowBytes = v.rowBytes;
    local.width = raster.width - v.x0;
    local.height = v.rows;
    local.test = bits;
    local.output = c.out;
    local.outputStride = uint32_t(v.outW);
    local.smooth = 1;
    local.left = 1000000;
    local.top = 1000000;
    local.right = -1000000;
    local.bottom = -1000000;
    local.bandTop = o0;
    local.bandBottom = o1;
    // A span touches the output rows of its raster row and of the rows
    // beside it.
    for (const Span& span : *c.spans)
        if (span.y >= r0 - 1 && span.y <= r1)
            FillLineBit(local, span.x, span.y, span.length);
    qntRECT_s box{std::max(local.left, 0), std::max(local.top, 0), std::min(local.right, v.outW),
                  std::min(local.bottom, v.outH)};
    if (selection) {
        // Every covered pixel of the band's rows lies in its box.
        box.top = std::max(box.top, o0);
        box.bottom = std::min(box.bottom, o1);
        if (box.left < box.right && box.top < box.bottom)
            box = MaskBySelection(c.out, v.outW, c.out,
                                  selection + size_t(v.y0 >> 2) * selectionStride + (v.x0 >> 2), selectionStride,
                                  box);
    }
    c.bandBoxes[band] = box;
}

// The region's box from its bands' (their union; without a selection the
// same as the box of the whole fill, cut to the window).
void JoinBands(Coverage& c, bool selection)
{
    qntRECT_s box{1000000, 1000000, -1000000, -1000000};
    for (const qntRECT_s& b : c.bandBoxes) {
        if (selection && (b.left >= b.right || b.top >= b.bottom))
            continue;
        box.left = std::min(box.left, b.left);
        box.top = std::min(box.top, b.top);
        box.right = std::max(box.right, b.right);
        box.bottom = std::max(box.bottom, b.bottom);
    }
    c.box = box;
}

}  // namespace

int CTessolo::i_CollectLabelledRegions(SplitJob& job)
{
    const FILLCONTEXT& raster = job.ctx;
    Labels L;
    // A raster of very many runs (a knife pattern of fine noise) would need
    // more memory for its labels than the fill one region after the other.
    const uint64_t limit =
        m_nLabelledRunLimit ? m_nLabelledRunLimit : std::max<uint64_t>(2000000, uint64_t(job.w) * uint64_t(job.h) / 5);
    // The labels, and after them the buffers of each batch, lie where the
    // pieces' planes go next, behind the raster (lent by their arena, as
    // it is): the split then needs no memory of its own beside the
    // planes', and a second cut finds its pages there.
    uint64_t lentBytes = job.lent;
    auto round = [](uint64_t n) { return (n + 63) / 64 * 64; };
    auto lend = [&](uint64_t bytes) -> uint8_t* {
        bytes = round(bytes);
        uint8_t* p = bytes ? m_PlaneArena.Lend(lentBytes, bytes) : nullptr;
        if (p)
            lentBytes += bytes;
        return p;
    };
    if (!Label(job.Bits(), job.threads, limit, L, lend))
        return -1;
    const uint32_t count = uint32_t(L.regions.size());
    // Batches of regions whose coverage stays inside the memory allowed
    // (the split's memory is well below what the pieces' planes take
    // later, even with a large region for every thread): where each ends,
    // and the buffers of the largest, the coverage of each region and
    // either a copy of the window for each or one for every thread.
    std::vector<uint32_t> ends;
    uint64_t area = 0, marks = 0;
    for (uint32_t first = 0; first < count;) {
        uint32_t last = first;
        uint64_t bytes = 0, outs = 0, windows = 0, largest = 0;
        // At least a region for every thread, so that all have work when
        // the regions are few and large.
        while (last < count && (last - first < job.threads || bytes < m_nRegionBatchBytes)) {
            const Window v = WindowOf(L.regions[last], raster.width, raster.height, raster.rowBytes);
            const uint64_t out = uint64_t(v.outW) * uint64_t(v.outH);
            const uint64_t window = uint64_t(v.rowBytes) * uint64_t(v.rows) + 8;
            bytes += out + window;
            outs += round(out);
            windows += round(window);
            largest = std::max(largest, round(window));
            marks = std::max(marks, round(MarkBytes(L, L.regions[last])));
            ++last;
        }
        ends.push_back(last);
        area = std::max(area, outs + std::max(windows, job.threads * largest));
        first = last;
    }
    // Made here, on the calling thread, when it cannot be lent: memory a
    // thread of the pool takes stays in a heap of its own after it is
    // freed, where the pieces made next cannot have it.
    // Behind the batches' buffers, each thread's marks of filled runs.
    Buffer heap;
    const uint64_t lent = area + job.threads * marks;
    uint8_t* const buffers = lent ? lend(lent) : nullptr;
    if (lent && !buffers && !heap.Reserve(size_t(lent))) {
        i_SplitFailed(SplitFailure::NoMemory);
        return 0;
    }
    uint8_t* const base = buffers ? buffers : heap.data();
    // The piece table made large enough for every region at once: grown a
    // step at a time, it is copied again and again while the threads wait.
    const uint64_t table = (uint64_t(m_nPieces) + count + 1) * sizeof(SPLITEDCELL);
    if (table > m_memPieces.GetSize()) {
        if (!m_memPieces.Resize(table)) {
            i_SplitFailed(SplitFailure::NoMemory);
            return 0;
        }
        m_pPieces = reinterpret_cast<SPLITEDCELL*>(m_memPieces.GetPtr());
    }
    std::vector<SeedStack> stacks(job.threads);
    // Each thread's copy and spans for the regions made in one band, and
    // its marks.
    struct Work {
        uint8_t* bits = nullptr;
        std::vector<Span> spans;
        uint8_t* filled = nullptr;
    };
    std::vector<Work> scratch(job.threads);
    for (uint32_t w = 0; w < job.threads; ++w)
        scratch[w].filled = base + area + w * marks;
    std::vector<Coverage> batch;
    std::vector<std::pair<uint32_t, uint32_t>> tasks;  // (batch entry, band)
    std::vector<std::pair<uint32_t, uint32_t>> added;  // (piece, batch entry) whose mask is still to copy
    std::vector<uint32_t> pixels;                      // covered pixels of each band of the masks copied
    // A batch's pieces into the table; false on failure or cancel.
    auto addBatch = [&](uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            Coverage& c = batch[i];
            const qntPOS origin{c.X0() >> 2, c.Y0() >> 2};
            // Already cut to the selection.
            const qntRECT_s box = c.box;
            if (box.left >= box.right || box.top >= box.bottom)
                continue;
            uint8_t* selection =
                job.selection ? job.selection + size_t(origin.y) * job.selectionStride + origin.x : nullptr;
            uint8_t* channels[4] = {};
            for (uint8_t k = 0; k < job.channelCount; ++k)
                channels[k] = job.channels[k] + size_t(origin.y) * job.channelStride + origin.x;
            if (!i_AddPiece(c.out, c.v.outW, c.v.outH, box, 0, channels, job.channelStride, job.channelCount,
                            selection, job.selectionStride, &job.centreIndex, origin, false))
                return false;
            added.emplace_back(m_nPieces - 1, i);
            if (m_nPieces > kMaxPieces - 1) {
                i_SplitFailed(SplitFailure::TooManyPieces);
                return false;
            }
            if (i_Canceled())
                return false;
        }
        return true;
    };
    uint32_t first = 0;
    for (const uint32_t last : ends) {
        if (!i_ProgressStep(55.0 + 40.0 * first / count, job.from, job.to))
            return 0;
        const uint32_t n = last - first;
        if (batch.size() < n)
            batch.resize(n);
        uint8_t* at = base;
        for (uint32_t i = 0; i < n; ++i) {
            Coverage& c = batch[i];
            c.region = first + i;
            c.v = WindowOf(L.regions[first + i], raster.width, raster.height, raster.rowBytes);
            c.out = at;
            at += round(uint64_t(c.v.outW) * uint64_t(c.v.outH));
        }
        // The copies of the windows: each region's own when they are made
        // in bands, else each thread's; the one or the other.
        uint8_t* const windowCopies = at;
        uint64_t largest = 0;
        for (uint32_t i = 0; i < n; ++i) {
            Coverage& c = batch[i];
            const uint64_t window = round(uint64_t(c.v.rowBytes) * uint64_t(c.v.rows) + 8);
            c.ownBits = at;
            at += window;
            largest = std::max(largest, window);
        }
        for (uint32_t w = 0; w < job.threads; ++w)
            scratch[w].bits = windowCopies + w * largest;
        // Few regions are each made in bands of output rows, so that every
        // thread has work; many are made one band each.
        tasks.clear();
        for (uint32_t i = 0; i < n; ++i) {
            Coverage& c = batch[i];
            const uint32_t rows = uint32_t(c.v.outH);
            const uint32_t bands =
                m_nCoverageBands ? std::min(m_nCoverageBands, rows)
                                 : std::max(1u, std::min((job.threads * 4 + n - 1) / n, rows / 32));
            c.bandBoxes.resize(bands);
            for (uint32_t b = 0; b < bands; ++b)
                tasks.emplace_back(i, b);
        }
        // Regions made in one band each use their thread's copy; one made
        // in several bands has a copy of its own that the bands share.
        const bool oneBandEach = tasks.size() == n;
        for (uint32_t i = 0; i < n && !oneBandEach; ++i) {
            batch[i].bits = batch[i].ownBits;
            batch[i].spans = &batch[i].ownSpans;
        }
        if (oneBandEach) {
            qnpar::For(n, job.threads, [&](uint32_t i, unsigned worker) {
                batch[i].bits = scratch[worker].bits;
                batch[i].spans = &scratch[worker].spans;
                TraceRegion(L, stacks[worker], scratch[worker].filled, batch[i]);
                CoverBand(L, raster, job.selection, job.selectionStride, batch[i], 0);
            });
        } else {
            // The regions' courses first, then their bands: parts are taken
            // in order, so a band waits only on a course a thread is already
            // making (never on one no thread has), and starts as soon as
            // its own region's is made rather than after every region's.
            const std::unique_ptr<std::atomic<bool>[]> traced(new std::atomic<bool>[n]);
            for (uint32_t i = 0; i < n; ++i)
                traced[i].store(false, std::memory_order_relaxed);
            qnpar::For(n + uint32_t(tasks.size()), job.threads, [&](uint32_t t, unsigned worker) {
                if (t < n) {
                    TraceRegion(L, stacks[worker], scratch[worker].filled, batch[t]);
                    traced[t].store(true, std::memory_order_release);
                    return;
                }
                const auto [i, band] = tasks[t - n];
                while (!traced[i].load(std::memory_order_acquire))
                    std::this_thread::yield();
                CoverBand(L, raster, job.selection, job.selectionStride, batch[i], band);
            });
        }
        for (uint32_t i = 0; i < n; ++i)
            JoinBands(batch[i], job.selection != nullptr);
        // The pieces join the table in region order; their masks are copied
        // after, on every thread, also when the batch stops early.
        added.clear();
        const bool whole = addBatch(n);
        // In bands of rows when the pieces are few, so that every thread
        // has work (their pages come in as they are written).
        const uint32_t copies = uint32_t(added.size());
        const uint32_t copyBands = copies ? std::max<uint32_t>(1, (job.threads * 4 + copies - 1) / copies) : 1;
        pixels.assign(size_t(copies) * copyBands, 0);
        qnpar::For(copies * copyBands, job.threads, [&](uint32_t t, unsigned) {
            const uint32_t i = t / copyBands, b = t % copyBands;
            const uint32_t height = uint32_t(m_pPieces[added[i].first].Height());
            const Coverage& c = batch[added[i].second];
            pixels[t] = i_CopyPieceMaskRows(m_pPieces[added[i].first], c.out, c.v.outW,
                                            qntPOS{c.X0() >> 2, c.Y0() >> 2}, false,
                                            uint32_t(uint64_t(height) * b / copyBands),
                                            uint32_t(uint64_t(height) * (b + 1) / copyBands));
        });
        for (uint32_t i = 0; i < copies; ++i) {
            uint32_t sum = 0;
            for (uint32_t b = 0; b < copyBands; ++b)
                sum += pixels[size_t(i) * copyBands + b];
            m_pPieces[added[i].first].pixels = sum;
        }
        if (!whole)
            return 0;
        first = last;
    }
    return 1;
}
