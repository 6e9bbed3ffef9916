// The resolving members of the high-quality frame: empty tiles cleared,
// every subsample's list composited front to back, and the box downsampling
// into the caller's planes. Included by HQFrame.h only.
#pragma once

#include "surface3d/HQFrame.h"

namespace s3d::hq {

// Uncovered pixels of an empty tile: alpha 0, colours kept.
template <class Lighting>
void Frame<Lighting>::ClearTile(int32_t ox, int32_t oy, int32_t tw, int32_t th)
{
    for (int32_t py = oy; py < oy + th; ++py)
        std::memset(m_r.dst[0] + static_cast<uint64_t>(py) * m_r.dstStride + ox, 0, static_cast<size_t>(tw));
}

// Every list of two or more fragments composited front to back into its head
// (non-premultiplied "over", stopping once opaque), then each output pixel
// the mean of its q x q subsamples: alpha over all of them (empty ones 0),
// colour over the covered ones only (kept where none is).
template <class Lighting>
void Frame<Lighting>::ResolveTile(int32_t ox, int32_t oy, int32_t tw, int32_t th)
{
    // The usual supersampling and channel counts get loops the compiler lays
    // out in full; the others take the general form.
    const bool four = m_r.channels == 4;
    switch (m_r.q) {
    case 1:
        return four ? ResolveRows<1, 4>(ox, oy, tw, th) : ResolveRows<1, 0>(ox, oy, tw, th);
    case 2:
        return four ? ResolveRows<2, 4>(ox, oy, tw, th) : ResolveRows<2, 0>(ox, oy, tw, th);
    default:
        return ResolveRows<0, 0>(ox, oy, tw, th);
    }
}

// QC, NC: supersampling and channel count when known at compile time, else 0.
template <class Lighting>
template <int QC, int NC>
void Frame<Lighting>::ResolveRows(int32_t ox, int32_t oy, int32_t tw, int32_t th)
{
    const int32_t q = QC ? QC : static_cast<int32_t>(m_r.q);
    const uint32_t n = NC ? NC : m_r.channels;
    const uint32_t qq = static_cast<uint32_t>(q * q);
    Fragment* pool = m_pool;
    // Quotients by 1..q^2 as a multiply and a shift: x / d = (x * ceil(2^40 / d)) >> 40
    // holds exactly while x * d < 2^40, and here x <= 255 q^2, d <= q^2.
    const uint64_t* recip = m_recip.data();
    auto div = [recip](uint32_t x, uint32_t d) { return static_cast<uint8_t>((x * recip[d]) >> 40); };
    for (int32_t py = 0; py < th; ++py) {
        const uint64_t row = static_cast<uint64_t>(oy + py) * m_r.dstStride + static_cast<uint64_t>(ox);
        uint8_t* dst[5];
        for (uint32_t c = 0; c < n; ++c)
            dst[c] = m_r.dst[c] + row;
        if (q == 1) {
            const uint32_t* h = m_heads + static_cast<size_t>(py) * m_stride;
            // A one-fragment list lies in its subsample's own slot: the usual
            // lists are read in memory order.
            for (int32_t px = 0; px < tw; ++px) {
                if (h[px] == kEnd) {
                    dst[0][px] = 0;
                    continue;
                }
                Fragment& f = pool[h[px]];
                if (f.next != kEnd)
                    Composite(pool, h[px]);
                dst[0][px] = f.alpha;
                for (uint32_t c = 1; c < n; ++c)
                    dst[c][px] = f.colour[c - 1];
            }
            continue;
        }
#if defined(__SSE2__)
        if constexpr (QC == 2) {
            // Four subsamples: alpha and colour bytes summed side by side in
            // 16-bit lanes (at most 4 x 255 each); the full pixels' means are
            // shifts, the same quotients as the divisions.
            const uint32_t* h0 = m_heads + static_cast<size_t>(2 * py) * m_stride;
            const uint32_t* h1 = h0 + m_stride;
            const __m128i zero = _mm_setzero_si128();
            for (int32_t px = 0; px < tw; ++px) {
                const uint32_t at[4] = {h0[2 * px], h0[2 * px + 1], h1[2 * px], h1[2 * px + 1]};
                __m128i sum = zero;
                uint32_t covered = 0;
                for (uint32_t k : at) {
                    if (k == kEnd)
                        continue;
                    Fragment& f = pool[k];
                    if (f.next != kEnd)
                        Composite(pool, k);
                    sum = _mm_add_epi16(sum, _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&f.alpha)), zero));
                    ++covered;
                }
                alignas(16) uint16_t s[8];
                _mm_store_si128(reinterpret_cast<__m128i*>(s), sum);
                dst[0][px] = static_cast<uint8_t>(s[0] >> 2);
                if (covered == 4)
                    for (uint32_t c = 1; c < n; ++c)
                        dst[c][px] = static_cast<uint8_t>(s[c] >> 2);
                else if (covered)
                    for (uint32_t c = 1; c < n; ++c)
                        dst[c][px] = div(s[c], covered);
            }
            continue;
        }
#endif
        for (int32_t px = 0; px < tw; ++px) {
            uint32_t sumA = 0, covered = 0, sumC[4] = {0, 0, 0, 0};
            for (int32_t sy = 0; sy < q; ++sy) {
                const uint32_t* h = m_heads + static_cast<size_t>(py * q + sy) * m_stride + px * q;
                for (int32_t sx = 0; sx < q; ++sx) {
                    if (h[sx] == kEnd)
                        continue;
                    Fragment& f = pool[h[sx]];
                    if (f.next != kEnd)
                        Composite(pool, h[sx]);
                    sumA += f.alpha;
                    ++covered;
                    for (uint32_t c = 1; c < n; ++c)
                        sumC[c - 1] += f.colour[c - 1];
                }
            }
            dst[0][px] = div(sumA, qq);
            if (covered)
                for (uint32_t c = 1; c < n; ++c)
                    dst[c][px] = div(sumC[c - 1], covered);
        }
    }
}

// One list of two or more fragments composited front to back into its head:
// repeatedly the nearest fragment not yet taken (the one nearest the head
// among equal depths), non-premultiplied "over", until opaque.
template <class Lighting>
void Frame<Lighting>::Composite(Fragment* pool, uint32_t first)
{
    const uint32_t n = m_r.channels;
    uint32_t A = 0;
    int32_t acc[7] = {};
    while (A != 255) {
        uint32_t best = kEnd;
        float bestDepth = kTaken;
        for (uint32_t j = first; j != kEnd; j = pool[j].next)
            if (pool[j].depth < bestDepth) {
                bestDepth = pool[j].depth;
                best = j;
            }
        if (best == kEnd)
            break;
        Fragment& f = pool[best];
        const int32_t a = f.alpha;
        if (A == 0) {
            A = static_cast<uint32_t>(a);
            for (uint32_t c = 1; c < n; ++c)
                acc[c - 1] = f.colour[c - 1];
        } else {
            const int32_t Ai = static_cast<int32_t>(A);
            const int32_t den = (Ai + a) * 255 - Ai * a;
            for (uint32_t c = 1; c < n; ++c) {
                const int32_t C = f.colour[c - 1];
                acc[c - 1] = ((a * C + acc[c - 1] * Ai) * 255 - C * Ai * a) / den;
            }
            A = static_cast<uint32_t>(Ai + a - (Ai * a) / 255) & 0xFF;
        }
        f.depth = kTaken;
    }
    Fragment& head = pool[first];
    head.alpha = static_cast<uint8_t>(A);
    for (uint32_t c = 1; c < n; ++c)
        head.colour[c - 1] = static_cast<uint8_t>(acc[c - 1]);
}

}  // namespace s3d::hq
