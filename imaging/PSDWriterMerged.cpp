// The PSD writer's merged image: composited from the layers, or taken from
// the caller, over white, packed and written after the layers.
#include "imaging/PSDWriterParts.h"

#include "imaging/Div255.h"
#include "imaging/Image.h"
#include "imaging/RowScan.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using qnpsd::PutU16;
using qnpsd::PutU32;
using qnpsdw::kKeptBytes;
using qnpsdw::kMergedBandRows;
using qnpsdw::RowStore;

namespace {

// d over by s with coverage a, at full opacity: (d x (255 - a) + s x a) / 255,
// truncated; with White, d is taken as white (255) whatever it holds. A
// piece is mostly wholly covered or wholly clear, and there the result is s
// (255 s / 255) or d itself: blocks of either kind take a copy or nothing
// (white), and only the blocks along edges are blended.
template <bool White = false>
void OverOpaque(unsigned char* d, const unsigned char* s, const unsigned char* a, int32_t n)
{
    constexpr int32_t kBlock = 32;
    auto blend = [&](int32_t from, int32_t to) {
        for (int32_t i = from; i < to; ++i) {
            const uint16_t under = White ? 255 : d[i];
            d[i] = static_cast<unsigned char>(qnDivBy255(static_cast<uint16_t>(under * (255 - a[i]) + a[i] * s[i])));
        }
    };
    int32_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        uint64_t all = ~uint64_t{0}, any = 0;
        for (int32_t k = 0; k < kBlock; k += 8) {
            uint64_t v;
            std::memcpy(&v, a + i + k, 8);
            all &= v;
            any |= v;
        }
        if (all == ~uint64_t{0})
            std::memcpy(d + i, s + i, kBlock);
        else if (any)
            blend(i, i + kBlock);
        else if (White)
            std::memset(d + i, 255, kBlock);
    }
    blend(i, n);
}

}  // namespace

bool CQNF_ImagePSD::Writer::Spans()
{
    const auto& layers = m_c.m_writeLayers;
    try {
        m_spans.assign(layers.size(), {});
        for (size_t i = 0; i < layers.size(); ++i) {
            const WriteLayer& l = *layers[i];
            const auto& p = l.params;
            if (!Shows(p))
                continue;
            std::vector<uint32_t>& s = m_spans[i];
            s.resize(size_t{p.height} * 2);
            for (uint32_t y = 0; y < p.height; ++y) {
                const unsigned char* a = l.planes[m_n] + size_t{y} * l.stride;
                const uint32_t first = qnFirstNonZero(a, p.width);
                s[2 * y] = first;
                s[2 * y + 1] = qnEndNonZero(a, first, p.width);
            }
        }
    } catch (const std::bad_alloc&) {
        m_c.SetError(qncodec::ErrMemory);
        return false;
    }
    return true;
}

// The caller's colour s with transparency a over white: (s a + 255 (255 - a))
// / 255, as a host puts a picture with transparency on a white ground.
void CQNF_ImagePSD::Writer::GivenMergedBand(uint32_t c, uint32_t y0, uint32_t rows, unsigned char* canvas) const
{
    const uint32_t W = P().width;
    const size_t stride = m_c.m_mergedStride;
    for (uint32_t y = 0; y < rows; ++y) {
        const unsigned char* s = m_c.m_merged[c] + size_t{y0 + y} * stride;
        const unsigned char* a = m_c.m_merged[m_n] + size_t{y0 + y} * stride;
        OverOpaque<true>(canvas + size_t{y} * W, s, a, static_cast<int32_t>(W));
    }
}

bool CQNF_ImagePSD::Writer::MakeMerged()
{
    const uint32_t W = P().width;
    const size_t plane = size_t{W} * P().height;
    // The colours and the transparency in blocks of their own: the
    // transparency is let go as soon as the colours lie over white, before
    // the rows' plans are made.
    CQNF_Mem alpha;
    if (!m_made.alloc(qnMulSize({m_n, plane})) || !alpha.alloc(plane)) {
        m_c.SetError(qncodec::ErrMemory);
        return false;
    }
    unsigned char* planes[5] = {};
    for (uint32_t c = 0; c < m_n; ++c)
        planes[c] = m_made.GetPtr() + c * plane;
    planes[m_n] = alpha.GetPtr();
    if (!m_c.m_mergedSource(planes))
        return false;
    // Over white a row at a time, through the scratch's canvas row.
    unsigned char* canvas = m_scratch.GetPtr() + (m_scratch.GetSize() - W);
    for (uint32_t c = 0; c < m_n; ++c)
        for (size_t at = 0; at < plane; at += W) {
            OverOpaque<true>(canvas, planes[c] + at, planes[m_n] + at, static_cast<int32_t>(W));
            std::memcpy(planes[c] + at, canvas, W);
        }
    return true;
}

void CQNF_ImagePSD::Writer::MergedBand(uint32_t c, uint32_t y0, uint32_t rows, unsigned char* canvas) const
{
    const uint32_t W = P().width;
    std::memset(canvas, 255, size_t{W} * rows);
    const int32_t bandTop = int32_t(y0), bandBottom = int32_t(y0 + rows);
    const auto& layers = m_c.m_writeLayers;
    for (size_t li = 0; li < layers.size(); ++li) {
        const WriteLayer& l = *layers[li];
        const auto& p = l.params;
        // Hidden layers stay out of the merged image, which is what other
        // programs show for the document.
        if (!Shows(p))
            continue;
        const int32_t top = p.y;
        const int32_t t = std::max(top, bandTop);
        const int32_t b = std::min(top + int32_t(p.height), bandBottom);
        const int32_t x0 = p.x < 0 ? 0 : p.x;
        const int32_t x1 = p.x + p.width > int32_t(W) ? int32_t(W) : p.x + p.width;
        if (t >= b || x0 >= x1)
            continue;
        const uint32_t o = p.opacity;
        const uint32_t* span = m_spans[li].data();
        for (int32_t y = t; y < b; ++y) {
            // Fully transparent pixels keep d as it is (d x 255 / 255): only
            // the part of the row between the first and the last covering
            // pixel is worked on.
            const size_t r = size_t(y - top);
            const int32_t from = std::max(x0, p.x + int32_t(span[2 * r]));
            const int32_t to = std::min(x1, p.x + int32_t(span[2 * r + 1]));
            if (from >= to)
                continue;
            const size_t rowOff = r * l.stride + size_t(from - p.x);
            const unsigned char* s = l.planes[c] + rowOff;
            const unsigned char* a = l.planes[m_n] + rowOff;
            unsigned char* d = canvas + size_t(y - bandTop) * W + from;
            const int32_t n = to - from;
            // Without a test for zero coverage: the loop stays vector code,
            // in 16-bit lanes: no product here exceeds 255 x 255. At full
            // opacity the effective coverage a x 255 / 255 is a itself.
            if (o == 255) {
                OverOpaque(d, s, a, n);
                continue;
            }
            for (int32_t i = 0; i < n; ++i) {
                const uint16_t ae = qnDivBy255(static_cast<uint16_t>(a[i] * o));
                d[i] = static_cast<unsigned char>(
                    qnDivBy255(static_cast<uint16_t>(d[i] * (255 - ae) + ae * s[i])));
            }
        }
    }
}

template <typename Row>
bool CQNF_ImagePSD::Writer::MergedRows(uint32_t progressFrom, uint32_t progressSpan, Row row)
{
    const uint32_t W = P().width;
    const uint32_t H = P().height;
    const bool given = m_c.m_mergedGiven;
    const bool made = m_made.GetPtr() != nullptr;
    // The scratch holds the packing buffer first, then a band of canvas
    // rows: the layers are composited a band at a time, each layer's rows
    // in one go, instead of every layer visited for every row.
    unsigned char* canvas =
        made ? nullptr : m_scratch.GetPtr() + (m_scratch.GetSize() - size_t{W} * kMergedBandRows);
    for (uint32_t c = 0; c < m_n; ++c) {
        if (!Report(progressFrom + progressSpan * c / m_n))
            return false;
        for (uint32_t y0 = 0; y0 < H; y0 += kMergedBandRows) {
            const uint32_t rows = std::min(kMergedBandRows, H - y0);
            if (made) {
                // Over white already: the rows as they lie.
                for (uint32_t y = y0; y < y0 + rows; ++y)
                    if (!row(c, y, m_made.GetPtr() + (size_t{c} * H + y) * W))
                        return false;
                continue;
            }
            if (given)
                GivenMergedBand(c, y0, rows, canvas);
            else
                MergedBand(c, y0, rows, canvas);
            for (uint32_t y = y0; y < y0 + rows; ++y)
                if (!row(c, y, canvas + size_t{y - y0} * W))
                    return false;
        }
    }
    return true;
}

bool CQNF_ImagePSD::Writer::Merged()
{
    const uint32_t W = P().width;
    const uint32_t H = P().height;
    if (m_c.m_mergedSource && !MakeMerged())
        return false;
    std::vector<unsigned char> table;
    try {
        table.assign(size_t{m_n} * H * 2, 0);
    } catch (const std::bad_alloc&) {
        m_c.SetError(qncodec::ErrMemory);
        return false;
    }
    const bool given = m_c.m_mergedGiven || m_made.GetPtr();
    if (!given && !Spans())
        return false;
    // The row table comes before the rows: they are packed once for it and
    // kept while they fit, else packed again to be written. The layers'
    // merged image is kept packed, composited once; the caller's picture
    // over white costs next to nothing to make again, so only its plans
    // are kept, and its rows are made again and written by them.
    RowStore& kept = m_plans;
    kept.Clear();
    bool keep = true;
    unsigned char* out = m_scratch.GetPtr();
    const auto measure = [&](uint32_t c, uint32_t y, const unsigned char* row) {
        long n = 0;
        long keeping = 0;
        if (given) {
            n = PackBitsPlan(row, W, out, &keeping);
        } else {
            PackBits(row, W, out, &n);
            keeping = n;
        }
        PutU16(table.data() + 2 * (size_t{c} * H + y), static_cast<uint16_t>(n));
        const auto k = static_cast<size_t>(keeping);
        if (keep && (kept.Size() + k > kKeptBytes || !kept.Add(out, k))) {
            keep = false;
            kept.Clear();
        }
        return true;
    };
    uint64_t packed = 0;
    if (!MergedRows(60, 20, measure))
        return false;
    for (size_t i = 0; i < table.size(); i += 2)
        packed += (size_t{table[i]} << 8) | table[i + 1];
    if (!Fits(m_written + 2 + table.size() + packed) || !U16(1) || !Put(table.data(), table.size()))
        return false;
    if (keep && !given)
        return kept.Each([this](const unsigned char* p, size_t n) { return Put(p, n); });
    return MergedRows(80, 20, [&](uint32_t, uint32_t, const unsigned char* row) {
        long n = 0;
        if (keep)
            kept.Took(PackBitsByPlan(row, W, kept.Next(), out, &n));
        else
            PackBits(row, W, out, &n);
        return Put(out, static_cast<size_t>(n));
    });
}
