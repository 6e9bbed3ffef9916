// The stand-in host: pixel requests, advanceState and progress.
#include "hostapp/StandInHostParts.h"

#include <algorithm>
#include <cstring>

namespace hostapp {

using namespace standin;

namespace {

// A host buffer keeps the planes of a pixel side by side. The plane count is
// a constant in the common cases, so that the compiler turns each row into
// vector shuffles instead of one byte at a time.
template <int N>
void PackRowN(const uint8_t* const* planes, size_t at, uint8_t* row, int width)
{
    for (int x = 0; x < width; ++x)
        for (int p = 0; p < N; ++p)
            row[static_cast<size_t>(x) * N + p] = planes[p][at + static_cast<size_t>(x)];
}

template <int N>
void UnpackRowN(const uint8_t* row, uint8_t* const* planes, size_t at, int width)
{
    for (int x = 0; x < width; ++x)
        for (int p = 0; p < N; ++p)
            planes[p][at + static_cast<size_t>(x)] = row[static_cast<size_t>(x) * N + p];
}

// Pixels at..at+width of count planes into one buffer row.
void PackRow(const uint8_t* const* planes, int count, size_t at, uint8_t* row, int width)
{
    switch (count) {
    case 1: std::memcpy(row, planes[0] + at, static_cast<size_t>(width)); return;
    case 2: PackRowN<2>(planes, at, row, width); return;
    case 3: PackRowN<3>(planes, at, row, width); return;
    case 4: PackRowN<4>(planes, at, row, width); return;
    default:
        for (int p = 0; p < count; ++p)
            for (int x = 0; x < width; ++x)
                row[static_cast<size_t>(x) * count + p] = planes[p][at + static_cast<size_t>(x)];
    }
}

// One buffer row back into count planes at at..at+width.
void UnpackRow(const uint8_t* row, int count, uint8_t* const* planes, size_t at, int width)
{
    switch (count) {
    case 1: std::memcpy(planes[0] + at, row, static_cast<size_t>(width)); return;
    case 2: UnpackRowN<2>(row, planes, at, width); return;
    case 3: UnpackRowN<3>(row, planes, at, width); return;
    case 4: UnpackRowN<4>(row, planes, at, width); return;
    default:
        for (int p = 0; p < count; ++p)
            for (int x = 0; x < width; ++x)
                planes[p][at + static_cast<size_t>(x)] = row[static_cast<size_t>(x) * count + p];
    }
}

}  // namespace

// ---- Pixel requests ---------------------------------------------------------

void StandInHost::CommitPending()
{
    if (!m_pending.buffer)
        return;
    const FilterRect16& r = m_pending.rect;
    const int planes = m_pending.hi - m_pending.lo + 1;
    std::vector<uint8_t*> dst(static_cast<size_t>(planes));
    for (int p = 0; p < planes; ++p)
        dst[static_cast<size_t>(p)] = m_working.planes[static_cast<size_t>(m_pending.lo + p)].data();
    for (int y = 0; y < RectHeight(r); ++y) {
        const uint8_t* row = m_pending.buffer.get() + static_cast<size_t>(y) * m_pending.rowBytes;
        const size_t base = static_cast<size_t>(r.top + y) * m_doc.width + r.left;
        UnpackRow(row, planes, dst.data(), base, RectWidth(r));
    }
    m_pending = PendingOutput{};
}

void StandInHost::FillRows(const uint8_t* const* planes, int count, const FilterRect16& rect, uint8_t* buffer,
                           size_t rowBytes) const
{
    const int width = RectWidth(rect);
    const size_t used = static_cast<size_t>(width) * static_cast<size_t>(count);
    for (int y = 0; y < RectHeight(rect); ++y) {
        uint8_t* row = buffer + static_cast<size_t>(y) * rowBytes;
        PackRow(planes, count, static_cast<size_t>(rect.top + y) * m_doc.width + rect.left, row, width);
        // The padding holds a pattern a plug-in that reads it will show.
        std::memset(row + used, 0xA5, rowBytes - used);
    }
}

int16_t StandInHost::DoAdvanceState()
{
    ++m_advanceCalls;
    CommitPending();
    m_inBuffer.reset();
    m_maskBuffer.reset();
    FilterRecord& r = m_record;
    r.inData = nullptr;
    r.outData = nullptr;
    r.maskData = nullptr;
    r.inRowBytes = r.outRowBytes = r.maskRowBytes = 0;

    const bool wantIn = !IsEmpty(r.inRect);
    const bool wantOut = !IsEmpty(r.outRect);
    const bool wantMask = !IsEmpty(r.maskRect);
    const bool absolute = r.wantsAbsolute != 0;
    const int colours = ColorPlanes(m_doc.mode);
    const bool editable = Original().hasAlpha && !m_settings.protectTransparency;
    const FilterRect16& fr = r.filterRect;
    size_t bytes = 0;

    if (wantIn) {
        m_requests.push_back(PixelRequest{'i', r.inRect, r.inLoPlane, r.inHiPlane, absolute});
        if (!Inside(r.inRect, 0, 0, m_doc.width, m_doc.height)) {
            Violation("input request " + RectText(r.inRect) + " outside the image");
            return kHostError;
        }
        if (r.inLoPlane < 0 || r.inHiPlane < r.inLoPlane || r.inHiPlane >= PlaneCount(absolute)) {
            Violation("input request for planes " + std::to_string(r.inLoPlane) + ".." + std::to_string(r.inHiPlane) +
                      " that do not exist");
            return kHostError;
        }
        bytes += static_cast<size_t>(RectWidth(r.inRect)) * RectHeight(r.inRect) * (r.inHiPlane - r.inLoPlane + 1);
    }
    if (wantOut) {
        m_requests.push_back(PixelRequest{'o', r.outRect, r.outLoPlane, r.outHiPlane, false});
        if (!Inside(r.outRect, fr.left, fr.top, fr.right, fr.bottom)) {
            Violation("output request " + RectText(r.outRect) + " outside the filter rectangle");
            return kHostError;
        }
        if (r.outLoPlane < 0 || r.outHiPlane < r.outLoPlane || r.outHiPlane >= PlaneCount(false)) {
            Violation("output request for planes " + std::to_string(r.outLoPlane) + ".." +
                      std::to_string(r.outHiPlane) + " that do not exist");
            return kHostError;
        }
        if (!editable && r.outHiPlane >= colours) {
            Violation("output request for protected transparency");
            return kHostError;
        }
        bytes += static_cast<size_t>(RectWidth(r.outRect)) * RectHeight(r.outRect) * (r.outHiPlane - r.outLoPlane + 1);
    }
    if (wantMask) {
        m_requests.push_back(PixelRequest{'m', r.maskRect, 0, 0, false});
        if (!Inside(r.maskRect, 0, 0, m_doc.width, m_doc.height)) {
            Violation("mask request " + RectText(r.maskRect) + " outside the image");
            return kHostError;
        }
        bytes += static_cast<size_t>(RectWidth(r.maskRect)) * RectHeight(r.maskRect);
    }
    if (m_settings.strictSpace && bytes > static_cast<size_t>(std::max<int32_t>(m_settings.maxSpace, 0))) {
        Violation("requests of " + std::to_string(bytes) + " bytes above the " + std::to_string(m_settings.maxSpace) +
                  " offered");
        return kHostError;
    }

    const size_t pad = static_cast<size_t>(std::max(m_settings.rowPad, 0));
    if (wantIn) {
        const int planes = r.inHiPlane - r.inLoPlane + 1;
        const size_t rowBytes = static_cast<size_t>(RectWidth(r.inRect)) * planes + pad;
        m_inBuffer.reset(new uint8_t[rowBytes * RectHeight(r.inRect)]);
        std::vector<const uint8_t*> src(static_cast<size_t>(planes));
        for (int p = 0; p < planes; ++p)
            src[static_cast<size_t>(p)] = InputPlane(r.inLoPlane + p, absolute)->data();
        FillRows(src.data(), planes, r.inRect, m_inBuffer.get(), rowBytes);
        r.inData = m_inBuffer.get();
        r.inRowBytes = static_cast<int32_t>(rowBytes);
    }
    if (wantOut) {
        const int planes = r.outHiPlane - r.outLoPlane + 1;
        const size_t rowBytes = static_cast<size_t>(RectWidth(r.outRect)) * planes + pad;
        m_pending.buffer.reset(new uint8_t[rowBytes * RectHeight(r.outRect)]);
        std::vector<const uint8_t*> src(static_cast<size_t>(planes));
        for (int p = 0; p < planes; ++p)
            src[static_cast<size_t>(p)] = m_working.planes[static_cast<size_t>(r.outLoPlane + p)].data();
        FillRows(src.data(), planes, r.outRect, m_pending.buffer.get(), rowBytes);
        m_pending.rect = r.outRect;
        m_pending.lo = r.outLoPlane;
        m_pending.hi = r.outHiPlane;
        m_pending.rowBytes = static_cast<int32_t>(rowBytes);
        r.outData = m_pending.buffer.get();
        r.outRowBytes = m_pending.rowBytes;
    }
    if (wantMask && !m_doc.selection.empty()) {
        const size_t rowBytes = static_cast<size_t>(RectWidth(r.maskRect)) + pad;
        m_maskBuffer.reset(new uint8_t[rowBytes * RectHeight(r.maskRect)]);
        for (int y = 0; y < RectHeight(r.maskRect); ++y) {
            const size_t base = static_cast<size_t>(r.maskRect.top + y) * m_doc.width + r.maskRect.left;
            std::memcpy(m_maskBuffer.get() + y * rowBytes, m_doc.selection.data() + base,
                        static_cast<size_t>(RectWidth(r.maskRect)));
        }
        r.maskData = m_maskBuffer.get();
        r.maskRowBytes = static_cast<int32_t>(rowBytes);
    }
    return 0;
}

int16_t StandInHost::AdvanceState()
{
    StandInHost* h = Current();
    return h ? h->DoAdvanceState() : kHostError;
}

uint8_t StandInHost::TestAbort()
{
    StandInHost* h = Current();
    if (!h)
        return 0;
    ++h->m_abortCalls;
    return h->m_settings.abortAfter >= 1 && h->m_abortCalls >= h->m_settings.abortAfter ? 1 : 0;
}

void StandInHost::UpdateProgress(int32_t done, int32_t total)
{
    StandInHost* h = Current();
    if (!h)
        return;
    if (total <= 0 || done < 0 || done > total)
        h->Violation("progress " + std::to_string(done) + " of " + std::to_string(total));
    h->m_progressDone.push_back(done);
    if (h->m_progressListener && total > 0 && done >= 0 && done <= total)
        h->m_progressListener->Progress(static_cast<uint8_t>(int64_t{done} * 100 / total), nullptr);
}

void StandInHost::ProcessEvent(void*)
{
    if (StandInHost* h = Current())
        ++h->m_processEvents;
}

}  // namespace hostapp
