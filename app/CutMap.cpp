// The cut map itself: sizing the grid, knot offsets and positions, setting
// knives from the knife editor, the value queries, hit tests and the rule for
// extra knives.
#include "app/MainModel.h"
#include "engine/DefaultKnife.h"
#include "engine/Tessolo.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

using namespace cutflag;

CWnd_MainModel::CWnd_MainModel() : m_pRandom(&m_StdRandom) {}

CWnd_MainModel::~CWnd_MainModel() { spl_CleanKnives(); }

void CWnd_MainModel::SetImageSize(uint32_t width, uint32_t height)
{
    m_nImageWidth = width;
    m_nImageHeight = height;
}

void CWnd_MainModel::SetRandomSource(CQNF_RandomSource* random) { m_pRandom = random ? random : &m_StdRandom; }

void CWnd_MainModel::ShowMessageBox(const char* text, const char* title)
{
    m_LastMessage = text ? text : "";
    m_LastMessageTitle = title ? title : "";
}

CWnd_MainModel::KNIFESTRUCT* CWnd_MainModel::GetKnifeById(uint32_t id)
{
    return const_cast<KNIFESTRUCT*>(static_cast<const CWnd_MainModel*>(this)->GetKnifeById(id));
}

uint16_t CWnd_MainModel::i_SplitterCount(uint32_t cells)
{
    return cells == 0 ? 0 : uint16_t(std::min<uint32_t>(cells - 1, 100));
}

void CWnd_MainModel::i_EvenSplit(float* pos, uint16_t n)
{
    CTessolo::EvenGuides(pos, n);
}

const CWnd_MainModel::KNIFESTRUCT* CWnd_MainModel::GetKnifeById(uint32_t id) const
{
    if (id >= kAuxKnifeId)
        return id - kAuxKnifeId < m_nAuxKnives ? &m_AuxKnives[id - kAuxKnifeId].knife : nullptr;
    if (id >= kRowKnifeId)
        return id - kRowKnifeId < m_nRowKnives ? &m_RowKnives[id - kRowKnifeId] : nullptr;
    return id < m_nColKnives ? &m_ColKnives[id] : nullptr;
}

namespace {

void ResetGridKnife(CWnd_MainModel::KNIFESTRUCT& k)
{
    std::memset(&k, 0, sizeof(k));
    k.knobSize = 100;
    k.thickness = 3;
}

}  // namespace

uint8_t CWnd_MainModel::spl_SplitEvenParts(uint16_t columns, uint16_t rows, uint8_t force, uint8_t resetAux)
{
    const uint16_t c = i_SplitterCount(columns);
    const uint16_t r = i_SplitterCount(rows);
    const bool colChanged = force || c != m_nColSplitters;
    const bool rowChanged = force || r != m_nRowSplitters;
    if (!colChanged && !rowChanged && m_nKnotCols == c + 2 && m_nKnotRows == r + 2)
        return 1;

    // Every block grows before any count changes, so a failure leaves a
    // cut map whose counts still fit its blocks.
    const uint32_t knots = uint32_t(c + 2) * (r + 2);
    const uint32_t colKnives = uint32_t(c) * (r + 1);
    const uint32_t rowKnives = uint32_t(c + 1) * r;
    try {
        if (m_Knots.size() < knots)
            m_Knots.resize(knots);
        if (m_KnotMarkers.size() < knots)
            m_KnotMarkers.resize(knots);
        if (m_ColKnives.size() < colKnives)
            m_ColKnives.resize(colKnives);
        if (m_RowKnives.size() < rowKnives)
            m_RowKnives.resize(rowKnives);
    } catch (const std::bad_alloc&) {
        return 0;
    }

    m_nColSplitters = c;
    m_nRowSplitters = r;
    if (colChanged)
        i_EvenSplit(m_ColSplitters, c);
    if (rowChanged)
        i_EvenSplit(m_RowSplitters, r);
    m_nKnotCols = uint16_t(c + 2);
    m_nKnotRows = uint16_t(r + 2);
    m_nKnots = knots;
    m_nKnotMarkers = 0;
    spl_AutoFillKnots(kAllKnots);
    spl_CleanKnives();

    m_nColKnives = colKnives;
    m_nColKnivesW = c;
    m_nColKnivesH = uint16_t(r + 1);
    for (uint32_t i = 0; i < colKnives; ++i)
        ResetGridKnife(m_ColKnives[i]);
    m_nRowKnives = rowKnives;
    m_nRowKnivesW = uint16_t(c + 1);
    m_nRowKnivesH = r;
    for (uint32_t i = 0; i < rowKnives; ++i)
        ResetGridKnife(m_RowKnives[i]);
    if (resetAux)
        m_nAuxKnives = 0;

    m_nSelKnots = 0;
    m_Anchor = ANCHOR{};
    m_bKnifeSelection = 0;
    return 1;
}

float CWnd_MainModel::i_RandomOffset(float a)
{
    const uint32_t r = i_Rand();
    return static_cast<float>(2.0 * r * a / 2147483647.0) - a;
}

void CWnd_MainModel::i_MarkKnotsOfSelection(std::vector<uint8_t>& marks) const
{
    const uint32_t C = m_nColSplitters, R = m_nRowSplitters;
    marks.assign(m_nKnots, 0);
    for (uint32_t kr = 0; kr < m_nKnotRows; ++kr)
        for (uint32_t kc = 0; kc < m_nKnotCols; ++kc) {
            bool hit = false;
            if (kc >= 1 && kc <= C) {
                if (kr > 0 && m_ColKnives[(kr - 1) * C + (kc - 1)].selected)
                    hit = true;
                if (kr < R + 1 && m_ColKnives[kr * C + (kc - 1)].selected)
                    hit = true;
            }
            if (kr >= 1 && kr <= R) {
                if (kc > 0 && m_RowKnives[(kr - 1) * (C + 1) + (kc - 1)].selected)
                    hit = true;
                if (kc < C + 1 && m_RowKnives[(kr - 1) * (C + 1) + kc].selected)
                    hit = true;
            }
            if (hit)
                marks[kr * m_nKnotCols + kc] = 1;
        }
    for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
        const AUXKNIFESTRUCT& a = m_AuxKnives[i];
        if (!a.knife.selected)
            continue;
        if (a.knotA < m_nKnots)
            marks[a.knotA] = 1;
        if (a.knotB < m_nKnots)
            marks[a.knotB] = 1;
    }
}

void CWnd_MainModel::spl_AutoFillKnots(uint8_t all)
{
    const float a = m_KnotRandomness;
    const bool random = a > 0.001f;
    std::vector<uint8_t> marks;
    const bool onlyMarked = !all && m_bKnifeSelection;
    if (onlyMarked)
        i_MarkKnotsOfSelection(marks);
    for (uint32_t i = 0; i < m_nKnots; ++i) {
        if (onlyMarked && !marks[i])
            continue;
        KNOTSTRUCT& k = m_Knots[i];
        if (random) {
            k.dx = i_RandomOffset(a);
            k.dy = i_RandomOffset(a);
        } else {
            k.dx = k.dy = 0.0f;
        }
    }
}

void CWnd_MainModel::spl_CleanKnives()
{
    auto clean = [](KNIFESTRUCT& k) {
        delete k.points;
        k.points = nullptr;
        k.pointCount = 0;
    };
    for (KNIFESTRUCT& k : m_ColKnives)
        clean(k);
    for (KNIFESTRUCT& k : m_RowKnives)
        clean(k);
    for (AUXKNIFESTRUCT& a : m_AuxKnives)
        clean(a.knife);
}

void CWnd_MainModel::i_ReleaseAuxPoints(AUXKNIFESTRUCT& aux)
{
    delete aux.knife.points;
    aux.knife.points = nullptr;
    aux.knife.pointCount = 0;
}

uint8_t CWnd_MainModel::spl_InitAuxKnivesMem(uint32_t n)
{
    if (n == 0 || n <= m_AuxKnives.size())
        return 1;
    if (n > kMaxAuxKnives)
        return 0;
    uint64_t want = uint64_t(n) + 100;
    if (n > 999)
        want += n / 10;
    try {
        m_AuxKnives.resize(size_t(want));  // new records are zeroed
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

CWnd_MainModel::KNIFESTRUCT* CWnd_MainModel::settings_SetDefaultKnife(KNIFESTRUCT* knife)
{
    constexpr qntDefaultKnife kShape = qnDefaultKnife();
    knife->nodeCount = kShape.kNodes;
    knife->knobSize = kShape.kKnobSize;
    knife->thickness = kShape.kThickness;
    for (uint32_t i = 0; i < kShape.kNodes; ++i) {
        knife->U[i] = kShape.U[i];
        knife->H[i] = kShape.H[i];
        knife->S[i] = kShape.S[i];
    }
    return knife;
}

int32_t CWnd_MainModel::i_CovertKnotID(uint32_t knot, uint8_t insert, uint8_t column, uint16_t splitter) const
{
    if (knot >= m_nKnots || m_nKnotCols == 0)
        return -1;
    const int64_t stride = m_nKnotCols;
    const int64_t row = knot / stride, col = knot % stride;
    int64_t out;
    if (insert) {
        if (!column)
            out = col + (row > splitter ? row + 1 : row) * stride;
        else
            out = (col > splitter ? col + 1 : col) + row * (stride + 1);
    } else {
        if (!column) {
            if (row == splitter + 1)
                return -1;
            out = col + (row > splitter + 1 ? row - 1 : row) * stride;
        } else {
            if (col == splitter + 1)
                return -1;
            out = (col > splitter + 1 ? col - 1 : col) + row * (stride - 1);
        }
    }
    return static_cast<int32_t>(out);
}

qntFPOS CWnd_MainModel::i_spl_ConvertKnot(uint32_t col, uint32_t row, double width, double height,
                                          qntFPOS origin) const
{
    if (col >= m_nKnotCols || row >= m_nKnotRows)
        return qntFPOS{0.0, 0.0};
    const uint32_t C = m_nColSplitters, R = m_nRowSplitters;
    const KNOTSTRUCT& k = m_Knots[row * m_nKnotCols + col];

    auto axis = [](uint32_t i, uint32_t n, const float* pos, float d, double extent) -> double {
        if (i == 0)
            return 0.0;
        if (i == n + 1)
            return extent;
        const double s = pos[i - 1];
        double gap;
        if (d >= 0.0f)
            gap = i == n ? 1.0 - s : pos[i] - s;
        else
            gap = i == 1 ? s : s - pos[i - 2];
        return (s + gap * d) * extent;
    };
    return qntFPOS{axis(col, C, m_ColSplitters, k.dx, width) - origin.x,
                   axis(row, R, m_RowSplitters, k.dy, height) - origin.y};
}

qntFPOS CWnd_MainModel::i_spl_ConvertKnot(uint32_t knot, double width, double height, qntFPOS origin) const
{
    if (m_nKnotCols == 0 || m_nKnots == 0)
        return qntFPOS{0.0, 0.0};
    return i_spl_ConvertKnot(knot % m_nKnotCols, knot / m_nKnotCols, width, height, origin);
}

namespace {

float Clamp01(double v) { return v >= 1.0 ? 1.0f : v < 0.0 ? 0.0f : static_cast<float>(v); }

// The ranges the settings block keeps; values outside them would be read
// back differently by every reader of the block.
float ClampU(double v) { return std::isfinite(v) ? Clamp01(v) : 0.0f; }
float ClampH(double v) { return std::isfinite(v) ? static_cast<float>(std::clamp(v, -3.0, 3.0)) : 0.0f; }
float ClampS(double v) { return std::isfinite(v) ? static_cast<float>(std::clamp(v, -2.0, 2.0)) : 0.0f; }

}  // namespace

void CWnd_MainModel::i_spl_SetKnife(KNIFESTRUCT* knife, float mutS, float mutH, float mutU, uint8_t onlySelectedNodes,
                                    uint8_t flip, uint8_t flipAcross, uint8_t takeSizes)
{
    if (!knife || !m_pCutter)
        return;
    const CCutterLink::SHAPE& sh = m_pCutter->GetShape();
    const uint32_t n = std::min<uint32_t>(sh.nodeCount, kMaxNodes);
    const float s = mutS * mutS, h = mutH * mutH, u = mutU * mutU;

    if (knife->nodeCount != n) {
        knife->nodeCount = n;
        for (uint32_t i = 0; i < n; ++i) {
            knife->U[i] = ClampU(sh.U[i]);
            knife->H[i] = ClampH(sh.H[i]);
            knife->S[i] = ClampS(sh.S[i]);
        }
        flip = 0;
    }
    if (takeSizes) {
        knife->knobSize = std::clamp<uint32_t>(m_pCutter->GetKnobSize(), 1, 100);
        knife->thickness = std::min<uint32_t>(m_pCutter->GetThickness(), 255);
    }
    knife->length = 0.0f;
    knife->centerU = 0.0f;
    if (n == 0)
        return;

    if (flip) {
        if (flipAcross) {
            for (uint32_t i = 0; i < n; ++i)
                knife->H[i] = -knife->H[i];
        } else {
            for (uint32_t i = 0; i < n; ++i)
                knife->U[i] = 1.0f - knife->U[i];
            for (uint32_t i = 0; i < n / 2; ++i) {
                std::swap(knife->U[i], knife->U[n - 1 - i]);
                std::swap(knife->H[i], knife->H[n - 1 - i]);
                std::swap(knife->S[i], knife->S[n - 1 - i]);
            }
        }
    }

    const float k = 1.0f / 2147483648.0f;
    for (uint32_t i = 0; i < n; ++i) {
        if (onlySelectedNodes && !sh.selected[i])
            continue;
        const uint32_t r1 = i_Rand(), r2 = i_Rand(), r3 = i_Rand();
        knife->S[i] = ClampS(Clamp01(sh.S[i] + (static_cast<float>(double(r1) * 2.0 * s) * k - s)));
        knife->H[i] = ClampH(sh.H[i] + (static_cast<float>(double(r2) * h * k) - h / 2));
        knife->U[i] = ClampU(sh.U[i] + (static_cast<float>(double(r3) * u * k) - u / 2));
    }
    double sum = 0.0;
    for (uint32_t i = 0; i < n; ++i)
        sum += knife->U[i];
    knife->centerU = static_cast<float>(sum / n);
}

void CWnd_MainModel::spl_DoSetKnifeTh(uint32_t thickness, uint8_t razorCut, uint8_t onlySelected)
{
    m_bRazorCut = razorCut;
    // The settings block keeps one byte of it.
    thickness = std::min<uint32_t>(thickness, 255);
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (i_Considered(k, onlySelected))
            k.thickness = thickness;
    });
}

void CWnd_MainModel::spl_DoSetKnobSize(uint32_t knobSize, uint8_t onlySelected)
{
    knobSize = std::clamp<uint32_t>(knobSize, kQnLeastKnob, kQnMostKnob);
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t) {
        if (i_Considered(k, onlySelected))
            k.knobSize = knobSize;
    });
}

namespace {

template <class Get>
uint16_t MeanOf(const CWnd_MainModel& m, uint8_t onlySelected, uint8_t& mixed, Get get, uint32_t none, uint32_t lo,
                uint32_t hi)
{
    uint64_t sum = 0, count = 0;
    uint32_t first = 0;
    mixed = 0;
    m.i_ForEachKnife([&](const CWnd_MainModel::KNIFESTRUCT& k, uint32_t) {
        if (onlySelected && m.m_bKnifeSelection && !k.selected)
            return;
        const uint32_t v = get(k);
        if (count == 0)
            first = v;
        else if (v != first)
            mixed = 1;
        sum += v;
        ++count;
    });
    if (count == 0)
        return uint16_t(none);
    if (!mixed)
        return uint16_t(std::min<uint32_t>(first, 65535));
    return uint16_t(std::clamp<uint64_t>(sum / count, lo, hi));
}

}  // namespace

uint16_t CWnd_MainModel::spl_DoGetKnifeThickness(uint8_t onlySelected, uint8_t& mixed) const
{
    return MeanOf(*this, onlySelected, mixed, [](const KNIFESTRUCT& k) { return k.thickness; }, 1, 1, 100);
}

uint16_t CWnd_MainModel::spl_DoGetKnobSize(uint8_t onlySelected, uint8_t& mixed) const
{
    return MeanOf(*this, onlySelected, mixed, [](const KNIFESTRUCT& k) { return k.knobSize; }, 100, 0, 100);
}

uint32_t CWnd_MainModel::icGetIdealColumnsForRows(uint32_t rows) const
{
    if (m_nImageHeight == 0)
        return 1;
    rows = std::clamp<uint32_t>(rows, 1, 100);
    const uint64_t c = uint64_t(rows) * m_nImageWidth / m_nImageHeight;
    return c == 0 ? 1 : uint32_t(std::min<uint64_t>(c, 100));
}

uint32_t CWnd_MainModel::icGetIdealRowsForColumns(uint32_t columns) const
{
    const uint32_t c = std::clamp<uint32_t>(columns, 1, 100);
    if (m_nImageWidth == 0)
        return 1;
    const uint32_t r = uint32_t(std::clamp<uint64_t>(uint64_t(m_nImageHeight) * c / m_nImageWidth, 1, 100));
    uint32_t out = r;
    if (icGetIdealColumnsForRows(r) == c)
        out = r;
    else if (icGetIdealColumnsForRows(r + 1) == c)
        out = r + 1;
    else if (r >= 1 && icGetIdealColumnsForRows(r - 1) == c)
        out = r - 1;
    return std::clamp<uint32_t>(out, 1, 100);
}

uint8_t CWnd_MainModel::op_TestAllowRCInsertion(uint8_t column, int16_t x, int16_t y) const
{
    double f;
    if (column) {
        if (m_nColSplitters > 98 || x <= m_rcPreview.left || x >= m_rcPreview.right || m_PreviewMap[1] == 0.0)
            return 0;
        f = (x - m_rcHSplitRuler.left + m_PreviewMap[0]) / m_PreviewMap[1];
    } else {
        if (m_nRowSplitters > 98 || y <= m_rcPreview.top || y >= m_rcPreview.bottom || m_PreviewMap[3] == 0.0)
            return 0;
        f = (y - m_rcVSplitRuler.top + m_PreviewMap[2]) / m_PreviewMap[3];
    }
    return f >= 0.0 && f <= 1.0;
}

int32_t CWnd_MainModel::i_ZoomValue(int32_t v) const
{
    if (m_nZoom >= 4)
        return v << std::min<int>(m_nZoom - 4, 16);
    return v >> (4 - m_nZoom);
}

uint8_t CWnd_MainModel::i_spl_XYInKnife(const KNIFESTRUCT* knife, long x, long y)
{
    if (!knife || !knife->points || knife->pointCount < 2 || !knife->points->GetPtr())
        return 0;
    const int32_t w = i_ZoomValue(m_bRazorCut ? 0 : int32_t(std::min<uint32_t>(knife->thickness, 255)));
    const double r = std::max<int32_t>(5, w / 2);
    const qntFPOS* pts = reinterpret_cast<const qntFPOS*>(knife->points->GetPtr());
    const uint32_t count = std::min<uint32_t>(knife->pointCount, knife->points->GetSize() / sizeof(qntFPOS));
    const qntFPOS p{double(x), double(y)};
    for (uint32_t i = 0; i < count; ++i) {
        const double dx = pts[i].x - p.x, dy = pts[i].y - p.y;
        if (dx * dx + dy * dy <= r * r)
            return 1;
        if (i > 0) {
            double dist = 0.0, t = 0.0;
            if (m_Math.PointToLineDistance(pts[i - 1], pts[i], p, dist, t) && dist <= r)
                return 1;
        }
    }
    return 0;
}

uint8_t CWnd_MainModel::spl_GetKnifeByXY(long x, long y, CQNF_DWordArray* ids)
{
    if (!ids)
        return 0;
    ids->Empty();
    i_ForEachKnife([&](KNIFESTRUCT& k, uint32_t id) {
        if (i_spl_XYInKnife(&k, x, y))
            ids->Add(id);
    });
    return ids->GetSize() > 0;
}

uint8_t CWnd_MainModel::i_cmop_IsPossibleKnotsForAuxKnife(uint32_t a, uint32_t b) const
{
    if (a == b || a >= m_nKnots || b >= m_nKnots)
        return 0;
    const uint32_t d = a > b ? a - b : b - a;
    if (d == 1 || d == uint32_t(m_nColSplitters) + 2)
        return 0;
    for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
        const AUXKNIFESTRUCT& k = m_AuxKnives[i];
        if ((k.knotA == a && k.knotB == b) || (k.knotA == b && k.knotB == a))
            return 0;
    }
    return 1;
}
