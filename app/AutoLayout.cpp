// The three automatic tilings: triangles, flat-topped hexagons and
// pointed-top hexagons, made of extra knives between grid knots (and, for
// hexagons, some grid knives turned back on).
#include "app/MainModel.h"

#include <algorithm>
#include <cmath>
#include <functional>

using namespace cutflag;

namespace {

const double kSin60 = std::sin(1.0471975511965976);

enum class Margins { None, Horizontal, Vertical };

// Splitters m, then k - 1 evenly spaced ones, then 1 - m (count = k + 1).
void MarginSplit(float* pos, uint16_t count, double m, double k)
{
    if (count == 0)
        return;
    const double step = (1.0 - 2.0 * m) / k;
    double p = m;
    pos[0] = static_cast<float>(m);
    for (uint16_t i = 1; i + 1 < count; ++i) {
        p += step;
        pos[i] = static_cast<float>(p);
    }
    pos[count - 1] = static_cast<float>(1.0 - m);
}

// Alternating half and whole steps: the slanted and the flat sides of a row
// of hexagons.
void HexSplit(float* pos, uint16_t count, double m, bool margins, uint32_t cells)
{
    if (count == 0)
        return;
    if (margins) {
        const double d = (1.0 - 2.0 * m) / (1.5 * cells + 0.5);
        pos[0] = static_cast<float>(m);
        pos[count - 1] = static_cast<float>(1.0 - m);
        double prev = m;
        for (uint32_t i = 1; i + 1 < count; i += 2) {
            const double a = prev + d / 2.0;
            pos[i] = static_cast<float>(a);
            if (i + 1 < count - 1u) {
                pos[i + 1] = static_cast<float>(a + d);
                prev = a + d;
            }
        }
    } else {
        const float d = static_cast<float>(1.0 / (1.5 * cells + 0.5));
        float prev = 0.0f;
        for (uint32_t i = 0; i < count; i += 2) {
            pos[i] = prev + d / 2.0f;
            if (i + 1 < count) {
                pos[i + 1] = pos[i] + d;
                prev = pos[i + 1];
            }
        }
    }
}

}  // namespace

namespace {

// The frame the three tilings share: a fresh grid with every grid knife off,
// and the knot walk run twice, counting the extra knives, then adding them.
// walk(add, knife) calls knife(ra, ca, rb, cb) for each extra knife from
// knot (ra, ca) to knot (rb, cb).
struct TilingFrame {
    using Knife = std::function<void(int32_t, int32_t, int32_t, int32_t)>;
    CWnd_MainModel& m;

    bool Begin(uint16_t columns, uint16_t rows)
    {
        m.uncm_SaveState(CWnd_MainModel::CMUNDO_LAYOUT, CWnd_MainModel::CMSUB_NEWLAYOUT);
        if (!m.spl_SplitEvenParts(columns, rows, kForce, kResetExtras))
            return false;
        m.op_SetSelToAllKnives(kSelect, kNoRedraw, kColumnKnives, kRowKnives, kExtraKnives);
        m.op_ShowHideSelectedKnives(kHide, kNoRedraw);
        m.op_SetSelToAllKnives(kDeselect, kNoRedraw, kColumnKnives, kRowKnives, kExtraKnives);
        return true;
    }

    void Walks(const std::function<void(bool, const Knife&)>& walk)
    {
        uint32_t count = 0;
        walk(false, [&](int32_t, int32_t, int32_t, int32_t) { ++count; });
        if (count == 0 || !m.spl_InitAuxKnivesMem(count))
            return;
        const int32_t stride = m.m_nKnotCols;
        walk(true, [&](int32_t ra, int32_t ca, int32_t rb, int32_t cb) {
            m.i_op_AddAuxKnifeToKnots(uint32_t(ra * stride + ca), uint32_t(rb * stride + cb));
        });
    }
};

}  // namespace

// Every knife takes the editor's shape, and the editor shows the new grid.
void CWnd_MainModel::i_FinishTiling()
{
    i_KnivesTakeCutterShape();
    if (m_bCutMode && IsCutterOpen()) {
        m_pCutter->ExtSetColumns(m_nColSplitters + 1u);
        m_pCutter->ShowRows(m_nRowSplitters + 1u);
    }
}

void CWnd_MainModel::AutoLayout_Triangles(uint32_t rows, uint32_t columns, uint8_t regular)
{
    const uint32_t rw = std::min(rows, kMostTriangleRows), cl = std::min(columns, kMostTriangleColumns);
    const double W = m_nImageWidth, H = m_nImageHeight;
    Margins margins = Margins::None;
    double m = 0.0;
    uint32_t gridCols = cl + 1, gridRows = rw;
    if (regular && rw > 0 && W > 0 && H > 0) {
        const double ah = H / (kSin60 * rw);
        const double aw = W / ((cl + 1) / 2.0);
        if (ah < aw) {
            margins = Margins::Horizontal;
            m = (W - ah * (cl + 1) / 2.0) / 2.0 / W;
            gridCols = cl + 3;
        } else if (aw < ah) {
            margins = Margins::Vertical;
            m = (H - aw * rw * kSin60) / 2.0 / H;
            gridRows = rw + 2;
        }
    }
    TilingFrame frame{*this};
    if (!frame.Begin(uint16_t(gridCols), uint16_t(gridRows)))
        return;

    const int32_t nRows = m_nKnotRows - (margins == Margins::Vertical ? 1 : 0);
    const int32_t nCols = m_nKnotCols - (margins == Margins::Horizontal ? 1 : 0);
    const int32_t r0 = margins == Margins::Vertical ? 1 : 0;
    const int32_t cMin = margins == Margins::Horizontal ? 1 : 0;
    frame.Walks([&](bool, const TilingFrame::Knife& knife) {
        int32_t p = 1;
        for (int32_t r = r0; r < nRows; ++r, p ^= 1) {
            const int32_t c0 = p + (margins == Margins::Horizontal ? 1 : 0);
            for (int32_t c = c0; c < nCols; c += 2) {
                if (r != 0 && r != m_nKnotRows - 1 && c >= cMin && c + 2 < nCols)
                    knife(r, c, r, c + 2);
                if (c > 0 && c - 1 >= cMin && c >= cMin && r + 1 < nRows)
                    knife(r, c, r + 1, c - 1);
                if (c + 1 < nCols && c >= cMin && r + 1 < nRows)
                    knife(r, c, r + 1, c + 1);
            }
        }
    });

    if (margins == Margins::Horizontal)
        MarginSplit(m_ColSplitters, m_nColSplitters, m, cl + 1);
    else if (margins == Margins::Vertical)
        MarginSplit(m_RowSplitters, m_nRowSplitters, m, rw);

    op_SetSelToAllKnives(kSelect, kNoRedraw, kSkip, kSkip, kExtraKnives);
    i_FinishTiling();
}

void CWnd_MainModel::AutoLayout_Hexagons(uint32_t rows, uint32_t columns, uint8_t regular)
{
    const uint32_t rw = std::min(rows, kMostHexagonRows), cl = std::min(columns, kMostHexagonColumns);
    const double W = m_nImageWidth, H = m_nImageHeight;
    Margins margins = Margins::None;
    double m = 0.0;
    uint32_t gridCols = 2 * cl + 1, gridRows = rw + 1;
    if (regular && W > 0 && H > 0) {
        const double ah = H / (kSin60 * (rw + 1));
        const double aw = W / (1.5 * cl + 0.5);
        if (ah < aw) {
            margins = Margins::Horizontal;
            m = (W - ah * (1.5 * cl + 0.5)) / 2.0 / W;
            gridCols = 2 * cl + 3;
        } else if (aw < ah) {
            margins = Margins::Vertical;
            m = (H - aw * (rw + 1) * kSin60) / 2.0 / H;
            gridRows = rw + 3;
        }
    }
    TilingFrame frame{*this};
    if (!frame.Begin(uint16_t(gridCols), uint16_t(gridRows)))
        return;

    const int32_t nRows = m_nKnotRows - (margins == Margins::Vertical ? 1 : 0);
    const int32_t nCols = m_nKnotCols - (margins == Margins::Horizontal ? 1 : 0);
    const int32_t r0 = margins == Margins::Vertical ? 1 : 0;
    const uint32_t C = m_nColSplitters;
    frame.Walks([&](bool add, const TilingFrame::Knife& knife) {
        int32_t first = 1;
        for (int32_t r = r0; r < nRows; ++r, first = -first) {
            const int32_t c0 = first + (margins == Margins::Horizontal ? 1 : 0);
            for (int32_t c = c0; c < nCols; c += 4) {
                if (c - 1 >= 0 && c < m_nKnotCols && r + 1 < nRows)
                    knife(r, c, r + 1, c - 1);
                if (c + 1 >= 0 && c + 2 < m_nKnotCols && r + 1 < nRows)
                    knife(r, c + 1, r + 1, c + 2);
                if (add && r > 0 && r < m_nKnotRows - 1 && c > 0 && c < nCols - 1)
                    m_RowKnives[size_t(r - 1) * (C + 1) + size_t(c)].off = 0;
            }
        }
    });

    HexSplit(m_ColSplitters, m_nColSplitters, m, margins == Margins::Horizontal, cl);
    if (margins == Margins::Vertical)
        MarginSplit(m_RowSplitters, m_nRowSplitters, m, rw + 1);

    op_SetSelToHiddenOrShownKnives(kShownKnives, kNoRedraw);
    i_FinishTiling();
}

void CWnd_MainModel::AutoLayout_Hexagons_R(uint32_t rows, uint32_t columns, uint8_t regular)
{
    const uint32_t rw = std::min<uint32_t>(rows, 48), cl = std::min<uint32_t>(columns, 97);
    const double W = m_nImageWidth, H = m_nImageHeight;
    Margins margins = Margins::None;
    double m = 0.0;
    uint32_t gridCols = cl + 1, gridRows = 2 * rw + 1;
    if (regular && W > 0 && H > 0) {
        const double ah = H / (1.5 * rw + 0.5);
        const double aw = W / (kSin60 * (cl + 1));
        if (ah < aw) {
            margins = Margins::Horizontal;
            m = (W - ah * (cl + 1) * kSin60) / 2.0 / W;
            gridCols = cl + 3;
        } else if (aw < ah) {
            margins = Margins::Vertical;
            m = (H - (1.5 * rw + 0.5) * aw) / 2.0 / H;
            gridRows = 2 * rw + 3;
        }
    }
    TilingFrame frame{*this};
    if (!frame.Begin(uint16_t(gridCols), uint16_t(gridRows)))
        return;

    const int32_t nRows = m_nKnotRows - (margins == Margins::Vertical ? 1 : 0);
    const int32_t nCols = m_nKnotCols - (margins == Margins::Horizontal ? 1 : 0);
    const int32_t r0 = margins == Margins::Vertical ? 1 : 0;
    const int32_t cMin = margins == Margins::Horizontal ? 1 : 0;
    const int32_t C = m_nColSplitters;
    frame.Walks([&](bool add, const TilingFrame::Knife& knife) {
        // The column knife on splitter j between knot rows a and a + 1.
        auto turnOn = [&](int32_t j, int32_t a) {
            if (add && j >= 0 && j < C && a >= 0 && a + 1 < m_nKnotRows)
                m_ColKnives[size_t(a) * C + size_t(j)].off = 0;
        };
        for (int32_t r = r0; r < nRows; r += 4) {
            for (int32_t c = margins == Margins::Horizontal ? 2 : 1; c < nCols; c += 2) {
                if (c - 1 >= cMin && c >= cMin && r + 1 < nRows)
                    knife(r, c, r + 1, c - 1);
                if (c + 1 < nCols && c >= cMin && r + 1 < nRows)
                    knife(r, c, r + 1, c + 1);
                if (c - 1 >= cMin && c >= cMin && r + 3 < nRows)
                    knife(r + 3, c, r + 2, c - 1);
                if (c + 1 < nCols && c >= cMin && r + 3 < nRows)
                    knife(r + 3, c, r + 2, c + 1);
                if (r < nRows - 2) {
                    if (c >= 2)
                        turnOn(c - 2, r + 1);
                    if (c <= C - 1)
                        turnOn(c, r + 1);
                }
                if (r + 2 < nRows - 2 && c >= 1)
                    turnOn(c - 1, r + 3);
            }
        }
    });

    if (margins == Margins::Horizontal)
        MarginSplit(m_ColSplitters, m_nColSplitters, m, cl + 1);
    HexSplit(m_RowSplitters, m_nRowSplitters, m, margins == Margins::Vertical, rw);

    op_SetSelToHiddenOrShownKnives(kShownKnives, kNoRedraw);
    i_FinishTiling();
}
