// Splitting an image into pieces: cell centres, the test raster of the
// knives, hole closing, one flood fill per free region, the piece table.
#include "engine/SplitRaster.h"
#include "engine/Tessolo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using namespace tessolo_split;

namespace {

const char kMemoryText[] = "Memory allocation problem...";
const char kTooManyText[] = "Too many (>100'000!) pieces...";
const char kErrorTitle[] = "Error!";

void Widen(CTessolo::FILLCONTEXT& c, int32_t l, int32_t t, int32_t r, int32_t b)
{
    c.left = std::min(c.left, l);
    c.top = std::min(c.top, t);
    c.right = std::max(c.right, r);
    c.bottom = std::max(c.bottom, b);
}

// The span [x, x + length) of row y cut to the raster; false when nothing
// of it is left.
bool ClipSpan(const CTessolo::FILLCONTEXT& c, int64_t x, int32_t y, uint32_t length, int32_t& xl, int32_t& xr)
{
    xl = int32_t(std::max<int64_t>(x, 0));
    xr = int32_t(std::min<int64_t>(x + length, c.width));
    return y >= 0 && y < c.height && xl < xr;
}

// Nibble of output pixel ox inside a bit-raster row: the four sub-pixels
// 4 ox .. 4 ox + 3, most significant first.
inline unsigned Nibble(const uint8_t* row, int32_t ox)
{
    const uint8_t b = row[ox >> 1];
    return (ox & 1) ? (b & 0x0Fu) : (b >> 4);
}

// Bits of the nibble of output pixel ox that lie inside [lo, hi).
inline unsigned NibbleRange(int32_t ox, int32_t lo, int32_t hi)
{
    unsigned m = 0;
    for (int k = 0; k < 4; ++k) {
        const int32_t p = 4 * ox + k;
        if (p >= lo && p < hi)
            m |= 0x8u >> k;
    }
    return m;
}

// First index in [from, to) whose byte is 0, or to.
inline int32_t NextZero(const uint8_t* p, int32_t from, int32_t to)
{
    while (from + 8 <= to) {
        uint64_t v;
        std::memcpy(&v, p + from, 8);
        if ((v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull)
            break;
        from += 8;
    }
    while (from < to && p[from] != 0)
        ++from;
    return from;
}

void SetBits(uint8_t* row, int32_t lo, int32_t hi)
{
    while (lo < hi && (lo & 7)) {
        row[lo >> 3] |= uint8_t(0x80u >> (lo & 7));
        ++lo;
    }
    const int32_t whole = (hi - lo) >> 3;
    if (whole > 0) {
        std::memset(row + (lo >> 3), 0xFF, size_t(whole));
        lo += whole * 8;
    }
    while (lo < hi) {
        row[lo >> 3] |= uint8_t(0x80u >> (lo & 7));
        ++lo;
    }
}

}  // namespace

namespace tessolo_split {

// Smooth cut on the 4 x 4 bit raster: each output pixel sums 16 for every
// sub-pixel of the region and for the knife sub-pixels just left and right
// of each span, so piece edges are soft and neighbouring pieces share the
// knife; a pixel reaches 255 from 15 counts on. A pixel that only touches
// the region from the row above or below gets 16 at least.
void FillLineBit(CTessolo::FILLCONTEXT& c, int64_t x, int32_t y, uint32_t length)
{
    const int32_t W = c.width;
    const int32_t H = c.height;
    int32_t xl = 0, xr = 0;
    if (!ClipSpan(c, x, y, length, xl, xr))
        return;
    uint8_t* const out = c.output;
    const size_t ostride = c.outputStride;

    const int32_t spanFirst = xl >> 2;
    const int32_t spanLast = (xr - 1) >> 2;
    for (int32_t yy : {y - 1, y + 1}) {
        if (yy < 0 || yy >= H)
            continue;
        const uint8_t* row = c.test + size_t(yy) * c.rowBytes;
        uint8_t* o = out + size_t(yy >> 2) * ostride;
        // Only pixels still at 0 can change: skip the covered ones in words.
        for (int32_t ox = NextZero(o, spanFirst, spanLast + 1); ox <= spanLast;
             ox = NextZero(o, ox + 1, spanLast + 1)) {
            const unsigned range = (ox == spanFirst || ox == spanLast) ? NibbleRange(ox, xl, xr) : 0xFu;
            if (Nibble(row, ox) & range)
                o[ox] = 16;
        }
    }

    const int32_t wl = std::max(xl - 1, 0);
    const int32_t wr = std::min(xr + 1, W);
    SetBits(c.test + size_t(y) * c.rowBytes, wl, wr);
    uint8_t* o = out + size_t(y >> 2) * ostride;
    const int32_t first = wl >> 2;
    const int32_t last = (wr - 1) >> 2;
    auto gain = [](uint8_t& v, int k) {
        const int t = v + 16 * k;
        v = uint8_t(t >= 240 ? 255 : t);
    };
    gain(o[first], __builtin_popcount(NibbleRange(first, wl, wr)));
    if (last > first) {
        // Whole pixels in between gain four sub-pixels each.
        for (int32_t ox = first + 1; ox < last; ++ox) {
            const unsigned t = o[ox] + 64u;
            o[ox] = uint8_t(t >= 240u ? 255u : t);
        }
        gain(o[last], __builtin_popcount(NibbleRange(last, wl, wr)));
    }
    Widen(c, first, std::max(y - 1, 0) >> 2, last + 1, (std::min(y + 1, H - 1) >> 2) + 1);
}

// The byte-raster cases: the plain cut (a knife pixel joins the first region
// that reaches it), the smooth lines mode (a partly covered knife pixel gives
// each region beside it its complement) and the plain lines mode.
void FillLineByte(CTessolo::FILLCONTEXT& c, int64_t x, int32_t y, uint32_t length)
{
    const int32_t W = c.width;
    const int32_t H = c.height;
    int32_t xl = 0, xr = 0;
    if (!ClipSpan(c, x, y, length, xl, xr))
        return;
    uint8_t* test = c.test + size_t(y) * c.width;
    uint8_t* out = c.output + size_t(y) * c.outputStride;
    const uint8_t mark = (c.smooth && c.linesMode) ? 255 : 1;
    std::memset(test + xl, mark, size_t(xr - xl));
    std::memset(out + xl, 255, size_t(xr - xl));
    Widen(c, xl, y, xr, y + 1);
    if (!c.smooth && c.linesMode)
        return;

    // A neighbour position: its test value decides whether this region takes it.
    auto neighbour = [&](int32_t px, int32_t py) {
        uint8_t& t = c.test[size_t(py) * c.width + px];
        uint8_t& o = c.output[size_t(py) * c.outputStride + px];
        if (c.smooth) {
            if (t == 0 || t == 255)
                return;
            o = uint8_t(255 - t);
        } else {
            if (t != 255)
                return;
            t = 254;
            o = 255;
        }
        Widen(c, px, py, px + 1, py + 1);
    };
    const int32_t nl = xl > 0 ? xl - 1 : xl;
    const int32_t nr = std::min(xr + 1, W);
    for (int32_t yy : {y - 1, y + 1})
        if (yy >= 0 && yy < H)
            for (int32_t px = nl; px < nr; ++px)
                neighbour(px, yy);
    if (xl > 0)
        neighbour(xl - 1, y);
    if (xr < W)
        neighbour(xr, y);
}

}  // namespace tessolo_split

unsigned char CTessolo::fTestBounds(qntPOS pos, void* context)
{
    const FILLCONTEXT& c = *static_cast<const FILLCONTEXT*>(context);
    if (pos.x < 0 || pos.y < 0 || pos.x >= c.width || pos.y >= c.height)
        return 1;
    return c.test[size_t(pos.y) * c.width + pos.x] != 0;
}

unsigned char CTessolo::fTestBoundsBit(qntPOS pos, void* context)
{
    const FILLCONTEXT& c = *static_cast<const FILLCONTEXT*>(context);
    if (pos.x < 0 || pos.y < 0 || pos.x >= c.width || pos.y >= c.height)
        return 1;
    return BitRaster::Get(c.test + size_t(pos.y) * c.rowBytes, pos.x) ? 1 : 0;
}

void CTessolo::fFillLine(qntPOS pos, uint32_t length, void* context)
{
    FILLCONTEXT& c = *static_cast<FILLCONTEXT*>(context);
    if (c.smooth && !c.linesMode)
        FillLineBit(c, pos.x, pos.y, length);
    else
        FillLineByte(c, pos.x, pos.y, length);
}

// ---- Nearest cell centre ---------------------------------------------------

// Uniform buckets over the centres; a query searches rings of buckets
// outward until no unsearched bucket can hold a closer centre. The result is
// the one of the plain scan: the smallest squared distance below 1e10, the
// first centre in table order among equal distances.
struct CTessolo::CentreIndex {
    const qntFPOS* centres = nullptr;
    const qntPOS* cells = nullptr;
    uint32_t count = 0;
    double x0 = 0, y0 = 0, size = 1;
    int32_t gw = 0, gh = 0;
    std::vector<uint32_t> start;  // bucket b holds items[start[b] .. start[b + 1])
    std::vector<uint32_t> items;

    void Build(const qntFPOS* c, const qntPOS* k, uint32_t n)
    {
        centres = c;
        cells = k;
        count = n;
        if (n == 0)
            return;
        double x1 = c[0].x, y1 = c[0].y;
        x0 = x1;
        y0 = y1;
        for (uint32_t i = 1; i < n; ++i) {
            x0 = std::min(x0, c[i].x);
            y0 = std::min(y0, c[i].y);
            x1 = std::max(x1, c[i].x);
            y1 = std::max(y1, c[i].y);
        }
        const double side = std::ceil(std::sqrt(double(n)));
        size = std::max({x1 - x0, y1 - y0, 1.0}) / side;
        gw = int32_t(std::min((x1 - x0) / size, 4096.0)) + 1;
        gh = int32_t(std::min((y1 - y0) / size, 4096.0)) + 1;
        start.assign(size_t(gw) * gh + 1, 0);
        for (uint32_t i = 0; i < n; ++i)
            ++start[Bucket(c[i].x, c[i].y) + 1];
        for (size_t b = 1; b < start.size(); ++b)
            start[b] += start[b - 1];
        items.resize(n);
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (uint32_t i = 0; i < n; ++i)  // ascending: each bucket lists its centres in table order
            items[fill[Bucket(c[i].x, c[i].y)]++] = i;
    }

    int32_t Column(double x) const { return std::clamp(int32_t(std::clamp((x - x0) / size, -1.0, 1e6)), 0, gw - 1); }
    int32_t Row(double y) const { return std::clamp(int32_t(std::clamp((y - y0) / size, -1.0, 1e6)), 0, gh - 1); }
    size_t Bucket(double x, double y) const { return size_t(Row(y)) * gw + Column(x); }

    void Nearest(double qx, double qy, int32_t& column, int32_t& row) const
    {
        column = 1;
        row = 1;
        if (count == 0)
            return;
        const int32_t bx = Column(qx);
        const int32_t by = Row(qy);
        double best = 1e10;
        uint32_t bestIndex = UINT32_MAX;
        auto visit = [&](int32_t cx, int32_t cy) {
            const size_t b = size_t(cy) * gw + cx;
            for (uint32_t k = start[b]; k < start[b + 1]; ++k) {
                const uint32_t i = items[k];
                const double dx = centres[i].x - qx;
                const double dy = centres[i].y - qy;
                const double d = dx * dx + dy * dy;
                if (d < best || (bestIndex != UINT32_MAX && d == best && i < bestIndex)) {
                    best = d;
                    bestIndex = i;
                }
            }
        };
        for (int32_t r = 0;; ++r) {
            const int32_t l = bx - r, rt = bx + r, t = by - r, b = by + r;
            for (int32_t cx = std::max(l, 0); cx <= std::min(rt, gw - 1); ++cx) {
                if (t >= 0)
                    visit(cx, t);
                if (b < gh && r > 0)
                    visit(cx, b);
            }
            for (int32_t cy = std::max(t + 1, 0); cy <= std::min(b - 1, gh - 1); ++cy) {
                if (l >= 0)
                    visit(l, cy);
                if (rt < gw && r > 0)
                    visit(rt, cy);
            }
            // The closest a centre outside the searched square can be.
            double bound = 1e300;
            bool more = false;
            if (l > 0) {
                more = true;
                bound = std::min(bound, qx - (x0 + l * size));
            }
            if (rt < gw - 1) {
                more = true;
                bound = std::min(bound, x0 + (rt + 1) * size - qx);
            }
            if (t > 0) {
                more = true;
                bound = std::min(bound, qy - (y0 + t * size));
            }
            if (b < gh - 1) {
                more = true;
                bound = std::min(bound, y0 + (b + 1) * size - qy);
            }
            if (!more)
                break;
            bound = std::max(bound, 0.0) * (1.0 - 1e-9);
            if (bestIndex != UINT32_MAX && bound * bound > best)
                break;
        }
        if (bestIndex != UINT32_MAX) {
            column = cells[bestIndex].x;
            row = cells[bestIndex].y;
        }
    }
};

// ---- Pieces ----------------------------------------------------------------

bool CTessolo::i_AddRectToSplitedCellsStorage(uint8_t* mask, long maskStride, long height, qntRECT_s box,
                                              uint8_t clear, uint8_t** channels, uint32_t channelStride,
                                              uint8_t channelCount, uint8_t* selection, uint32_t selectionStride,
                                              const qntFPOS* centres, const qntPOS* cells, uint32_t centreCount)
{
    CentreIndex index;
    index.Build(centres, cells, centres && cells ? centreCount : 0);
    return i_AddPiece(mask, maskStride, height, box, clear, channels, channelStride, channelCount, selection,
                      selectionStride, &index);
}

bool CTessolo::i_AddPiece(uint8_t* mask, long maskStride, long height, qntRECT_s box, uint8_t clear,
                          uint8_t** channels, uint32_t channelStride, uint8_t channelCount, uint8_t* selection,
                          uint32_t selectionStride, const CentreIndex* centres)
{
    box.left = std::max<int32_t>(box.left, 0);
    box.top = std::max<int32_t>(box.top, 0);
    box.right = int32_t(std::min<long>(box.right, maskStride));
    box.bottom = int32_t(std::min<long>(box.bottom, height));
    if (box.left >= box.right || box.top >= box.bottom)
        return true;
    const uint32_t bw = uint32_t(box.right - box.left);
    const uint32_t bh = uint32_t(box.bottom - box.top);

    int32_t column = 1, row = 1;
    if (centres)
        centres->Nearest((box.left + box.right) / 2.0, (box.top + box.bottom) / 2.0, column, row);

    if (m_nPieces * sizeof(SPLITEDCELL) >= m_memPieces.GetSize()) {
        if (!m_memPieces.Resize((uint64_t(m_nPieces) + kPieceTableStep) * sizeof(SPLITEDCELL))) {
            PlatformMessageBox(kMemoryText, kErrorTitle);
            return false;
        }
        m_pPieces = reinterpret_cast<SPLITEDCELL*>(m_memPieces.GetPtr());
    }

    // Both blocks of the piece exist before it is counted, so that no piece
    // of the table ever lacks its mask or planes.
    CQNF_Mem* maskMem = new (std::nothrow) CQNF_Mem();
    CQNF_Mem* planes = new (std::nothrow) CQNF_Mem();
    const uint64_t area = uint64_t(bw) * bh;
    if (!maskMem || !planes || !maskMem->alloc(area) || !planes->Zalloc(qnMulSize({area, channelCount + 1u}))) {
        delete maskMem;
        delete planes;
        PlatformMessageBox(kMemoryText, kErrorTitle);
        return false;
    }

    SPLITEDCELL& p = m_pPieces[m_nPieces];
    std::memset(&p, 0, sizeof p);
    p.mask = maskMem;
    p.planes = planes;
    p.left = box.left;
    p.top = box.top;
    p.right = box.right;
    p.bottom = box.bottom;
    for (uint8_t k = 0; k < channelCount; ++k) {
        p.sources[k] = channels[k] + size_t(box.top) * channelStride + box.left;
        p.sourceStrides[k] = channelStride;
    }
    p.sources[channelCount] = maskMem->GetPtr();
    p.sourceStrides[channelCount] = bw;
    if (selection) {
        p.selection = selection + size_t(box.top) * selectionStride + box.left;
        p.selectionStride = selectionStride;
    }
    for (uint8_t k = 0; k <= channelCount; ++k) {
        p.planePtrs[k] = planes->GetPtr() + size_t(k) * area;
        p.planeStrides[k] = bw;
    }

    uint8_t* dst = maskMem->GetPtr();
    uint32_t pixels = 0;
    for (uint32_t y = 0; y < bh; ++y) {
        uint8_t* src = mask + size_t(box.top + y) * maskStride + box.left;
        std::memcpy(dst, src, bw);
        for (uint32_t x = 0; x < bw; ++x)
            pixels += dst[x] != 0;
        if (clear)
            std::memset(src, 0, bw);
        dst += bw;
    }
    p.pixels = pixels;
    p.column = column;
    p.row = row;
    p.selected = 0;
    p.shown = 1;
    m_nLargestWidth = std::max<int32_t>(m_nLargestWidth, int32_t(bw));
    m_nLargestHeight = std::max<int32_t>(m_nLargestHeight, int32_t(bh));
    for (int copy : {FX_APPLIED, FX_REQUESTED}) {
        p.colorOverlay[copy] = m_DefColorOverlay;
        p.imageOverlay[copy] = m_DefImageOverlay;
        p.stroke[copy] = m_DefStroke;
        p.hsl[copy] = m_DefHSL;
        p.opacity[copy] = m_DefOpacity;
        p.gaussianBlur[copy] = m_DefGaussianBlur;
        p.motionBlur[copy] = m_DefMotionBlur;
        p.brightnessContrast[copy] = m_DefBrightnessContrast;
        p.bevel[copy] = m_DefBevel;
        p.invert[copy] = m_DefInvert;
    }
    ++m_nPieces;
    return true;
}

// ---- The split -------------------------------------------------------------

bool CTessolo::SplitCells(long width, long height, uint8_t* selection, uint32_t selectionStride, uint8_t** channels,
                          uint32_t channelStride, uint8_t channelCount, uint8_t from, uint8_t to, uint8_t renderAll)
{
    if (m_bBusy)
        return false;
    BusyScope busy(m_bBusy);
    return i_SplitCells(width, height, selection, selectionStride, channels, channelStride, channelCount, from, to,
                        renderAll);
}

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

}  // namespace

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
    const int32_t w = int32_t(width);
    const int32_t h = int32_t(height);

    // Cell centres: where the two diagonals of each cell cross.
    std::vector<qntFPOS> centres;
    std::vector<qntPOS> cells;
    if (m_nKnotColumns >= 2 && m_nKnotRows >= 2) {
        const size_t cellCount = size_t(m_nKnotColumns - 1) * (m_nKnotRows - 1);
        centres.reserve(cellCount);
        cells.reserve(cellCount);
        for (uint32_t r = 0; r + 1 < m_nKnotRows; ++r)
            for (uint32_t c = 0; c + 1 < m_nKnotColumns; ++c) {
                const qntFPOS tl = i_ConvertKnot(c, r, w, h), br = i_ConvertKnot(c + 1, r + 1, w, h);
                const qntFPOS tr = i_ConvertKnot(c + 1, r, w, h), bl = i_ConvertKnot(c, r + 1, w, h);
                unsigned char collinear = 0;
                qntFPOS pt{0, 0};
                if (m_2DMath.IntersectLineSegments_RetPoint({tl.x, tl.y, br.x, br.y}, {tr.x, tr.y, bl.x, bl.y},
                                                            collinear, pt) &&
                    !collinear) {
                    centres.push_back(pt);
                    cells.push_back(qntPOS{int32_t(c + 1), int32_t(r + 1)});
                }
            }
    }
    CentreIndex centreIndex;
    centreIndex.Build(centres.data(), cells.data(), uint32_t(centres.size()));

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

    // Nested steps report inside this call's own range.
    auto inner = [&](double p) { return uint8_t(from + (to - from) * p / 100.0); };

    const bool bits = m_bCut && m_bSmooth;
    CQNF_Mem testMem;
    FILLCONTEXT ctx{};
    if (bits) {
        ctx.width = 4 * w;
        ctx.height = 4 * h;
        ctx.rowBytes = uint32_t((ctx.width + 7) / 8);
        // 8 spare bytes: the raster is read a 64-bit word at a time.
        if (!testMem.alloc(qnMulSize({ctx.rowBytes, uint64_t(ctx.height)}) + 8)) {
            PlatformMessageBox(kMemoryText, kErrorTitle);
            return false;
        }
        std::memset(testMem.GetPtr() + testMem.GetSize() - 8, 0, 8);
        if (!i_ProgressStep(5, from, to))
            return false;
        const uint8_t savedBitMode = m_Drawing.bitMode;
        m_Drawing.bitMode = 1;
        m_bSmooth = 0;
        const bool drawn = i_DrawSplitting(ctx.width, ctx.height, testMem.GetPtr(), ctx.rowBytes, inner(5), inner(20));
        m_bSmooth = 1;
        m_Drawing.bitMode = savedBitMode;
        if (!drawn)
            return false;
    } else {
        ctx.width = w;
        ctx.height = h;
        ctx.rowBytes = uint32_t(w);
        if (!testMem.alloc(qnMulSize({uint64_t(w), uint64_t(h)}) + 8)) {
            PlatformMessageBox(kMemoryText, kErrorTitle);
            return false;
        }
        std::memset(testMem.GetPtr() + testMem.GetSize() - 8, 0, 8);
        if (!i_ProgressStep(3, from, to))
            return false;
        if (!i_DrawSplitting(w, h, testMem.GetPtr(), uint32_t(w), inner(3), inner(20)))
            return false;
    }
    ctx.test = testMem.GetPtr();

    if (!i_ProgressStep(20, from, to))
        return false;
    CQNF_Mem outMem;
    if (!outMem.Zalloc(qnMulSize({uint64_t(w), uint64_t(h)}))) {
        PlatformMessageBox(kMemoryText, kErrorTitle);
        return false;
    }
    ctx.output = outMem.GetPtr();
    ctx.outputStride = uint32_t(w);
    ctx.smooth = m_bSmooth;
    ctx.linesMode = m_bCut ? 0 : 1;
    if (!i_ProgressStep(25, from, to))
        return false;

    // Hole closing: a single free position walled in on all four sides
    // belongs to the knife.
    const BitRaster bitRaster{ctx.test, ctx.rowBytes, ctx.width, ctx.height};
    const ByteRaster byteRaster{ctx.test, uint32_t(w), w, h};
    for (int32_t y = 0; y < ctx.height; ++y) {
        if (!i_ProgressStep(25.0 + 25.0 * y / ctx.height, from, to))
            return false;
        if (bits) {
            CloseHolesBitRow(bitRaster, y);
            continue;
        }
        uint8_t* row = byteRaster.Row(y);
        for (int32_t x = byteRaster.NextFree(row, 0); x < w; x = byteRaster.NextFree(row, x + 1)) {
            const bool l = x == 0 || row[x - 1];
            const bool r = x + 1 >= w || row[x + 1];
            const bool u = y == 0 || row[ptrdiff_t(x) - w];
            const bool d = y + 1 >= h || row[ptrdiff_t(x) + w];
            if (!(l && r && u && d))
                continue;
            if (!m_bSmooth) {
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

    if (!i_ProgressStep(50, from, to))
        return false;
    m_bLinesMode = m_bCut ? 0 : 1;

    // Lines mode: the knife lines themselves are the first piece.
    if (m_bLinesMode) {
        if (selection) {
            qntRECT_s box{w, h, -1, -1};
            for (int32_t y = 0; y < h; ++y) {
                const uint8_t* t = ctx.test + size_t(y) * w;
                const uint8_t* s = selection + size_t(y) * selectionStride;
                uint8_t* o = ctx.output + size_t(y) * w;
                for (int32_t x = 0; x < w; ++x) {
                    o[x] = uint8_t(s[x] * t[x] / 255);
                    if (o[x]) {
                        box.left = std::min(box.left, x);
                        box.right = std::max(box.right, x + 1);
                        box.top = std::min(box.top, y);
                        box.bottom = std::max(box.bottom, y + 1);
                    }
                }
            }
            if (box.right > box.left &&
                !i_AddPiece(ctx.output, w, h, box, 1, channels, channelStride, channelCount, selection,
                            selectionStride, &centreIndex))
                return false;
        } else if (!i_AddPiece(ctx.test, w, h, qntRECT_s{0, 0, w, h}, 0, channels, channelStride, channelCount,
                               nullptr, 0, &centreIndex)) {
            return false;
        }
    }

    if (!i_ProgressStep(55, from, to))
        return false;

    // Every free region becomes one piece, in row-by-row order of its first
    // position.
    SeedStack stack;
    auto region = [&](int32_t sx, int32_t sy) -> int {  // 1 done, 0 failure
        ctx.left = 1000000;
        ctx.top = 1000000;
        ctx.right = -1000000;
        ctx.bottom = -1000000;
        if (bits)
            FillRegion(bitRaster, stack, sx, sy,
                       [&](int32_t x, int32_t y, uint32_t n) { FillLineBit(ctx, x, y, n); });
        else
            FillRegion(byteRaster, stack, sx, sy,
                       [&](int32_t x, int32_t y, uint32_t n) { FillLineByte(ctx, x, y, n); });
        qntRECT_s box{std::max(ctx.left, 0), std::max(ctx.top, 0), std::min(ctx.right, w), std::min(ctx.bottom, h)};
        if (box.left >= box.right || box.top >= box.bottom)
            return 1;
        if (selection) {
            qntRECT_s shrunk{box.right, box.bottom, box.left - 1, box.top - 1};
            for (int32_t y = box.top; y < box.bottom; ++y) {
                uint8_t* o = ctx.output + size_t(y) * w;
                const uint8_t* s = selection + size_t(y) * selectionStride;
                for (int32_t x = box.left; x < box.right; ++x) {
                    o[x] = uint8_t(o[x] * s[x] / 255);
                    if (o[x]) {
                        shrunk.left = std::min(shrunk.left, x);
                        shrunk.right = std::max(shrunk.right, x + 1);
                        shrunk.top = std::min(shrunk.top, y);
                        shrunk.bottom = std::max(shrunk.bottom, y + 1);
                    }
                }
            }
            if (shrunk.right <= shrunk.left)
                return 1;
            box = shrunk;
        }
        if (!i_AddPiece(ctx.output, w, h, box, 1, channels, channelStride, channelCount, selection, selectionStride,
                        &centreIndex))
            return 0;
        if (m_nPieces > kMaxPieces - 1) {
            PlatformMessageBox(kTooManyText, kErrorTitle);
            return 0;
        }
        return 1;
    };

    for (int32_t y = 0; y < ctx.height; ++y) {
        if (!i_ProgressStep(55.0 + 40.0 * y / ctx.height, from, to))
            return false;
        if (bits) {
            const uint8_t* row = bitRaster.Row(y);
            for (int32_t x = bitRaster.NextFree(row, 0); x < ctx.width; x = bitRaster.NextFree(row, x + 1)) {
                if (!region(x, y) || i_Canceled())
                    return false;
            }
        } else {
            const uint8_t* row = byteRaster.Row(y);
            for (int32_t x = byteRaster.NextFree(row, 0); x < w; x = byteRaster.NextFree(row, x + 1)) {
                if (!region(x, y) || i_Canceled())
                    return false;
            }
        }
    }

    if (!i_ProgressStep(95, from, to))
        return false;
    if (m_nPieces > 0) {
        const uint64_t plane = uint64_t(m_nLargestWidth) * uint64_t(m_nLargestHeight);
        const uint64_t need = plane * m_nWorkPlaneCount;
        if (need > m_memWork.GetSize() && !m_memWork.Resize(need)) {
            PlatformMessageBox(kMemoryText, kErrorTitle);
            return false;
        }
        m_nWorkStride = uint32_t(m_nLargestWidth);
        for (uint8_t k = 0; k < 5; ++k)
            m_pWorkPlanes[k] = k < m_nWorkPlaneCount ? m_memWork.GetPtr() + k * plane : nullptr;
    }
    if (!i_ProgressStep(100, from, to))
        return false;
    // The rasters are done with: give their memory back before rendering.
    testMem.free();
    outMem.free();
    if (renderAll)
        for (uint32_t i = 0; i < m_nPieces; ++i)
            i_RenderPiece(i);
    return true;
}
