#include "app/PlainLayout.h"

#include "app/MainModel.h"
#include "engine/DefaultKnife.h"

#include <algorithm>

namespace {

void PutKnife(CWnd_MainModel::KNIFESTRUCT& k, const qntPlainKnife& plain)
{
    k = CWnd_MainModel::KNIFESTRUCT{};
    k.flipH = plain.flags & 1;
    k.flipU = (plain.flags >> 1) & 1;
    k.off = (plain.flags >> 2) & 1;
    k.selected = (plain.flags >> 3) & 1;
    k.knobSize = plain.knob;
    k.thickness = plain.thickness;
    k.nodeCount = static_cast<uint32_t>(std::min<size_t>(plain.U.size(), CWnd_MainModel::kMaxNodes));
    for (uint32_t i = 0; i < k.nodeCount; ++i) {
        k.U[i] = plain.U[i];
        k.H[i] = i < plain.H.size() ? plain.H[i] : 0.0f;
        k.S[i] = i < plain.S.size() ? plain.S[i] : 0.0f;
    }
}

}  // namespace

std::vector<uint8_t> qnWritePlainLayout(const qntPlainLayout& m)
{
    CWnd_MainModel model;
    model.m_nRowSplitters = m.rowSplitters;
    model.m_nColSplitters = m.columnSplitters;
    for (size_t i = 0; i < m.rowGuides.size() && i < CWnd_MainModel::kMaxSplitters; ++i)
        model.m_RowSplitters[i] = m.rowGuides[i];
    for (size_t i = 0; i < m.columnGuides.size() && i < CWnd_MainModel::kMaxSplitters; ++i)
        model.m_ColSplitters[i] = m.columnGuides[i];
    model.m_nKnots = static_cast<uint32_t>(m.knots.size());
    model.m_Knots.resize(m.knots.size());
    for (size_t i = 0; i < m.knots.size(); ++i) {
        model.m_Knots[i].dx = m.knots[i].dx;
        model.m_Knots[i].dy = m.knots[i].dy;
    }
    auto knives = [](const std::vector<qntPlainKnife>& plain, std::vector<CWnd_MainModel::KNIFESTRUCT>& list,
                     uint32_t& count) {
        count = static_cast<uint32_t>(plain.size());
        list.resize(plain.size());
        for (size_t i = 0; i < plain.size(); ++i)
            PutKnife(list[i], plain[i]);
    };
    knives(m.columnKnives, model.m_ColKnives, model.m_nColKnives);
    knives(m.rowKnives, model.m_RowKnives, model.m_nRowKnives);
    model.m_nAuxKnives = static_cast<uint32_t>(m.extra.size());
    model.m_AuxKnives.resize(m.extra.size());
    for (size_t i = 0; i < m.extra.size(); ++i) {
        PutKnife(model.m_AuxKnives[i].knife, m.extra[i].knife);
        model.m_AuxKnives[i].knotA = m.extra[i].knotA;
        model.m_AuxKnives[i].knotB = m.extra[i].knotB;
    }
    model.m_bRazorCut = m.razor ? 1 : 0;
    model.m_bAntiAlias = m.antiAlias ? 1 : 0;
    model.m_bCutMode = m.pieceMode ? 0 : 1;
    const size_t recordBytes = m.records.size() * CWnd_MainModel::kPieceRecordSize;
    if (m.pieceMode && recordBytes > 0) {
        if (!model.m_PieceRecords.alloc(recordBytes))
            return {};
        for (size_t i = 0; i < m.records.size(); ++i)
            m.records[i].StoreLE(model.m_PieceRecords.GetPtr() + i * CWnd_MainModel::kPieceRecordSize);
        model.m_nPieceRecords = static_cast<uint32_t>(m.records.size());
    }
    CQNF_Mem block;
    uint32_t length = 0;
    if (!model.settings_SaveCurLayoutAndCellSettingsToMem(&block, length))
        return {};
    return std::vector<uint8_t>(block.GetPtr(), block.GetPtr() + length);
}

qntPlainKnife qnPlainDefaultKnife()
{
    constexpr qntDefaultKnife kShape = qnDefaultKnife();
    qntPlainKnife k;
    k.knob = kShape.kKnobSize;
    k.thickness = kShape.kThickness;
    k.U.assign(kShape.U, kShape.U + kShape.kNodes);
    k.H.assign(kShape.H, kShape.H + kShape.kNodes);
    k.S.assign(kShape.S, kShape.S + kShape.kNodes);
    return k;
}
