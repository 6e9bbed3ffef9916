// The piece map: binding, hit test, every selection path, showing and
// hiding pieces, the overlay switch, recomposition and the effect-state word.
#include "app/PieceMap.h"

#include "core/2DMath.h"
#include "core/RandomSource.h"
#include "imaging/Image.h"

#include <algorithm>

namespace {

bool Empty(const qntRECT_s& r) { return qnIsNullRect(r) || r.left >= r.right || r.top >= r.bottom; }

qntRECT_s Intersect(const qntRECT_s& a, const qntRECT_s& b)
{
    return qntRECT_s{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                     std::min(a.bottom, b.bottom)};
}

qntRECT_s Box(const CTessolo::SPLITEDCELL& p) { return qntRECT_s{p.left, p.top, p.right, p.bottom}; }

}  // namespace

qntRECT_s qnUnionRect(qntRECT_s a, qntRECT_s b)
{
    if (Empty(a))
        return b;
    if (Empty(b))
        return a;
    return qntRECT_s{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                     std::max(a.bottom, b.bottom)};
}

CPieceMap::CPieceMap() : m_pRandom(nullptr) {}

CPieceMap::~CPieceMap() = default;

void CPieceMap::pm_SetRandomSource(CQNF_RandomSource* random) { m_pRandom = random; }

bool CPieceMap::pm_Begin(CTessolo* engine, CQNF_Image* image, const CQNF_Image* document, const uint8_t* alpha,
                         uint8_t* selMap, uint32_t width, uint32_t height, uint8_t colorMode)
{
    pm_End();
    if (!engine || !image || !document || !alpha || !selMap || !width || !height ||
        uint32_t(document->GetImageWidth()) != width || uint32_t(document->GetImageHeight()) != height)
        return false;
    const uint64_t undoBytes = uint64_t(engine->m_nPieces) * kUndoRecord * 2;
    if (undoBytes && m_Unpm.GetSize() < undoBytes && !m_Unpm.alloc(undoBytes))
        return false;
    m_pEngine = engine;
    m_pImage = image;
    m_pAlpha = alpha;
    const size_t pixels = size_t(width) * height;
    m_pLimit = std::all_of(alpha, alpha + pixels, [](uint8_t a) { return a == 255; }) ? nullptr : alpha;
    m_pSelMap = selMap;
    m_nWidth = width;
    m_nHeight = height;
    m_nColorMode = colorMode;
    for (int k = 0; k < 3; ++k)
        m_pStart[k] = document->GetPlane(uint8_t(k));
    m_nUnpmPieces = engine->m_nPieces;
    m_bUnpmEmpty = 1;
    m_nBlockAnchor = kNone;
    m_nCurrentPiece = kNone;
    m_nMenuPiece = kNone;
    m_nMenuFXState = 0xFFFF;
    m_bPMOverlay = 1;
    // The map shows the pieces' own flags (pieces that come back from cut
    // mode without a new cut keep their selection).
    std::fill(selMap, selMap + pixels, uint8_t(0));
    for (uint32_t i = 0; i < engine->m_nPieces; ++i)
        if (engine->m_pPieces[i].selected)
            i_PaintPiece(i, 255);
    return true;
}

void CPieceMap::pm_End()
{
    if (m_bBusy) {
        // Asked from the events a running render pumps: the pieces go once
        // it has finished with them.
        m_bEndPending = 1;
        return;
    }
    m_bEndPending = 0;
    m_pEngine = nullptr;
    m_pImage = nullptr;
    m_pAlpha = nullptr;
    m_pLimit = nullptr;
    m_pSelMap = nullptr;
    m_nUnpmPieces = 0;
    m_bUnpmEmpty = 1;
}

// ---- Hit test and painting ---------------------------------------------------

uint32_t CPieceMap::GetPieceByXY(qntPOS p) const
{
    for (uint32_t i = 0; i < pm_PieceCount(); ++i) {
        const CTessolo::SPLITEDCELL& c = *i_Piece(i);
        if (p.x < c.left || p.x >= c.right || p.y < c.top || p.y >= c.bottom)
            continue;
        if (c.mask->GetPtr()[size_t(p.y - c.top) * c.Width() + (p.x - c.left)])
            return i;
    }
    return kNone;
}

uint8_t CPieceMap::GetPieceOpacity(uint32_t piece) const
{
    if (piece >= pm_PieceCount())
        return 255;
    const CTessolo::SFX_OPACITY& o = i_Piece(piece)->opacity[CTessolo::FX_APPLIED];
    return o.on ? o.opacity : 255;
}

void CPieceMap::i_PaintPiece(uint32_t piece, uint8_t value)
{
    const CTessolo::SPLITEDCELL& c = *i_Piece(piece);
    const qntRECT_s r = Intersect(Box(c), qntRECT_s{0, 0, int32_t(m_nWidth), int32_t(m_nHeight)});
    if (Empty(r))
        return;
    const uint8_t* mask = c.mask->GetPtr();
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const uint8_t* m = mask + size_t(y - c.top) * c.Width() + (r.left - c.left);
        uint8_t* d = m_pSelMap + size_t(y) * m_nWidth + r.left;
        for (int32_t x = 0; x < r.right - r.left; ++x)
            if (m[x])
                d[x] = value;
    }
}

void CPieceMap::i_RedrawEnding(uint8_t redraw)
{
    if (!redraw)
        return;
    pmop_Extras(1, 0);
    pm_RedrawPreview(1);
    OnCommonFXChanged();
}

void CPieceMap::i_DeselectAllQuiet()
{
    std::fill(m_pSelMap, m_pSelMap + size_t(m_nWidth) * m_nHeight, uint8_t(0));
    for (uint32_t i = 0; i < pm_PieceCount(); ++i)
        i_Piece(i)->selected = 0;
}

void CPieceMap::pmop_Sel_SetSelectionToPiece(uint32_t piece, uint8_t add, uint8_t remove, uint8_t redraw)
{
    if (!pm_IsBound() || piece >= pm_PieceCount())
        return;
    if (!add && !remove)
        i_DeselectAllQuiet();
    i_Piece(piece)->selected = remove ? 0 : 1;
    i_PaintPiece(piece, remove ? 0 : 255);
    i_RedrawEnding(redraw);
}

// One piece of an area selection: a new selection has already been cleared,
// so its pieces are added (painting with add = 0 would keep only the last).
void CPieceMap::i_Take(uint32_t piece, uint8_t remove) { pmop_Sel_SetSelectionToPiece(piece, !remove, remove ? 1 : 0, 0); }

void CPieceMap::pmop_Sel_SelectAllPieces(uint8_t redraw)
{
    if (!pm_IsBound())
        return;
    m_nBlockAnchor = kNone;
    const size_t n = size_t(m_nWidth) * m_nHeight;
    for (size_t i = 0; i < n; ++i)
        m_pSelMap[i] = m_pAlpha[i] ? 255 : 0;
    for (uint32_t i = 0; i < pm_PieceCount(); ++i)
        i_Piece(i)->selected = 1;
    i_RedrawEnding(redraw);
}

void CPieceMap::pmop_Sel_DeselectAllPieces(uint8_t redraw)
{
    if (!pm_IsBound())
        return;
    m_nBlockAnchor = kNone;
    i_DeselectAllQuiet();
    i_RedrawEnding(redraw);
}

void CPieceMap::pmop_Sel_SelectSplitter(uint8_t add, uint8_t redraw)
{
    if (!pm_IsBound() || !pm_FirstAreaPiece() || !pm_PieceCount())
        return;
    pmop_Sel_SetSelectionToPiece(0, add, !add, redraw);
}

void CPieceMap::pmop_Sel_InvertPiecesSelection(uint8_t redraw)
{
    if (!pm_IsBound())
        return;
    m_nBlockAnchor = kNone;
    std::fill(m_pSelMap, m_pSelMap + size_t(m_nWidth) * m_nHeight, uint8_t(0));
    uint32_t selected = 0;
    for (uint32_t i = 0; i < pm_PieceCount(); ++i) {
        CTessolo::SPLITEDCELL& c = *i_Piece(i);
        c.selected = !c.selected;
        selected += c.selected;
    }
    if (selected == pm_PieceCount() && selected) {
        pmop_Sel_SelectAllPieces(redraw);
        return;
    }
    if (selected) {
        for (uint32_t i = 0; i < pm_PieceCount(); ++i)
            if (i_Piece(i)->selected)
                i_PaintPiece(i, 255);
        i_RedrawEnding(redraw);
    } else if (redraw) {
        pm_RedrawPreview(0);
    }
}

qntRECT_s CPieceMap::i_pmop_GetPieceRealRect(uint32_t piece) const
{
    if (piece >= pm_PieceCount())
        return qnNullRect;
    const CTessolo::SPLITEDCELL& c = *i_Piece(piece);
    int32_t l = c.right, t = c.bottom, r = c.left, b = c.top;
    const uint8_t* mask = c.mask->GetPtr();
    for (int32_t y = 0; y < c.Height(); ++y)
        for (int32_t x = 0; x < c.Width(); ++x)
            if (mask[size_t(y) * c.Width() + x]) {
                l = std::min(l, c.left + x);
                r = std::max(r, c.left + x + 1);
                t = std::min(t, c.top + y);
                b = std::max(b, c.top + y + 1);
            }
    return l < r && t < b ? qntRECT_s{l, t, r, b} : qnNullRect;
}

namespace {

// Nonzero mask bytes of a piece inside r (already within the piece box).
uint64_t CountInside(const CTessolo::SPLITEDCELL& c, const qntRECT_s& r)
{
    uint64_t n = 0;
    const uint8_t* mask = c.mask->GetPtr();
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const uint8_t* m = mask + size_t(y - c.top) * c.Width() + (r.left - c.left);
        for (int32_t x = 0; x < r.right - r.left; ++x)
            n += m[x] != 0;
    }
    return n;
}

}  // namespace

void CPieceMap::pmop_Sel_PieceBlockSelection(uint8_t add, uint8_t remove, uint32_t pieceA, uint32_t pieceB,
                                             uint8_t redraw)
{
    if (!pm_IsBound() || pieceA >= pm_PieceCount() || pieceB >= pm_PieceCount())
        return;
    const qntRECT_s r = qnUnionRect(i_pmop_GetPieceRealRect(pieceA), i_pmop_GetPieceRealRect(pieceB));
    if (Empty(r))
        return;
    if (!add && !remove)
        i_DeselectAllQuiet();
    for (uint32_t i = pm_FirstAreaPiece(); i < pm_PieceCount(); ++i) {
        const CTessolo::SPLITEDCELL& c = *i_Piece(i);
        const qntRECT_s in = Intersect(Box(c), r);
        if (Empty(in) || c.selected == !remove)
            continue;
        if (2 * CountInside(c, in) > c.pixels)
            i_Take(i, remove);
    }
    i_RedrawEnding(redraw);
}

void CPieceMap::pmop_Sel_SelectRect(qntRECT_s rect, uint8_t add, uint8_t remove, uint8_t redraw)
{
    if (!pm_IsBound())
        return;
    const qntRECT_s r = Intersect(rect, qntRECT_s{0, 0, int32_t(m_nWidth), int32_t(m_nHeight)});
    if (Empty(rect) || Empty(r))
        return;
    m_nBlockAnchor = kNone;
    if (!add && !remove)
        i_DeselectAllQuiet();
    for (uint32_t i = pm_FirstAreaPiece(); i < pm_PieceCount(); ++i) {
        const CTessolo::SPLITEDCELL& c = *i_Piece(i);
        const qntRECT_s in = Intersect(Box(c), r);
        if (c.selected == !remove || Empty(in))
            continue;
        if (CountInside(c, in))
            i_Take(i, remove);
    }
    i_RedrawEnding(redraw);
}

uint32_t CPieceMap::i_pmop_PtInRgn(const long* xs, const long* ys, long n, long x, long y)
{
    // The crossing rule; the products are taken in 64 bits so that large
    // images cannot overflow them.
    uint32_t inside = 0;
    for (long i = 0, j = n - 1; i < n; j = i++) {
        if ((ys[i] > y) != (ys[j] > y)) {
            const int64_t c = int64_t(xs[i]) + (int64_t(xs[j]) - xs[i]) * (int64_t(y) - ys[i]) / (int64_t(ys[j]) - ys[i]);
            if (c > x)
                inside = !inside;
        }
    }
    return inside;
}

uint32_t CPieceMap::i_pmop_RectRgnIntersection(const long* xs, const long* ys, long n, qntRECT_s r)
{
    const double l = r.left, t = r.top, rr = r.right - 1, b = r.bottom - 1;
    const CQNF_2DMath::QNLINESEGMENT sides[4] = {{l, t, rr, t}, {rr, t, rr, b}, {rr, b, l, b}, {l, b, l, t}};
    CQNF_2DMath math;
    for (long i = 0; i < n; ++i) {
        const long j = i ? i - 1 : n - 1;
        const CQNF_2DMath::QNLINESEGMENT edge{double(xs[j]), double(ys[j]), double(xs[i]), double(ys[i])};
        for (const auto& s : sides)
            if (math.IntersectLineSegments(edge, s))
                return 1;
    }
    return 0;
}

void CPieceMap::pmop_Sel_SelectFreeRgn(const long* xs, const long* ys, long n, uint8_t add, uint8_t remove,
                                       uint8_t redraw)
{
    if (!pm_IsBound() || !xs || !ys || n <= 0)
        return;
    i_SetProgress("Selecting is in progress:");
    i_Report(0);
    qntRECT_s b{int32_t(*std::min_element(xs, xs + n)), int32_t(*std::min_element(ys, ys + n)),
                int32_t(*std::max_element(xs, xs + n) + 1), int32_t(*std::max_element(ys, ys + n) + 1)};
    b = Intersect(b, qntRECT_s{0, 0, int32_t(m_nWidth), int32_t(m_nHeight)});
    if (Empty(b)) {
        i_EndProgress();
        return;
    }
    i_Report(5);
    m_nBlockAnchor = kNone;
    if (!add && !remove)
        i_DeselectAllQuiet();
    const uint32_t count = pm_PieceCount();
    double progress = 5.0;
    for (uint32_t i = pm_FirstAreaPiece(); i < count; ++i) {
        progress += 95.0 / count;
        i_Report(uint8_t(float(progress)));
        const CTessolo::SPLITEDCELL& c = *i_Piece(i);
        const qntRECT_s in = Intersect(Box(c), b);
        if (c.selected == !remove || Empty(in))
            continue;
        if (!(in == b) && !i_pmop_RectRgnIntersection(xs, ys, n, in)) {
            // The region holds all of this overlap or none of it: one corner
            // decides, provided the piece really has pixels in it.
            if (i_pmop_PtInRgn(xs, ys, n, in.left, in.top) && CountInside(c, in))
                i_Take(i, remove);
            continue;
        }
        const uint8_t* mask = c.mask->GetPtr();
        bool hit = false;
        for (int32_t y = in.top; y < in.bottom && !hit; ++y)
            for (int32_t x = in.left; x < in.right && !hit; ++x)
                hit = mask[size_t(y - c.top) * c.Width() + (x - c.left)] && i_pmop_PtInRgn(xs, ys, n, x, y);
        if (hit)
            i_Take(i, remove);
    }
    i_RedrawEnding(redraw);
    i_EndProgress();
}

void CPieceMap::pmop_Sel_RandomSelection(uint8_t add, uint8_t redraw)
{
    if (!pm_IsBound())
        return;
    i_SetProgress("Selecting is in progress:");
    i_Report(0);
    m_nBlockAnchor = kNone;
    std::vector<uint32_t> candidates;
    for (uint32_t i = 0; i < pm_PieceCount(); ++i)
        if (bool(i_Piece(i)->selected) != bool(add))
            candidates.push_back(i);
    i_Report(5);
    if (candidates.empty()) {
        i_Report(100);
        i_EndProgress();
        return;
    }
    const uint32_t total = pm_PieceCount();
    const uint32_t m = uint32_t(candidates.size());
    const uint32_t k = std::min(total >= 20 ? total / 20 : 1u, m);
    CQNF_StdRandom stdRandom;
    CQNF_RandomSource& random = m_pRandom ? *m_pRandom : stdRandom;
    std::vector<uint8_t> taken(m, 0);
    double progress = 5.0;
    for (uint32_t draw = 0; draw < k; ++draw) {
        progress += 80.0 / k;
        i_Report(uint8_t(float(progress)));
        // Two draws multiplied as unsigned 32-bit numbers.
        const uint32_t start = uint32_t(random.Next() * random.Next()) % m;
        uint32_t at = start;
        while (taken[at]) {
            at = (at + 1) % m;
            if (at == start)
                break;
        }
        if (taken[at])
            break;
        taken[at] = 1;
        pmop_Sel_SetSelectionToPiece(candidates[at], add, !add, 0);
    }
    i_Report(85);
    i_RedrawEnding(redraw);
    i_Report(100);
    i_EndProgress();
}

void CPieceMap::pmop_Sel_AllHidenOrShown(uint8_t hidden, uint8_t redraw)
{
    if (!pm_IsBound())
        return;
    m_nBlockAnchor = kNone;
    i_DeselectAllQuiet();
    for (uint32_t i = 0; i < pm_PieceCount(); ++i)
        if (i_Piece(i)->shown == (hidden ? 0 : 1))
            pmop_Sel_SetSelectionToPiece(i, 1, 0, 0);
    i_RedrawEnding(redraw);
}

void CPieceMap::pmop_LoadSelectionFromMap(const uint8_t* map, uint32_t width, uint32_t height, uint8_t operation,
                                          uint8_t invert, uint8_t redraw)
{
    if (!pm_IsBound() || !map || operation > 3)
        return;
    i_SetProgress("Selecting is in progress:");
    i_Report(0);
    if (operation == 0)
        i_DeselectAllQuiet();
    const uint32_t count = pm_PieceCount();
    double progress = 0.0;
    for (uint32_t i = 0; i < count; ++i) {
        progress += 100.0 / count;
        i_Report(uint8_t(std::min(100.0f, float(progress))));
        const uint8_t selected = i_Piece(i)->selected;
        if (operation <= 1) {
            if ((operation == 0 || !selected) && i_pmop_CheckPieceByMap(i, map, width, height, 128, invert))
                pmop_Sel_SetSelectionToPiece(i, 1, 0, 0);
        } else if (selected) {
            const uint8_t inside = i_pmop_CheckPieceByMap(i, map, width, height, 128, invert);
            if (operation == 2 ? inside : !inside)
                pmop_Sel_SetSelectionToPiece(i, 0, 1, 0);
        }
    }
    i_RedrawEnding(redraw);
    i_EndProgress();
}

uint8_t CPieceMap::i_pmop_CheckPieceByMap(uint32_t piece, const uint8_t* map, uint32_t width, uint32_t height,
                                          uint8_t threshold, uint8_t invert) const
{
    if (piece >= pm_PieceCount() || !map)
        return 0;
    const CTessolo::SPLITEDCELL& c = *i_Piece(piece);
    const qntRECT_s r = Intersect(Box(c), qntRECT_s{0, 0, int32_t(width), int32_t(height)});
    if (Empty(r))
        return 0;
    const uint8_t* mask = c.mask->GetPtr();
    for (int32_t y = r.top; y < r.bottom; ++y) {
        const uint8_t* m = mask + size_t(y - c.top) * c.Width() + (r.left - c.left);
        const uint8_t* v = map + size_t(y) * width + r.left;
        for (int32_t x = 0; x < r.right - r.left; ++x)
            if (m[x] && (invert ? 255 - v[x] : v[x]) < threshold)
                return 1;
    }
    return 0;
}

// ---- Show and hide -------------------------------------------------------------

void CPieceMap::i_ShowHideList(const std::vector<uint32_t>& pieces, int show, uint8_t redraw)
{
    qntRECT_s dirty = qnNullRect;
    for (uint32_t i : pieces) {
        CTessolo::SPLITEDCELL& c = *i_Piece(i);
        const uint8_t want = show < 0 ? !c.shown : uint8_t(show);
        if (c.shown == want)
            continue;
        c.shown = want;
        dirty = qnUnionRect(dirty, Box(c));
    }
    if (Empty(dirty))
        return;
    pmop_DoRerenderRect(dirty, redraw, 0, 100);
    OnCommonFXChanged();
}

void CPieceMap::pmop_ShowHidePiece(uint32_t piece, uint8_t show, uint8_t redraw)
{
    if (!pm_IsBound() || piece >= pm_PieceCount())
        return;
    CTessolo::SPLITEDCELL& c = *i_Piece(piece);
    if (c.shown == show)
        return;
    c.shown = show;
    pmop_DoRerenderRect(Box(c), redraw, 0, 100);
    OnCommonFXChanged();
}

void CPieceMap::pmop_ShowHideSelectedPieces(uint8_t show, uint8_t redraw)
{
    if (!pm_IsBound())
        return;
    i_ShowHideList(i_TargetsSelectedOrAll(), show ? 1 : 0, redraw);
}

void CPieceMap::pmop_ReverseShownHidden(uint8_t redraw)
{
    if (!pm_IsBound())
        return;
    i_ShowHideList(i_TargetsSelectedOrAll(), -1, redraw);
}

std::vector<uint32_t> CPieceMap::i_TargetsSelectedOrAll() const
{
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < pm_PieceCount(); ++i)
        if (i_Piece(i)->selected)
            out.push_back(i);
    if (out.empty())
        for (uint32_t i = 0; i < pm_PieceCount(); ++i)
            out.push_back(i);
    return out;
}

uint32_t CPieceMap::SelectedCount() const
{
    uint32_t n = 0;
    for (uint32_t i = 0; i < pm_PieceCount(); ++i)
        n += i_Piece(i)->selected != 0;
    return n;
}

void CPieceMap::pmop_Extras(uint8_t on, uint8_t redraw)
{
    on = on ? 1 : 0;
    if (m_bPMOverlay == on)
        return;
    m_bPMOverlay = on;
    pm_OnExtrasChanged(on);
    if (redraw)
        pm_RedrawPreview(1);
}

// ---- Recomposition ----------------------------------------------------------------

bool CPieceMap::i_Composite(qntRECT_s r, uint8_t fromPercent, uint8_t toPercent)
{
    uint8_t* planes[4] = {m_pImage->GetPlane(0), m_pImage->GetPlane(1), m_pImage->GetPlane(2), m_pImage->GetPlane(3)};
    CQNF_Progress* before = m_pEngine->m_pProgress;
    m_pEngine->m_pProgress = &m_Progress;
    const bool ok = m_pEngine->CombineSplitedCells(m_nWidth, m_nHeight, planes, m_nWidth, 4,
                                                   const_cast<uint8_t*>(m_pLimit), m_nWidth, r, m_pStart,
                                                   fromPercent, toPercent);
    m_pEngine->m_pProgress = before;
    return ok;
}

bool CPieceMap::i_CompositePieces(const std::vector<uint32_t>& pieces, uint8_t fromPercent, uint8_t toPercent,
                                  const std::vector<uint32_t>* render)
{
    uint8_t* planes[4] = {m_pImage->GetPlane(0), m_pImage->GetPlane(1), m_pImage->GetPlane(2), m_pImage->GetPlane(3)};
    CQNF_Progress* before = m_pEngine->m_pProgress;
    m_pEngine->m_pProgress = &m_Progress;
    const bool ok = m_pEngine->CombinePieceAreas(
        m_nWidth, m_nHeight, planes, m_nWidth, 4, const_cast<uint8_t*>(m_pLimit), m_nWidth, pieces.data(),
        uint32_t(pieces.size()), m_pStart, fromPercent, toPercent, render ? render->data() : nullptr,
        render ? uint32_t(render->size()) : 0);
    m_pEngine->m_pProgress = before;
    return ok;
}

void CPieceMap::pmop_DoRerenderRect(qntRECT_s r, uint8_t redraw, uint8_t fromPercent, uint8_t toPercent)
{
    if (!pm_IsBound() || Empty(r))
        return;
    if (m_bBusy) {
        // A render or composite is running (this call came from the events
        // it pumps): it composites this area too before it ends.
        m_PendingRect = qnUnionRect(m_PendingRect, r);
        return;
    }
    i_SetProgress("Rendering is in progress:");
    m_bBusy = 1;
    m_PendingRect = qnNullRect;
    i_CompositeAll(r, fromPercent, toPercent);
    m_bBusy = 0;
    pm_StatusDone();
    if (redraw)
        pm_RedrawPreview(1);
    i_AfterBusy();
}

void CPieceMap::i_CompositeAll(qntRECT_s r, uint8_t fromPercent, uint8_t toPercent)
{
    r = qnUnionRect(r, m_PendingRect);
    m_PendingRect = qnNullRect;
    while (!Empty(r)) {
        i_Composite(r, fromPercent, toPercent);
        r = m_PendingRect;
        m_PendingRect = qnNullRect;
    }
}

void CPieceMap::i_AfterBusy()
{
    if (m_bRestart && !m_bBusy) {
        // A re-render asked for while this one ran, and not taken over.
        m_bRestart = 0;
        const std::vector<uint32_t> list = std::move(m_PendingList);
        m_PendingList.clear();
        pmop_RerenderPieces(list, 1, 0);
    }
    i_EndIfPending();
}

// ---- Effect-state word and controls --------------------------------------------------

uint16_t CPieceMap::i_pmfx_GetFXOnSelection(uint32_t piece) const
{
    const uint32_t count = pm_PieceCount();
    if (!count || (piece != kNone && piece >= count))
        return 0;
    auto word = [](const CTessolo::SPLITEDCELL& c) {
        constexpr auto A = CTessolo::FX_APPLIED;
        uint16_t w = 0;
        w |= c.gaussianBlur[A].on ? 1u << FX_BLUR : 0;
        w |= c.bevel[A].on ? 1u << FX_BEVEL : 0;
        w |= c.hsl[A].on ? 1u << FX_HSL : 0;
        w |= c.colorOverlay[A].on ? 1u << FX_COLOROVERLAY : 0;
        w |= c.brightnessContrast[A].on ? 1u << FX_BRIGHTCONTRAST : 0;
        w |= c.motionBlur[A].on ? 1u << FX_MOTIONBLUR : 0;
        w |= c.opacity[A].on ? 1u << FX_OPACITY : 0;
        w |= c.invert[A] ? 1u << FX_INVERT : 0;
        w |= c.stroke[A].on ? 1u << FX_STROKE : 0;
        w |= c.imageOverlay[A].on ? 1u << FX_IMAGEOVERLAY : 0;
        w |= c.shown ? kSomeShown : kSomeHidden;
        return w;
    };
    if (piece != kNone)
        return word(*i_Piece(piece));
    uint16_t all = 0, selected = 0;
    bool any = false;
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t w = word(*i_Piece(i));
        all |= w;
        if (i_Piece(i)->selected) {
            selected |= w;
            any = true;
        }
    }
    return any ? selected : all;
}

void CPieceMap::OnCommonFXChanged()
{
    if (pm_IsBound())
        pm_RefreshControls(i_pmfx_GetFXOnSelection(kNone));
}

// ---- Progress --------------------------------------------------------------------------

void CPieceMap::i_SetProgress(const char* text)
{
    // While a render runs, what runs from its events reports under its text.
    if (m_bBusy)
        return;
    m_Progress.m_Text = text;
    m_Progress.SetUserDataPtr(pm_ProgressTarget());
    m_Progress.Restart();
}

void CPieceMap::i_Report(uint8_t percent) { m_Progress.Progress(percent, nullptr); }

void CPieceMap::i_EndIfPending()
{
    if (m_bEndPending && !m_bBusy)
        pm_End();
}

void CPieceMap::i_EndProgress() { pm_StatusDone(); }
