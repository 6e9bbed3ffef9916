// The three ways a result goes back into the host's image, and the composite
// alpha they rely on.
#include "host/PluginMain.h"

#include "engine/CompositeRow.h"
#include "imaging/Div255.h"
#include "imaging/Image.h"
#include "imaging/Parallel.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

namespace {

// The largest work rectangle a shrink may produce.
constexpr int32_t kMaxWorkSide = 30000;

// A colour byte f over a background byte b with coverage m.
inline uint8_t Blend(uint32_t f, uint32_t b, uint32_t m)
{
    return static_cast<uint8_t>(qnDivBy255(static_cast<uint16_t>(f * m + b * (255 - m))));
}

// Renders every piece, in groups on every core (the same bytes as one at a
// time), and moves the host's progress bar from `from` to `to` between
// groups, on this thread: a group is a few pieces per thread, so the threads
// stay busy and the bar still moves. False when the engine refuses.
bool RenderAllPieces(CTessolo& engine, CHostProgress& progress, uint32_t pieces, int from, int to)
{
    const uint32_t group = std::max<uint32_t>(1, 4 * qnpar::ThreadCount());
    std::vector<uint32_t> order(pieces);
    std::iota(order.begin(), order.end(), 0u);
    int lastReported = from;
    for (uint32_t i0 = 0; i0 < pieces; i0 += group) {
        const int percent = from + static_cast<int>(static_cast<uint64_t>(to - from) * i0 / pieces);
        if (percent != lastReported) {
            lastReported = percent;
            progress.Progress(static_cast<uint8_t>(percent), nullptr);
        }
        if (!engine.RenderPieces(order.data() + i0, std::min(group, pieces - i0)))
            return false;
    }
    return true;
}

}  // namespace

void CPluginMain::i_BeginApply()
{
    m_HostProgress.SetUserDataPtr(this);
    m_HostProgress.Restart();
    m_Engine.m_pProgress = &m_HostProgress;
    m_HostProgress.Progress(0, nullptr);
}

void CPluginMain::i_EndApply(bool ok)
{
    if (ok)
        m_HostProgress.Progress(100, nullptr);
    m_Engine.m_pProgress = nullptr;
}

bool CPluginMain::PrepareCompositeAlpha(uint8_t wanted)
{
    ResetError();
    PLUGINDATA& d = m_Data;
    qntRECT_s work = d.filterRect;
    int32_t w = work.right - work.left;
    int32_t h = work.bottom - work.top;
    if (w <= 0 || h <= 0) {
        SetError(qnerr::BadArgument);
        return false;
    }
    m_rcHanded = work;
    const uint8_t transparencyPlane = static_cast<uint8_t>(d.planes - 1);
    CQNF_Mem scratch;

    // A layer without selection is worked on only where it is opaque.
    if (d.hasTransparency && !d.hostMask && !d.withSelection) {
        if (!scratch.alloc(qnMulSize({static_cast<uint64_t>(w), static_cast<uint64_t>(h)}))) {
            SetError(scratch.GetError());
            return false;
        }
        if (!HostGetChanel(transparencyPlane, work, scratch.GetPtr(), static_cast<uint32_t>(w)))
            return false;
        // A layer with no opaque pixel at all keeps the whole rectangle: the
        // knife lines can still be drawn onto it.
        int32_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        if (tessolo_composite::OpaqueBox(scratch.GetPtr(), w, h, x0, y0, x1, y1)) {
            const qntRECT_s shrunk{work.left + x0, work.top + y0, work.left + x1, work.top + y1};
            if (shrunk.right - shrunk.left > kMaxWorkSide || shrunk.bottom - shrunk.top > kMaxWorkSide) {
                SetError(qnerr::BadArgument);
                return false;
            }
            work = shrunk;
            d.filterRect = work;
            d.documentRect = qntRECT_s{work.left + d.offset.x, work.top + d.offset.y, work.right + d.offset.x,
                                       work.bottom + d.offset.y};
            w = work.right - work.left;
            h = work.bottom - work.top;
        }
    }

    // The alpha plane matches the work rectangle; the old one goes.
    m_nAlphaWidth = w;
    m_nAlphaHeight = h;
    m_memAlpha.free();
    m_pAlpha = nullptr;
    // Nothing more unless an alpha plane is wanted.
    if (!wanted)
        return true;
    // Allocate it.
    const uint64_t n = qnMulSize({static_cast<uint64_t>(w), static_cast<uint64_t>(h)});
    if (!m_memAlpha.alloc(n)) {
        SetError(m_memAlpha.GetError());
        return false;
    }
    m_pAlpha = m_memAlpha.GetPtr();
    // Fill it: transparency, selection, or opaque.
    if (d.hasTransparency) {
        if (!HostGetChanel(transparencyPlane, work, m_pAlpha, static_cast<uint32_t>(w)))
            return false;
    } else if (d.hostMask) {
        return HostGetChanel(255, work, m_pAlpha, static_cast<uint32_t>(w));
    } else {
        std::memset(m_pAlpha, 255, n);
        return true;
    }
    // Transparency and selection together.
    if (!d.hostMask)
        return true;
    if (scratch.GetSize() < n && !scratch.alloc(n)) {
        SetError(scratch.GetError());
        return false;
    }
    if (!HostGetChanel(255, work, scratch.GetPtr(), static_cast<uint32_t>(w)))
        return false;
    const uint8_t* sel = scratch.GetPtr();
    for (uint64_t i = 0; i < n; ++i)
        m_pAlpha[i] = static_cast<uint8_t>(m_pAlpha[i] * sel[i] / 255);
    return true;
}

bool CPluginMain::Apply_DrawSpliting()
{
    i_BeginApply();
    const PLUGINDATA& d = m_Data;
    const qntRECT_s work = d.filterRect;
    const uint16_t w = static_cast<uint16_t>(i_WorkWidth());
    const uint16_t h = static_cast<uint16_t>(i_WorkHeight());
    const uint64_t n = qnMulSize({w, h});
    CQNF_Mem coverage;
    if (n == 0 || !coverage.alloc(n)) {
        i_EndApply(false);
        return false;
    }
    m_HostProgress.Progress(5, nullptr);
    if (!m_Engine.DrawSplitting(w, h, coverage.GetPtr(), w, 5, 95)) {
        i_EndApply(false);
        return false;
    }
    const uint8_t colours = static_cast<uint8_t>(d.planes - (d.hasTransparency ? 1 : 0));
    bool ok = true;
    if (d.hasTransparency && d.transparencyEditable) {
        // The lines become the transparency; the colour planes take the
        // foreground colour everywhere.
        ok = HostPutChanel(static_cast<uint8_t>(d.planes - 1), work, coverage.GetPtr(), w);
        for (uint8_t p = 0; ok && p < colours; ++p) {
            ok = p < 4;
            if (ok) {
                std::memset(coverage.GetPtr(), d.foreColor[p], n);
                ok = HostPutChanel(p, work, coverage.GetPtr(), w);
            }
        }
    } else {
        CQNF_Mem plane;
        ok = plane.alloc(n) != nullptr;
        for (uint8_t p = 0; ok && p < colours; ++p) {
            const uint8_t* m = coverage.GetPtr();
            uint8_t* out = plane.GetPtr();
            for (uint64_t i = 0; i < n; ++i)
                out[i] = Blend(d.foreColor[p], d.backColor[p], m[i]);
            ok = HostPutChanel(p, work, out, w);
        }
    }
    i_EndApply(ok);
    return ok;
}

bool CPluginMain::i_PutPieces(uint8_t* const* planes, uint8_t n)
{
    const PLUGINDATA& d = m_Data;
    const qntRECT_s work = d.filterRect;
    const int32_t w = i_WorkWidth();
    const size_t planeSize = static_cast<size_t>(w) * static_cast<size_t>(i_WorkHeight());
    bool ok = true;
    if (d.hasTransparency && d.transparencyEditable) {
        for (uint8_t p = 0; ok && p <= n; ++p) {
            ok = p < 5;
            if (!ok)
                HostSetRetCode_BadParam();
            else
                ok = HostPutChanel(p, work, planes[p], static_cast<uint32_t>(w));
            m_HostProgress.Progress(static_cast<uint8_t>(92 + 2 * p), nullptr);
        }
    } else {
        const uint8_t* const alpha = planes[n];
        for (uint8_t c = 0; ok && c < n; ++c) {
            // A plane of its own: the bytes written cannot move it, so the
            // loop runs in vector lanes.
            uint8_t* const plane = planes[c];
            const uint8_t back = d.backColor[c];
            for (size_t i = 0; i < planeSize; ++i)
                plane[i] = Blend(plane[i], back, alpha[i]);
            ok = HostPutChanel(c, work, plane, static_cast<uint32_t>(w));
            m_HostProgress.Progress(static_cast<uint8_t>(92 + 2 * c), nullptr);
        }
    }
    return ok;
}

bool CPluginMain::Apply_SplittingUI(CQNF_Image* rendered)
{
    const PLUGINDATA& d = m_Data;
    const int32_t w = i_WorkWidth();
    const int32_t h = i_WorkHeight();
    // The window's image must be exactly the work rectangle in RGBA.
    if (d.colorMode != 1 || !rendered || !rendered->HasPixels() || rendered->GetImageMode() != qnimg::ModeRGBA ||
        rendered->GetImageWidth() != w || rendered->GetImageHeight() != h) {
        SetError(qnerr::BadArgument);
        return false;
    }
    i_BeginApply();
    // The window composited its pieces by the engine's one rule, from the
    // document's colours and limited by the composite alpha: the planes the
    // replay composites. They go back as the replay's do.
    uint8_t* planes[4] = {rendered->GetPlane(0), rendered->GetPlane(1), rendered->GetPlane(2), rendered->GetPlane(3)};
    const bool ok = i_PutPieces(planes, 3);
    i_EndApply(ok);
    return ok;
}

bool CPluginMain::Apply_SplittingNoUI(uint32_t count, const CTessolo::SFX_ONEPIECE* records)
{
    i_BeginApply();
    const PLUGINDATA& d = m_Data;
    const qntRECT_s work = d.filterRect;
    const int32_t w = i_WorkWidth();
    const int32_t h = i_WorkHeight();
    const uint8_t n = static_cast<uint8_t>(d.planes - (d.hasTransparency ? 1 : 0));
    const size_t planeSize = static_cast<size_t>(w) * static_cast<size_t>(h);
    auto fail = [this]() {
        m_Engine.FreeSpliting();
        i_EndApply(false);
        return false;
    };

    // N colour planes and the output alpha.
    if (!m_pAlpha || m_nAlphaWidth != w || m_nAlphaHeight != h || n < 1 || n > 4) {
        SetError(qnerr::BadArgument);
        return fail();
    }
    CQNF_Mem block;
    if (!block.alloc(qnMulSize({n + 1u, planeSize}))) {
        HostSetRetCode_MemFull();
        return fail();
    }
    uint8_t* planes[5] = {};
    for (uint8_t c = 0; c <= n; ++c)
        planes[c] = block.GetPtr() + c * planeSize;

    // Read the colour planes.
    for (uint8_t c = 0; c < n; ++c) {
        m_HostProgress.Progress(c, nullptr);
        if (!HostGetChanel(c, work, planes[c], static_cast<uint32_t>(w)))
            return fail();
    }

    // Cut without rendering.
    m_HostProgress.Progress(7, nullptr);
    if (!m_Engine.FreeSpliting() ||
        !m_Engine.SplitCells(w, h, m_pAlpha, static_cast<uint32_t>(w), planes, static_cast<uint32_t>(w), n, 7, 60, 0))
        return fail();

    // Effects to pieces, then render.
    const uint32_t pieces = m_Engine.m_nPieces;
    CTessolo::SPLITEDCELL* cells = m_Engine.m_pPieces;
    enum class Match { None, InOrder, ByPosition } match = Match::None;
    CQNF_Mem table;
    if (records && count > 0) {
        match = Match::InOrder;
        if (count != pieces)
            match = Match::ByPosition;
        for (uint32_t i = 0; match == Match::InOrder && i < pieces; ++i)
            if (records[i].row != static_cast<uint8_t>(cells[i].row) ||
                records[i].column != static_cast<uint8_t>(cells[i].column))
                match = Match::ByPosition;
        if (match == Match::ByPosition) {
            if (!table.alloc(100 * 100 * sizeof(int32_t)))
                return fail();
            auto* index = reinterpret_cast<int32_t*>(table.GetPtr());
            std::fill(index, index + 100 * 100, -1);
            for (uint32_t k = 0; k < count; ++k)
                if (records[k].row < 100 && records[k].column < 100)
                    index[records[k].row * 100 + records[k].column] = static_cast<int32_t>(k);
        }
    }
    const auto* index = reinterpret_cast<const int32_t*>(table.GetPtr());
    for (uint32_t i = 0; i < pieces; ++i) {
        const CTessolo::SFX_ONEPIECE* rec = nullptr;
        if (match == Match::InOrder) {
            rec = &records[i];
        } else if (match == Match::ByPosition && cells[i].row >= 0 && cells[i].row <= 99 && cells[i].column >= 0 &&
                   cells[i].column <= 99) {
            const int32_t k = index[cells[i].row * 100 + cells[i].column];
            if (k >= 0)
                rec = &records[k];
        }
        if (rec) {
            CTessolo::PutOnePieceRequested(*rec, cells[i]);
            cells[i].shown = rec->shown;
        }
    }
    if (!RenderAllPieces(m_Engine, m_HostProgress, pieces, 60, 80))
        return fail();
    // Composite the shown pieces into the colour planes and the alpha.
    m_HostProgress.Progress(80, nullptr);
    if (!m_Engine.CombineSplitedCells(w, h, planes, static_cast<uint32_t>(w), static_cast<uint8_t>(n + 1), m_pAlpha,
                                      static_cast<uint32_t>(w), qnNullRect, nullptr, 80, 90) ||
        !i_PutPieces(planes, n))
        return fail();
    // The pieces point into this function's planes: they go with them.
    m_Engine.FreeSpliting();
    i_EndApply(true);
    return true;
}
