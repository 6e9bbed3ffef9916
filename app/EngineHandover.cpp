// Handing the cut map to the cutting engine, and the engine's pieces back
// as effect records for a settings block written in piece mode.
//
// The hand-over applies each knife's flips and knob size the way the
// engine's own reader of a settings block does, value for value: the same
// ranges, the same order of operations and the same precision. A layout
// applied from the window and the same layout replayed by the host from its
// saved block therefore cut exactly alike.
#include "app/MainModel.h"

#include "engine/Tessolo.h"

#include <algorithm>

namespace {

void PutKnife(const CWnd_MainModel::KNIFESTRUCT& k, CTessolo::KNIFESTRUCT_RENDERER& out)
{
    if (k.off) {
        out.nodes = CTessolo::kKnifeOff;
        return;
    }
    const uint32_t n = std::min<uint32_t>(k.nodeCount, CTessolo::kMaxNodes);
    // One byte of each is what the settings block keeps.
    const uint8_t knob = uint8_t(k.knobSize);
    out.width = uint8_t(k.thickness);
    out.nodes = n;
    for (uint32_t j = 0; j < n; ++j) {
        const uint32_t i = k.flipU ? n - 1 - j : j;
        float u = std::clamp(k.U[i], 0.0f, 1.0f);
        if (k.flipU)
            u = 1.0f - u;
        float h = std::clamp(k.H[i], -3.0f, 3.0f);
        if (k.flipH)
            h = -h;
        out.U[j] = u;
        out.H[j] = h;
        out.S[j] = std::clamp(k.S[i], -2.0f, 2.0f);
    }
    if (knob != 100 && n > 0) {
        // The knob grows or shrinks around its centre, the mean U of the
        // nodes as drawn (1 - centerU when flipped along).
        double m = 0.0;
        for (uint32_t j = 0; j < n; ++j)
            m += out.U[j];
        m /= n;
        const double p = knob / 100.0;
        for (uint32_t j = 0; j < n; ++j) {
            out.U[j] = static_cast<float>(m - (m - out.U[j]) * p);
            out.H[j] = static_cast<float>(out.H[j] * p);
        }
    }
}

}  // namespace

uint8_t CWnd_MainModel::engine_PutLayoutToPuzzleEngine(CTessolo* engine)
{
    if (!engine || !engine->Init(uint16_t(m_nColSplitters + 1), uint16_t(m_nRowSplitters + 1), m_nAuxKnives)) {
        m_nModelError = qnerr::LayoutEngineMismatch;
        return 0;
    }
    for (uint32_t i = 0; i < m_nColSplitters; ++i)
        engine->m_fColumnGuides[i] = m_ColSplitters[i];
    for (uint32_t i = 0; i < m_nRowSplitters; ++i)
        engine->m_fRowGuides[i] = m_RowSplitters[i];
    if (engine->m_nKnots != m_nKnots || engine->m_nHKnives != m_nRowKnives || engine->m_nVKnives != m_nColKnives ||
        engine->m_nFreeKnives != m_nAuxKnives) {
        m_nModelError = qnerr::LayoutEngineMismatch;
        return 0;
    }
    for (uint32_t i = 0; i < m_nKnots; ++i)
        engine->m_pKnots[i] = CTessolo::KNOT{m_Knots[i].dx, m_Knots[i].dy};
    for (uint32_t i = 0; i < m_nRowKnives; ++i)
        PutKnife(m_RowKnives[i], engine->m_pHKnives[i]);
    for (uint32_t i = 0; i < m_nColKnives; ++i)
        PutKnife(m_ColKnives[i], engine->m_pVKnives[i]);
    for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
        PutKnife(m_AuxKnives[i].knife, engine->m_pFreeKnives[i].knife);
        engine->m_pFreeKnives[i].knotA = m_AuxKnives[i].knotA;
        engine->m_pFreeKnives[i].knotB = m_AuxKnives[i].knotB;
    }
    engine->m_bCut = m_bRazorCut ? 1 : 0;
    engine->m_bSmooth = m_bAntiAlias ? 1 : 0;
    return 1;
}

bool CWnd_MainModel::settings_TakePieceRecordsFromEngine(const CTessolo& engine)
{
    m_nPieceRecords = 0;
    if (engine.m_nPieces == 0)
        return true;
    if (!m_PieceRecords.alloc(uint64_t(engine.m_nPieces) * kPieceRecordSize))
        return false;
    for (uint32_t i = 0; i < engine.m_nPieces; ++i)
        CTessolo::MakeOnePiece(engine.m_pPieces[i]).StoreLE(m_PieceRecords.GetPtr() + size_t(i) * kPieceRecordSize);
    m_nPieceRecords = engine.m_nPieces;
    return true;
}
