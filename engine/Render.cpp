// Rendering one piece with its effects, and compositing all pieces.
#include "engine/Tessolo.h"
#include "engine/CompositeRow.h"
#include "imaging/ImageFX_Kernels.h"
#include "imaging/Parallel.h"

#include <algorithm>
#include <cstring>

namespace {

bool Contains(const qntRECT_s& outer, const qntRECT_s& inner)
{
    return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
           outer.bottom >= inner.bottom;
}

// One colour row of a piece over the composite. Where the piece's alpha a
// is 0 nothing changes; where the composite is still empty (alpha d of 0)
// the piece's colour is taken; else dst + (a (src - dst) >> 8), the shift
// rounding down. That product needs 17 bits, so it is formed from the two
// 16-bit products a src and a dst: their high bytes' difference, less one
// when the low bytes would borrow. Written without branches, so that the
// compiler runs it in vector lanes.
[[gnu::always_inline]] inline void CompositeColourRow(uint8_t* dst, const uint8_t* src, const uint8_t* pa,
                                                      const uint8_t* da, int32_t n)
{
    for (int32_t x = 0; x < n; ++x) {
        const uint16_t a = pa[x], s = src[x], t = dst[x], d = da[x];
        const uint16_t ps = uint16_t(a * s), pt = uint16_t(a * t);
        const uint16_t borrow = (ps & 0xFFu) < (pt & 0xFFu) ? 1 : 0;
        const uint8_t blend = uint8_t(t + (ps >> 8) - (pt >> 8) - borrow);
        dst[x] = a == 0 ? uint8_t(t) : d == 0 ? uint8_t(s) : blend;
    }
}

// The composite's alpha row under a piece: an empty pixel takes the piece's
// alpha scaled by its opacity; a covered one becomes 255 (two soft edges
// that meet make a whole pixel), or with `screen` (a piece at reduced
// opacity) 255 - ((255 - d) (255 - e) >> 8), e the scaled alpha. Opacity
// 255 is no scaling.
[[gnu::always_inline]] inline void CompositeAlphaRow(uint8_t* da, const uint8_t* pa, int32_t n, uint8_t opacity,
                                                     bool screen)
{
    const uint16_t o = opacity;
    const uint16_t full = screen ? 0 : 255;
    for (int32_t x = 0; x < n; ++x) {
        const uint16_t a = pa[x], d = da[x];
        const uint16_t e = o == 255 ? a : uint16_t((a * o) >> 8);
        const uint16_t over = uint16_t(255 - (((255 - d) * (255 - e)) >> 8));
        const uint8_t covered = uint8_t(full | over);
        da[x] = a == 0 ? uint8_t(d) : d == 0 ? uint8_t(e) : covered;
    }
}

// The rows [t, b) of one piece over the composite, columns [l, l + n);
// with `spans`, row y only in columns [spans[2 (y - t)], spans[2 (y - t) + 1])
// of those. The piece's alpha row is read from its first to its last
// nonzero pixel: found in the row, or given by `pieceSpans` (the piece's
// rowSpans: its alpha is 0 where its mask is).
struct CompositeJob {
    uint8_t* const* dst;
    const uint8_t* const* src;
    const uint32_t* srcStrides;
    uint32_t dstStride;
    uint8_t colours;
    int32_t pieceLeft, pieceTop;
    int32_t l, t, b, n;
    uint8_t opacity;
    bool screen;
    const int32_t* spans;
    const int32_t* pieceSpans;
};

// The composite waits on memory, not arithmetic: a row of a narrow piece,
// or of a piece's part inside a small area, is too short for the processor
// to see a stream and fetch ahead by itself. So each row asks for the lines
// of the row this far below it, in every plane of the piece and the image.
constexpr int32_t kFetchAheadRows = 2;

[[gnu::always_inline]] inline void FetchRow(const CompositeJob& j, size_t srow, size_t drow, int32_t n)
{
    for (uint8_t k = 0; k <= j.colours; ++k)
        for (int32_t x = 0; x < n; x += 64) {
            __builtin_prefetch(j.src[k] + srow + size_t(x));
            __builtin_prefetch(j.dst[k] + drow + size_t(x), 1);
        }
}

[[gnu::always_inline]] inline void CompositeRowsBody(const CompositeJob& j)
{
    uint8_t* const dstAlpha = j.dst[j.colours];
    for (int32_t y = j.t; y < j.b; ++y) {
        int32_t l = j.l, r = j.l + j.n;
        if (j.spans) {
            l = std::max(l, j.spans[2 * (y - j.t)]);
            r = std::min(r, j.spans[2 * (y - j.t) + 1]);
            if (l >= r)
                continue;
        }
        const size_t srow = size_t(y - j.pieceTop) * j.srcStrides[0] + size_t(l - j.pieceLeft);
        const size_t drow = size_t(y) * j.dstStride + size_t(l);
        int32_t x0 = 0, x1 = 0;
        if (j.pieceSpans) {
            const int32_t* ps = j.pieceSpans + 2 * (y - j.pieceTop);
            x0 = std::max(l, j.pieceLeft + ps[0]) - l;
            x1 = std::max(x0, std::min(r, j.pieceLeft + ps[1]) - l);
        } else {
            tessolo_composite::CoveredSpan(j.src[j.colours] + srow, r - l, x0, x1);
        }
        // The rows below cover about what this one does.
        if (y + kFetchAheadRows < j.b && x0 < x1)
            FetchRow(j, srow + size_t(kFetchAheadRows) * j.srcStrides[0] + size_t(x0),
                     drow + size_t(kFetchAheadRows) * j.dstStride + size_t(x0), x1 - x0);
        if (x0 == x1)
            continue;
        const uint8_t* pa = j.src[j.colours] + srow + x0;
        uint8_t* da = dstAlpha + drow + x0;
        // The colours read the composite's alpha before this piece's.
        for (uint8_t k = 0; k < j.colours; ++k)
            CompositeColourRow(j.dst[k] + drow + x0, j.src[k] + srow + x0, pa, da, x1 - x0);
        CompositeAlphaRow(da, pa, x1 - x0, j.opacity, j.screen);
    }
}

void CompositeRowsBase(const CompositeJob& j) { CompositeRowsBody(j); }

#if defined(__x86_64__) || defined(__i386__)
// The same integer steps in wider lanes: the bytes do not change.
[[gnu::target("avx2")]] void CompositeRowsAvx2(const CompositeJob& j) { CompositeRowsBody(j); }
[[QNFX_TARGET_AVX512BW]] void CompositeRowsAvx512(const CompositeJob& j)
{
    CompositeRowsBody(j);
}
#endif

void CompositeRows(const CompositeJob& j)
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool byteLanes512 = __builtin_cpu_supports("avx512bw");
    const qnfx::LaneIsa isa = qnfx::CurrentLaneIsa();
    if (isa == qnfx::LaneIsa::Avx512 && byteLanes512) {
        CompositeRowsAvx512(j);
        return;
    }
    if (isa != qnfx::LaneIsa::Base) {
        CompositeRowsAvx2(j);
        return;
    }
#endif
    CompositeRowsBase(j);
}

// copy(k, y) for every plane k < n and row y < h of a piece: a large piece
// (rendered alone, see i_RenderPieces) in bands of rows on the machine's
// threads, a small one (or one rendered beside others) on this thread.
template <class Copy>
void CopyRows(int32_t w, int32_t h, uint8_t n, Copy&& copy)
{
    constexpr uint64_t kParallelPixels = 1u << 18;
    const unsigned threads = uint64_t(w) * uint64_t(h) >= kParallelPixels ? qnpar::ThreadCount() : 1;
    const uint32_t bands = uint32_t(std::min<int64_t>(h, int64_t(threads) * 4));
    auto band = [&](uint32_t b, unsigned) {
        const int32_t y0 = int32_t(int64_t(h) * b / bands), y1 = int32_t(int64_t(h) * (b + 1) / bands);
        for (uint8_t k = 0; k < n; ++k)
            for (int32_t y = y0; y < y1; ++y)
                copy(k, y);
    };
    if (threads <= 1) {
        for (uint32_t b = 0; b < bands; ++b)
            band(b, 0);
        return;
    }
    qnpar::For(bands, threads, band);
}

}  // namespace

void CTessolo::i_GetColorBytes(const SFX_COLOR& color, uint8_t out[4]) const
{
    if (m_nWorkPlaneCount == 2) {
        std::fill(out, out + 4, color.gray);
    } else if (m_nWorkPlaneCount == 4) {
        if (m_nColorMode == 0) {
            out[0] = out[1] = out[2] = color.gray;
        } else {
            out[0] = color.red;
            out[1] = color.green;
            out[2] = color.blue;
        }
        out[3] = 0;
    } else {
        out[0] = color.cyan;
        out[1] = color.magenta;
        out[2] = color.yellow;
        out[3] = color.black;
    }
}

bool CTessolo::i_SetFXData(CQNF_ImageFX& fx, uint8_t* const* work, uint8_t forward, uint32_t index)
{
    if (index >= m_nPieces)
        return false;
    SPLITEDCELL& p = m_pPieces[index];
    const uint16_t w = uint16_t(p.Width());
    const uint16_t h = uint16_t(p.Height());
    uint8_t* piece[5];
    std::copy(std::begin(p.planePtrs), std::end(p.planePtrs), piece);
    uint8_t* planes[5];
    std::copy(work, work + 5, planes);
    const uint8_t n = m_nWorkPlaneCount;
    if (forward)
        return fx.SetSource(planes, m_nWorkStride, n, 1, w, h) && fx.SetDestination(piece, p.planeStrides[0], n, 1, w, h);
    return fx.SetSource(piece, p.planeStrides[0], n, 1, w, h) && fx.SetDestination(planes, m_nWorkStride, n, 1, w, h);
}

void CTessolo::i_PutDocumentLayerContentToDestinationImage(qntRECT_s box, uint8_t automatic, int32_t layerId)
{
    uint8_t* planes[5] = {};
    uint32_t stride = 0;
    uint8_t count = 0, alpha = 0;
    int32_t w = 0, h = 0;
    m_FX.GetDestination(planes, stride, count, alpha, w, h);
    auto clear = [&]() {
        for (uint8_t k = 0; k < count; ++k)
            for (int32_t y = 0; y < h; ++y)
                std::memset(planes[k] + size_t(y) * stride, 0, size_t(w));
    };
    clear();
    if (!m_bLayerAccess || !m_pHost || !m_pHost->HasDocumentLayers() || w <= 0 || h <= 0)
        return;

    const qntPOS origin = m_pHost->GetFilterOrigin();
    const qntRECT_s doc{box.left + origin.x, box.top + origin.y, box.right + origin.x, box.bottom + origin.y};
    const CTessoloServices::LAYERBOUNDS* table = nullptr;
    uint32_t entries = 0;
    if (!m_pHost->FillRealLayerBounds(doc, table, entries))
        return;

    int32_t id = layerId;
    if (automatic) {
        // The smallest layer that holds the whole piece; a later one of
        // equal size wins. None: the composite.
        id = -1;
        int64_t best = INT64_MAX;
        for (uint32_t i = 0; table && i < entries; ++i) {
            const auto& e = table[i];
            if (e.id == -1 || qnIsNullRect(e.bounds) || !Contains(e.bounds, doc))
                continue;
            const int64_t area = int64_t(e.bounds.right - e.bounds.left) * (e.bounds.bottom - e.bounds.top);
            if (area <= best) {
                best = area;
                id = e.id;
            }
        }
    } else {
        bool found = false;
        for (uint32_t i = 0; table && i < entries && !found; ++i)
            found = table[i].id == layerId && !qnIsNullRect(table[i].bounds) && Contains(table[i].bounds, doc);
        if (!found || layerId == -2)
            return;
    }

    const uint64_t plane = uint64_t(w) * uint64_t(h);
    if (plane * count > m_memOverlay.GetSize() && !m_memOverlay.alloc(plane * count))
        return;
    uint8_t* read[5] = {};
    for (uint8_t k = 0; k < count; ++k)
        read[k] = m_memOverlay.GetPtr() + k * plane;
    if (!m_pHost->GetLayerPixels(id, read, w, h, count, doc))
        return;
    for (uint8_t k = 0; k < count; ++k)
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(planes[k] + size_t(y) * stride, read[k] + size_t(y) * w, size_t(w));
}

bool CTessolo::RenderPiece(uint32_t index)
{
    if (m_bBusy)
        return false;
    BusyScope busy(m_bBusy);
    return i_RenderPiece(index);
}

bool CTessolo::RenderPieces(const uint32_t* indices, uint32_t count)
{
    if (m_bBusy)
        return false;
    BusyScope busy(m_bBusy);
    return i_RenderPieces(indices, count);
}

bool CTessolo::RenderBatchFull(uint32_t pieces, uint64_t pixels, unsigned threads)
{
    return pixels >= uint64_t(threads) * (uint64_t(1) << 20) || pieces >= uint64_t(threads) * 8;
}

bool CTessolo::i_RenderPiece(uint32_t index)
{
    if (index >= m_nPieces || !m_memWork.GetPtr())
        return false;
    return i_RenderPieceWith(index, m_FX, m_pWorkPlanes);
}

bool CTessolo::i_ReadsHostLayers(const SPLITEDCELL& p) const
{
    return m_bLayerAccess && p.imageOverlay[FX_REQUESTED].on;
}

bool CTessolo::i_MarkRenderList(const uint32_t* indices, uint32_t count, std::vector<uint8_t>& skip) const
{
    // A piece listed twice is rendered once: rendering reads only the split
    // image, so a second time would give the same bytes.
    skip.assign(count, 0);
    std::vector<uint8_t> seen(m_nPieces, 0);
    bool outside = false;
    for (uint32_t i = 0; i < count; ++i) {
        if (indices[i] >= m_nPieces) {
            outside = true;
            skip[i] = 1;
        } else if (seen[indices[i]]) {
            skip[i] = 1;
        } else {
            seen[indices[i]] = 1;
        }
    }
    return outside;
}

unsigned CTessolo::i_RenderSlots(uint32_t count, std::vector<uint8_t>& usable)
{
    const unsigned threads = std::max(1u, std::min<unsigned>(qnpar::ThreadCount(), count));
    usable.assign(threads, 1);
    // Every thread past the first gets a filter engine and work planes of
    // its own, the size of the engine's; one that cannot have them renders
    // nothing and leaves its pieces to the calling thread.
    const uint64_t bytes = m_memWork.GetSize();
    const uint64_t plane = uint64_t(m_nLargestWidth) * uint64_t(m_nLargestHeight);
    // A thread's filters take up to 6 bytes a pixel more (the bevel's height
    // map of floats and its two softened planes). Where all threads together
    // would take more than m_nRenderSlotBytes (few, large pieces), the
    // pieces are rendered one after the other, and the filters of each
    // share out its rows among the threads instead.
    if (threads > 1 && (bytes + 6 * plane) * (threads - 1) > m_nRenderSlotBytes)
        return 0;
    if (m_Slots.size() < threads)
        m_Slots.resize(threads);
    for (unsigned t = 1; t < threads; ++t) {
        if (!m_Slots[t])
            m_Slots[t] = std::make_unique<RenderSlot>();
        RenderSlot& slot = *m_Slots[t];
        if (slot.work.GetSize() < bytes && !slot.work.alloc(bytes)) {
            usable[t] = 0;
            continue;
        }
        for (uint8_t k = 0; k < 5; ++k)
            slot.planes[k] = k < m_nWorkPlaneCount ? slot.work.GetPtr() + k * plane : nullptr;
    }
    return threads;
}

bool CTessolo::i_RenderPieceOn(uint32_t index, unsigned worker)
{
    return worker == 0 ? i_RenderPieceWith(index, m_FX, m_pWorkPlanes)
                       : i_RenderPieceWith(index, m_Slots[worker]->fx, m_Slots[worker]->planes);
}

bool CTessolo::i_RenderPieces(const uint32_t* indices, uint32_t count)
{
    if (count == 0)
        return true;
    if (!indices || !m_memWork.GetPtr())
        return false;
    std::vector<uint8_t> done;
    const bool outside = i_MarkRenderList(indices, count, done);
    std::vector<uint8_t> usable;
    const unsigned threads = i_RenderSlots(count, usable);
    if (threads > 1)
        qnpar::For(count, threads, [&](uint32_t i, unsigned worker) {
            const uint32_t index = indices[i];
            if (done[i] || i_ReadsHostLayers(m_pPieces[index]) || !usable[worker])
                return;  // the calling thread's, after the others
            i_RenderPieceOn(index, worker);
            done[i] = 1;
        });
    for (uint32_t i = 0; i < count; ++i)
        if (!done[i])
            i_RenderPieceWith(indices[i], m_FX, m_pWorkPlanes);
    return !outside;
}

bool CTessolo::i_RenderPieceWith(uint32_t index, CQNF_ImageFX& fx, uint8_t* const* work)
{
    SPLITEDCELL& p = m_pPieces[index];
    const int32_t w = p.Width();
    const int32_t h = p.Height();
    const uint8_t n = m_nWorkPlaneCount;

    // The current data: at first the split image's pixels and the mask as
    // alpha, where they lie (a bevel reads them there); copied into the
    // work planes for any other effect.
    enum class Data { Source, Work, Piece } at = Data::Source;
    auto copy = [&](uint8_t* const* to, const uint32_t* toStrides, uint8_t* const* from, const uint32_t* fromStrides,
                    uint8_t planes) {
        CopyRows(w, h, planes, [&](uint8_t k, int32_t y) {
            std::memcpy(to[k] + size_t(y) * toStrides[k], from[k] + size_t(y) * fromStrides[k], size_t(w));
        });
    };
    const uint32_t workStrides[5] = {m_nWorkStride, m_nWorkStride, m_nWorkStride, m_nWorkStride, m_nWorkStride};
    // A piece whose effects leave its alpha alone has its mask for alpha:
    // the mask is then read where it is, not copied into the piece's own
    // plane (a byte a pixel less to write now and to read back for every
    // composite). Any other effect writes the piece's own plane.
    p.planePtrs[n - 1] = p.alpha->GetPtr();
    p.planeStrides[n - 1] = uint32_t(w);
    const bool maskFits = p.sourceStrides[n - 1] == p.planeStrides[0];
    bool maskIsAlpha = false;

    p.opacity[FX_APPLIED] = p.opacity[FX_REQUESTED];

    // Each effect reads the buffer with the current data and writes the
    // other; a filter that fails leaves the current data where it was.
    auto run = [&](auto&& filter) {
        if (at == Data::Source) {
            copy(work, workStrides, p.sources, p.sourceStrides, n);
            at = Data::Work;
        }
        const bool forward = at == Data::Work;
        if (i_SetFXData(fx, work, forward ? 1 : 0, index) && filter())
            at = forward ? Data::Piece : Data::Work;
    };
    uint8_t colour[4];
    uint8_t shadow[4];

    if (p.invert[FX_REQUESTED])
        run([&] { return fx.Invert(); });
    p.invert[FX_APPLIED] = p.invert[FX_REQUESTED];

    if (m_bLayerAccess) {
        const SFX_IMAGEOVERLAY& io = p.imageOverlay[FX_REQUESTED];
        if (io.on)
            run([&] {
                i_PutDocumentLayerContentToDestinationImage(qntRECT_s{p.left, p.top, p.right, p.bottom},
                                                            io.layerChoice == 0, io.layerId);
                return fx.Combine_DonStoD(io.opacity);
            });
        p.imageOverlay[FX_APPLIED] = io;
    }

    const SFX_COLOROVERLAY& co = p.colorOverlay[FX_REQUESTED];
    if (co.on) {
        i_GetColorBytes(co.color, colour);
        run([&] { return fx.ColorOverlay(colour, co.opacity); });
    }
    p.colorOverlay[FX_APPLIED] = co;

    const SFX_HSL& hsl = p.hsl[FX_REQUESTED];
    if (hsl.on && m_nColorMode == 1)
        run([&] { return fx.HSLCorrection(hsl.hue, hsl.saturation, hsl.lightness, 1); });
    p.hsl[FX_APPLIED] = hsl;

    const SFX_BRIGHTNESSCONTRAST& bc = p.brightnessContrast[FX_REQUESTED];
    if (bc.on)
        run([&] { return fx.BrightnessContrast(bc.brightness, bc.contrast, 128); });
    p.brightnessContrast[FX_APPLIED] = bc;

    // A fully opaque colour overlay leaves nothing for a blur to show.
    const bool opaqueOverlay = co.on && co.opacity == 255;
    const SFX_MOTIONBLUR& mb = p.motionBlur[FX_REQUESTED];
    if (mb.on && !opaqueOverlay)
        run([&] { return fx.MotionBlur(double(mb.angle), double(mb.distance), 0, 1); });
    p.motionBlur[FX_APPLIED] = mb;

    const SFX_GAUSSIANBLUR& gb = p.gaussianBlur[FX_REQUESTED];
    if (gb.on && !opaqueOverlay)
        run([&] { return fx.GaussianBlur(double(gb.radius), 0, 1); });
    p.gaussianBlur[FX_APPLIED] = gb;

    const SFX_STROKE& st = p.stroke[FX_REQUESTED];
    if (st.on) {
        i_GetColorBytes(st.color, colour);
        run([&] { return fx.StrokeInside(colour, st.opacity, st.size); });
    }
    p.stroke[FX_APPLIED] = st;

    const SFX_BEVEL& bv = p.bevel[FX_REQUESTED];
    if (bv.on) {
        i_GetColorBytes(bv.highlightColor, colour);
        i_GetColorBytes(bv.shadowColor, shadow);
        auto bevel = [&] {
            return fx.Bevel(bv.size, bv.depth, double(bv.soften), qnt3D_VECTOR{bv.lightX, bv.lightY, bv.lightZ},
                            colour, bv.highlightOpacity, shadow, bv.shadowOpacity);
        };
        // First (the common case, the bevel alone), it reads the split image
        // and the mask where they lie: the colours at the image's stride,
        // the mask at its own.
        bool sameColourStrides = true;
        for (uint8_t k = 1; k + 1 < n; ++k)
            sameColourStrides = sameColourStrides && p.sourceStrides[k] == p.sourceStrides[0];
        if (at == Data::Source && n >= 2 && sameColourStrides && uint32_t(w) >= m_nReadInPlaceWidth) {
            // The bevel passes its alpha through: with the mask as the
            // destination's alpha too, nothing is copied.
            uint8_t* to[5] = {};
            std::copy(p.planePtrs, p.planePtrs + n, to);
            if (maskFits)
                to[n - 1] = p.sources[n - 1];
            if (fx.SetSourceWithAlphaStride(p.sources, p.sourceStrides[0], p.sourceStrides[n - 1], n, uint16_t(w),
                                            uint16_t(h)) &&
                fx.SetDestination(to, p.planeStrides[0], n, 1, uint16_t(w), uint16_t(h)) && bevel()) {
                at = Data::Piece;
                maskIsAlpha = maskFits;
            }
        } else {
            run(bevel);
        }
    }
    p.bevel[FX_APPLIED] = bv;

    if (at == Data::Source) {
        // No effect: the colours as cut, the mask for alpha.
        copy(p.planePtrs, p.planeStrides, p.sources, p.sourceStrides, uint8_t(maskFits ? n - 1 : n));
        maskIsAlpha = maskFits;
    } else if (at == Data::Work) {
        copy(p.planePtrs, p.planeStrides, work, workStrides, n);
    }
    if (maskIsAlpha) {
        p.planePtrs[n - 1] = p.sources[n - 1];
        p.planeStrides[n - 1] = p.sourceStrides[n - 1];
    }
    return true;
}

bool CTessolo::CombineSplitedCells(long width, long height, uint8_t** planes, uint32_t stride, uint8_t planeCount,
                                   uint8_t* selection, uint32_t selectionStride, qntRECT_s rect,
                                   const uint8_t* const* start, uint8_t from, uint8_t to)
{
    if (m_bBusy)
        return false;
    BusyScope busy(m_bBusy);
    if (qnIsNullRect(rect))
        rect = qntRECT_s{0, 0, int32_t(width), int32_t(height)};
    rect.left = std::max<int32_t>(rect.left, 0);
    rect.top = std::max<int32_t>(rect.top, 0);
    rect.right = int32_t(std::min<long>(rect.right, width));
    rect.bottom = int32_t(std::min<long>(rect.bottom, height));
    if (rect.left >= rect.right || rect.top >= rect.bottom)
        return true;
    // A cut of no piece (a picture thinner than the knives of its grid)
    // composites nothing: its alpha covers nothing, as the caller's planes
    // are often fresh memory that would otherwise reach the picture.
    if (m_nPieces == 0) {
        uint8_t* const alpha = planes && planeCount && stride >= uint32_t(width) ? planes[planeCount - 1] : nullptr;
        for (int32_t y = rect.top; alpha && y < rect.bottom; ++y)
            std::memset(alpha + size_t(y) * stride + rect.left, 0, size_t(rect.right - rect.left));
        return true;
    }
    if (!i_ProgressStep(0, from, to))
        return false;
    // The destination must have the pieces' planes: their colours, then alpha.
    if (!planes || planeCount != m_nWorkPlaneCount || stride < uint32_t(width))
        return false;
    for (uint8_t k = 0; k < planeCount; ++k)
        if (!planes[k])
            return false;
    if (!i_ProgressStep(1, from, to))
        return false;

    const uint8_t colours = uint8_t(planeCount - 1);
    uint8_t* const dstAlpha = planes[colours];
    const size_t span = size_t(rect.right - rect.left);
    const unsigned threads = qnpar::ThreadCount();
    // f(y) for every row of the rectangle, in bands on every thread.
    auto eachRow = [&](auto&& f) {
        const int32_t rows = rect.bottom - rect.top;
        const uint32_t bands = uint32_t(std::min<int32_t>(rows, int32_t(threads) * 4));
        qnpar::For(bands, threads, [&](uint32_t part, unsigned) {
            const int32_t top = rect.top + int32_t(int64_t(rows) * part / bands);
            const int32_t bottom = rect.top + int32_t(int64_t(rows) * (part + 1) / bands);
            for (int32_t y = top; y < bottom; ++y)
                f(y);
        });
    };
    eachRow([&](int32_t y) {
        const size_t at = size_t(y) * stride + size_t(rect.left);
        std::memset(dstAlpha + at, 0, span);
        tessolo_composite::StartRow(planes, start, colours, at, span);
    });
    if (!i_ProgressStep(5, from, to))
        return false;

    // Pieces go over the composite in table order, a group at a time: the
    // group's progress steps first (a cancel among them still composites
    // the pieces before it, as one at a time would), then the group in bands
    // of rows on the machine's threads. Every pixel sees the same pieces in
    // the same order whatever the bands, so the bytes do not depend on the
    // thread count; with one thread a group is one piece. A group of one
    // piece (a puzzle of few, large pieces) is still shared out in bands.
    const uint32_t group = threads > 1 ? std::max<uint32_t>(1, m_nPieces / 16) : 1;
    for (uint32_t i0 = 0; i0 < m_nPieces; i0 += group) {
        const uint32_t i1 = std::min(m_nPieces, i0 + group);
        uint32_t stop = i1;
        for (uint32_t i = i0; i < i1; ++i)
            if (!i_ProgressStep(5.0 + 85.0 * i / m_nPieces, from, to)) {
                stop = i;
                break;
            }
        if (threads == 1 || stop == i0) {
            for (uint32_t i = i0; i < stop; ++i)
                i_CompositePiece(m_pPieces[i], planes, stride, colours, rect);
        } else {
            // The bands share out the rows the group's pieces cover.
            int32_t groupTop = rect.bottom, groupBottom = rect.top;
            for (uint32_t i = i0; i < stop; ++i) {
                groupTop = std::min(groupTop, std::max(m_pPieces[i].top, rect.top));
                groupBottom = std::max(groupBottom, std::min(m_pPieces[i].bottom, rect.bottom));
            }
            const int32_t groupRows = groupBottom - groupTop;
            const uint32_t groupBands = uint32_t(std::clamp<int32_t>(groupRows, 0, int32_t(threads) * 4));
            qnpar::For(groupBands, threads, [&](uint32_t part, unsigned) {
                const int32_t top = groupTop + int32_t(int64_t(groupRows) * part / groupBands);
                const int32_t bottom = groupTop + int32_t(int64_t(groupRows) * (part + 1) / groupBands);
                for (uint32_t i = i0; i < stop; ++i)
                    i_CompositePiece(m_pPieces[i], planes, stride, colours,
                                     qntRECT_s{rect.left, top, rect.right, bottom});
            });
        }
        if (stop < i1)
            return false;
    }

    if (!i_ProgressStep(90, from, to))
        return false;
    if (selection)
        eachRow([&](int32_t y) {
            tessolo_composite::LimitToSelection(dstAlpha + size_t(y) * stride + rect.left,
                                                selection + size_t(y) * selectionStride + rect.left, int32_t(span));
        });
    return i_ProgressStep(100, from, to);
}

// One piece over the composite, inside rect.
void CTessolo::i_CompositePiece(const SPLITEDCELL& p, uint8_t** planes, uint32_t stride, uint8_t colours,
                                qntRECT_s rect, const int32_t* spans) const
{
    const SFX_OPACITY op = p.opacity[FX_APPLIED];
    if (!p.shown || (op.on && op.opacity == 0))
        return;
    const int32_t l = std::max(p.left, rect.left), r = std::min(p.right, rect.right);
    const int32_t t = std::max(p.top, rect.top), b = std::min(p.bottom, rect.bottom);
    if (l >= r || t >= b)
        return;
    const bool reduced = op.on && op.opacity < 255;
    const uint8_t opacity = reduced ? op.opacity : 255;
    CompositeRows(CompositeJob{planes, p.planePtrs, p.planeStrides, stride, colours, p.left, p.top, l, t, b, r - l,
                               opacity, reduced, spans ? spans + 2 * size_t(t - rect.top) : nullptr,
                               spans ? p.rowSpans : nullptr});
}
