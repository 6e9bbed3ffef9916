// The stand-in host: pixel requests, advanceState and progress.
#include "hostapp/StandInHostParts.h"

#include <algorithm>
#include <cstring>

namespace hostapp {

using namespace standin;

// ---- Pixel requests ---------------------------------------------------------

void StandInHost::CommitPending()
{
    if (!m_pending.buffer)
        return;
    const FilterRect16& r = m_pending.rect;
    const int planes = m_pending.hi - m_pending.lo + 1;
    for (int y = 0; y < RectHeight(r); ++y) {
        const uint8_t* row = m_pending.buffer.get() + static_cast<size_t>(y) * m_pending.rowBytes;
        for (int p = 0; p < planes; ++p) {
            std::vector<uint8_t>& plane = m_working.planes[static_cast<size_t>(m_pending.lo + p)];
            const size_t base = static_cast<size_t>(r.top + y) * m_doc.width + r.left;
            for (int x = 0; x < RectWidth(r); ++x)
                plane[base + x] = row[static_cast<size_t>(x) * planes + p];
        }
    }
    m_pending = PendingOutput{};
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
    const bool editable = m_original.hasAlpha && !m_settings.protectTransparency;
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
        std::memset(m_inBuffer.get(), 0xA5, rowBytes * RectHeight(r.inRect));
        for (int p = 0; p < planes; ++p) {
            const std::vector<uint8_t>& plane = *InputPlane(r.inLoPlane + p, absolute);
            for (int y = 0; y < RectHeight(r.inRect); ++y) {
                const size_t base = static_cast<size_t>(r.inRect.top + y) * m_doc.width + r.inRect.left;
                uint8_t* row = m_inBuffer.get() + y * rowBytes;
                for (int x = 0; x < RectWidth(r.inRect); ++x)
                    row[static_cast<size_t>(x) * planes + p] = plane[base + x];
            }
        }
        r.inData = m_inBuffer.get();
        r.inRowBytes = static_cast<int32_t>(rowBytes);
    }
    if (wantOut) {
        const int planes = r.outHiPlane - r.outLoPlane + 1;
        const size_t rowBytes = static_cast<size_t>(RectWidth(r.outRect)) * planes + pad;
        m_pending.buffer.reset(new uint8_t[rowBytes * RectHeight(r.outRect)]);
        std::memset(m_pending.buffer.get(), 0xA5, rowBytes * RectHeight(r.outRect));
        for (int p = 0; p < planes; ++p) {
            const std::vector<uint8_t>& plane = m_working.planes[static_cast<size_t>(r.outLoPlane + p)];
            for (int y = 0; y < RectHeight(r.outRect); ++y) {
                const size_t base = static_cast<size_t>(r.outRect.top + y) * m_doc.width + r.outRect.left;
                uint8_t* row = m_pending.buffer.get() + y * rowBytes;
                for (int x = 0; x < RectWidth(r.outRect); ++x)
                    row[static_cast<size_t>(x) * planes + p] = plane[base + x];
            }
        }
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
