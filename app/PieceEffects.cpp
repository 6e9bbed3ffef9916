// Piece effects: switching one effect on or off, copying, pasting and
// resetting effects, and re-rendering exactly the pieces whose requested
// effects differ from what their pixels show.
#include "app/PieceMap.h"
#include "imaging/Parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using Cell = CTessolo::SPLITEDCELL;
constexpr auto A = CTessolo::FX_APPLIED;
constexpr auto R = CTessolo::FX_REQUESTED;

// The block of one effect in one of a piece's copies, as bytes.
uint8_t* Block(Cell& c, uint8_t effect, uint8_t copy, size_t& size)
{
    switch (effect) {
    case CPieceMap::FX_BLUR:
        size = sizeof c.gaussianBlur[0];
        return reinterpret_cast<uint8_t*>(&c.gaussianBlur[copy]);
    case CPieceMap::FX_BEVEL:
        size = sizeof c.bevel[0];
        return reinterpret_cast<uint8_t*>(&c.bevel[copy]);
    case CPieceMap::FX_HSL:
        size = sizeof c.hsl[0];
        return reinterpret_cast<uint8_t*>(&c.hsl[copy]);
    case CPieceMap::FX_COLOROVERLAY:
        size = sizeof c.colorOverlay[0];
        return reinterpret_cast<uint8_t*>(&c.colorOverlay[copy]);
    case CPieceMap::FX_BRIGHTCONTRAST:
        size = sizeof c.brightnessContrast[0];
        return reinterpret_cast<uint8_t*>(&c.brightnessContrast[copy]);
    case CPieceMap::FX_MOTIONBLUR:
        size = sizeof c.motionBlur[0];
        return reinterpret_cast<uint8_t*>(&c.motionBlur[copy]);
    case CPieceMap::FX_OPACITY:
        size = sizeof c.opacity[0];
        return reinterpret_cast<uint8_t*>(&c.opacity[copy]);
    case CPieceMap::FX_INVERT:
        size = 1;
        return &c.invert[copy];
    case CPieceMap::FX_STROKE:
        size = sizeof c.stroke[0];
        return reinterpret_cast<uint8_t*>(&c.stroke[copy]);
    case CPieceMap::FX_IMAGEOVERLAY:
        size = sizeof c.imageOverlay[0];
        return reinterpret_cast<uint8_t*>(&c.imageOverlay[copy]);
    default:
        size = 0;
        return nullptr;
    }
}

// Whether an effect needs rendering: the on switches differ, or both are
// on and one of the listed byte ranges differs.
template <class T>
bool Differs(const T& a, const T& r, std::initializer_list<std::pair<int, int>> fields)
{
    const auto* pa = reinterpret_cast<const uint8_t*>(&a);
    const auto* pr = reinterpret_cast<const uint8_t*>(&r);
    if (pa[0] != pr[0])
        return true;
    if (!pa[0])
        return false;
    for (const auto& [offset, length] : fields)
        if (std::memcmp(pa + offset, pr + offset, size_t(length)))
            return true;
    return false;
}

// Unordered (a value that is not a number) counts as changed.
bool FloatChanged(float a, float b) { return !(a == b); }

}  // namespace

uint8_t CPieceMap::i_pmop_CheckPieceFXUpdates(uint32_t piece) const
{
    if (piece >= pm_PieceCount())
        return 0;
    const Cell& c = *i_Piece(piece);
    if (Differs(c.opacity[A], c.opacity[R], {{1, 1}}))
        return 1;
    if (c.invert[A] != c.invert[R])
        return 1;
    if (Differs(c.imageOverlay[A], c.imageOverlay[R], {{1, 1}, {4, 4}, {2, 1}}))
        return 1;
    if (Differs(c.colorOverlay[A], c.colorOverlay[R], {{1, 1}, {3, 3}}))
        return 1;
    if (m_nColorMode == 1 && Differs(c.hsl[A], c.hsl[R], {{2, 2}, {4, 1}, {5, 1}}))
        return 1;
    if (Differs(c.gaussianBlur[A], c.gaussianBlur[R], {{1, 1}}))
        return 1;
    if (Differs(c.brightnessContrast[A], c.brightnessContrast[R], {{1, 2}}))
        return 1;
    if (Differs(c.motionBlur[A], c.motionBlur[R], {{1, 2}}))
        return 1;
    if (Differs(c.stroke[A], c.stroke[R], {{1, 2}, {4, 3}}))
        return 1;
    const CTessolo::SFX_BEVEL& ba = c.bevel[A];
    const CTessolo::SFX_BEVEL& br = c.bevel[R];
    if (Differs(ba, br, {{34, 1}, {36, 2}, {38, 1}, {16, 1}, {18, 3}, {25, 1}, {27, 3}}))
        return 1;
    // The light vector compares as floats; a value that is not a number
    // always counts as a change.
    if (ba.on && ba.on == br.on &&
        (FloatChanged(ba.lightX, br.lightX) || FloatChanged(ba.lightY, br.lightY) ||
         FloatChanged(ba.lightZ, br.lightZ)))
        return 1;
    return 0;
}

void CPieceMap::i_CloseFXWindow()
{
    // While a re-render runs the effect window's own list may be in use:
    // the window goes once the re-render has finished.
    if (m_bBusy)
        m_bFXDeletePending = 1;
    else
        pm_DeleteFXWindow();
}

void CPieceMap::pmfx_SwitchFX(uint8_t effect, uint8_t explicitOn, uint8_t on)
{
    // A state captured here (no menu captured one) serves this switch only:
    // kept, the next toggle would compare with a state already gone.
    const bool captured = !explicitOn && m_nMenuFXState == 0xFFFF;
    if (captured)
        m_nMenuFXState = i_pmfx_GetFXOnSelection(kNone);
    i_SwitchFX(effect, explicitOn, on);
    if (captured)
        m_nMenuFXState = 0xFFFF;
}

void CPieceMap::i_SwitchFX(uint8_t effect, uint8_t explicitOn, uint8_t on)
{
    i_CloseFXWindow();
    const uint32_t count = pm_PieceCount();
    if (!pm_IsBound() || !count || effect > FX_IMAGEOVERLAY)
        return;
    std::vector<uint32_t> targets;
    uint16_t reference = m_nMenuFXState;
    if (m_nMenuPiece != kNone) {
        if (m_nMenuPiece < count)
            targets.push_back(m_nMenuPiece);
        reference = i_pmfx_GetFXOnSelection(m_nMenuPiece);
    } else {
        targets = i_TargetsSelectedOrAll();
    }
    const uint8_t value = explicitOn ? (on ? 1 : 0) : ((reference >> effect) & 1) ? 0 : 1;
    std::vector<uint32_t> listed;
    for (uint32_t i : targets) {
        Cell& c = *i_Piece(i);
        size_t size = 0;
        uint8_t* applied = Block(c, effect, A, size);
        uint8_t* requested = Block(c, effect, R, size);
        if (applied[0] == value)
            continue;
        if (effect != FX_INVERT)
            std::memcpy(requested, applied, size);
        requested[0] = value;
        listed.push_back(i);
    }
    if (listed.empty())
        return;
    pmop_RerenderPieces(listed, 1, 1);
    OnCommonFXChanged();
}

void CPieceMap::pmop_CopyAdjustments(uint32_t piece)
{
    const uint32_t count = pm_PieceCount();
    if (!pm_IsBound() || !count || (piece != kNone && piece >= count))
        return;
    if (piece == kNone) {
        for (uint32_t i = 0; i < count && piece == kNone; ++i)
            if (i_Piece(i)->selected)
                piece = i;
        if (piece == kNone)
            return;
    }
    m_FXClip = CTessolo::MakeOnePiece(*i_Piece(piece));
    m_bFXClipEmpty = 0;
}

void CPieceMap::pmop_PasteAdjustments(uint32_t piece)
{
    if (m_bFXClipEmpty)
        return;
    i_CloseFXWindow();
    const uint32_t count = pm_PieceCount();
    if (!pm_IsBound() || !count || (piece != kNone && piece >= count))
        return;
    const std::vector<uint32_t> targets = piece == kNone ? i_TargetsSelectedOrAll() : std::vector<uint32_t>{piece};
    for (uint32_t i : targets)
        CTessolo::PutOnePieceRequested(m_FXClip, *i_Piece(i));
    pmop_RerenderPieces(targets, 1, 1);
    OnCommonFXChanged();
}

void CPieceMap::pmop_ResetAdjustments()
{
    i_CloseFXWindow();
    if (!pm_IsBound() || !pm_PieceCount())
        return;
    i_Reset(i_TargetsSelectedOrAll());
}

void CPieceMap::pm_ResetAllPieces()
{
    i_CloseFXWindow();
    if (!pm_IsBound() || !pm_PieceCount())
        return;
    std::vector<uint32_t> all(pm_PieceCount());
    for (uint32_t i = 0; i < pm_PieceCount(); ++i)
        all[i] = i;
    i_Reset(all);
}

void CPieceMap::i_Reset(const std::vector<uint32_t>& targets)
{
    const CTessolo::SFX_ONEPIECE defaults = m_pEngine->DefaultOnePiece();
    for (uint32_t i : targets) {
        Cell& c = *i_Piece(i);
        CTessolo::PutOnePieceRequested(defaults, c);
        if (!c.shown) {
            // Shown again and always rendered: its pixels may be stale.
            c.shown = 1;
            c.bevel[A].on = c.bevel[R].on ? 0 : 1;
        }
    }
    pmop_RerenderPieces(targets, 1, 1);
    OnCommonFXChanged();
}

// ---- Re-rendering ----------------------------------------------------------------------

uint8_t CPieceMap::pmop_RerenderPieces(const CQNF_DWordArray* pieces, uint8_t redraw, uint8_t interruptible)
{
    std::vector<uint32_t> list;
    if (pieces)
        for (uint64_t i = 0; i < pieces->GetSize(); ++i)
            list.push_back((*pieces)[i]);
    return pmop_RerenderPieces(list, redraw, interruptible);
}

uint8_t CPieceMap::pmop_RerenderPieces(const std::vector<uint32_t>& pieces, uint8_t redraw, uint8_t interruptible)
{
    if (m_bBusy) {
        // Never re-entered: the running one takes this list at its next step.
        m_PendingList = pieces;
        m_bRestart = 1;
        return 1;
    }
    if (!pm_IsBound())
        return 0;
    m_RenderList = pieces;
    uint8_t result = i_RerenderRun(redraw, interruptible);
    // A request that arrived while the running one could not look at it
    // (not interruptible) is honoured now, once.
    while (result && m_bRestart) {
        m_bRestart = 0;
        m_RenderList.swap(m_PendingList);
        result = i_RerenderRun(redraw, interruptible);
    }
    m_bRestart = 0;
    if (m_bFXDeletePending) {
        m_bFXDeletePending = 0;
        pm_DeleteFXWindow();
    }
    i_EndIfPending();
    return result;
}

uint8_t CPieceMap::i_RerenderRun(uint8_t redraw, uint8_t interruptible)
{
    m_bBusy = 1;
    m_PendingRect = qnNullRect;
    i_SetProgress("Rendering is in progress:");
    i_Report(0);
    qntRECT_s dirty = qnNullRect;
    std::vector<uint32_t> rendered, batch;
    uint8_t ok = 1;
    bool composited = false;
    // Batches of pieces rendered side by side; the effect window's events
    // are looked at between them.
    const unsigned threads = qnpar::ThreadCount();
    for (size_t k = 0; k < m_RenderList.size();) {
        i_Report(uint8_t(float(70.0 * double(k) / double(m_RenderList.size()))));
        if (interruptible && pm_HasFXWindow()) {
            pm_ProcessEvents();
            if (m_bRestart) {
                // Start over with the newest list; what was rendered so far
                // is composited with the rest.
                m_bRestart = 0;
                m_RenderList.swap(m_PendingList);
                k = 0;
                i_Report(0);
                continue;
            }
        }
        batch.clear();
        uint64_t pixels = 0;
        for (; k < m_RenderList.size() && !CTessolo::RenderBatchFull(uint32_t(batch.size()), pixels, threads);
             ++k) {
            const uint32_t i = m_RenderList[k];
            if (i < pm_PieceCount() && i_pmop_CheckPieceFXUpdates(i) &&
                std::find(batch.begin(), batch.end(), i) == batch.end()) {
                batch.push_back(i);
                pixels += uint64_t(i_Piece(i)->Width()) * uint64_t(i_Piece(i)->Height());
            }
        }
        // The last batch is rendered in the job that composites the area of
        // every piece rendered: threads done with their pieces composite the
        // parts whose pieces are done while the others finish.
        std::vector<uint32_t> area;
        const bool last = k == m_RenderList.size() && !batch.empty();
        if (last) {
            area = rendered;
            area.insert(area.end(), batch.begin(), batch.end());
            i_Report(70);
        }
        const uint32_t done = batch.empty() ? 0 : pm_RenderPieces(batch, last ? &area : nullptr);
        for (uint32_t b = 0; b < done; ++b) {
            const Cell& c = *i_Piece(batch[b]);
            dirty = qnUnionRect(dirty, qntRECT_s{c.left, c.top, c.right, c.bottom});
            rendered.push_back(batch[b]);
        }
        if (done < batch.size()) {
            ok = 0;
            break;
        }
        composited = last;
    }
    const qntRECT_s pending = m_PendingRect;
    m_PendingRect = qnNullRect;
    if (!qnIsNullRect(dirty) || !qnIsNullRect(pending)) {
        // Composited even after a failure, so the image shows what the
        // pieces' applied settings say: only where the rendered pieces lie
        // (not the rectangle around them all), then any area asked for
        // meanwhile.
        if (!composited) {
            i_Report(70);
            if (!rendered.empty())
                i_CompositePieces(rendered, 70, 100);
        }
        i_CompositeAll(pending, 70, 100);
        if (redraw)
            pm_RedrawPreview(1);
    }
    i_Report(100);
    pm_StatusDone();
    m_bBusy = 0;
    return ok;
}

uint32_t CPieceMap::pm_RenderPieces(const std::vector<uint32_t>& pieces, const std::vector<uint32_t>* area)
{
    if (area) {
        // False also when the composite was cancelled, after every piece was
        // rendered; none is when there is no split to render from.
        const bool ok = i_CompositePieces(*area, 70, 100, &pieces);
        return ok || m_pEngine->m_memWork.GetPtr() ? uint32_t(pieces.size()) : 0;
    }
    CQNF_Progress* before = m_pEngine->m_pProgress;
    m_pEngine->m_pProgress = &m_Progress;
    const bool ok = m_pEngine->RenderPieces(pieces.data(), uint32_t(pieces.size()));
    m_pEngine->m_pProgress = before;
    return ok ? uint32_t(pieces.size()) : 0;
}

bool CPieceMap::pm_RenderPiece(uint32_t piece)
{
    CQNF_Progress* before = m_pEngine->m_pProgress;
    m_pEngine->m_pProgress = &m_Progress;
    const bool ok = m_pEngine->RenderPiece(piece);
    m_pEngine->m_pProgress = before;
    return ok;
}
