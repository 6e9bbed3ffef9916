#include "hostapp/layout/LayoutBlock.h"

#include "app/MainModel.h"
#include "engine/DefaultKnife.h"

#include <algorithm>
#include <cstring>

namespace hostapp {

KnifeShape KnifeShape::DefaultKnob()
{
    constexpr qntDefaultKnife kShape = qnDefaultKnife();
    KnifeShape k;
    k.U.assign(kShape.U, kShape.U + kShape.kNodes);
    k.H.assign(kShape.H, kShape.H + kShape.kNodes);
    k.S.assign(kShape.S, kShape.S + kShape.kNodes);
    return k;
}

KnifeShape KnifeShape::Straight()
{
    return KnifeShape{};
}

namespace {

// A knife of the model from a plan's shape.
void PutKnife(CWnd_MainModel::KNIFESTRUCT& k, const KnifeShape& shape)
{
    k = CWnd_MainModel::KNIFESTRUCT{};
    k.flipH = shape.flags & 1;
    k.flipU = (shape.flags >> 1) & 1;
    k.off = (shape.flags >> 2) & 1;
    k.knobSize = shape.knob;
    k.thickness = shape.width;
    k.nodeCount = static_cast<uint32_t>(std::min<size_t>(shape.U.size(), CWnd_MainModel::kMaxNodes));
    for (uint32_t i = 0; i < k.nodeCount; ++i) {
        k.U[i] = shape.U[i];
        k.H[i] = i < shape.H.size() ? shape.H[i] : 0.0f;
        k.S[i] = i < shape.S.size() ? shape.S[i] : 0.0f;
    }
}

}  // namespace

std::vector<uint8_t> BuildLayoutBlock(const LayoutPlan& plan)
{
    const uint32_t innerC = std::min<uint32_t>(plan.columns > 0 ? plan.columns - 1u : 0u, CWnd_MainModel::kMaxSplitters);
    const uint32_t innerR = std::min<uint32_t>(plan.rows > 0 ? plan.rows - 1u : 0u, CWnd_MainModel::kMaxSplitters);
    CWnd_MainModel model;
    model.m_nColSplitters = static_cast<uint16_t>(innerC);
    model.m_nRowSplitters = static_cast<uint16_t>(innerR);
    for (uint32_t j = 0; j < innerR; ++j)
        model.m_RowSplitters[j] = static_cast<float>(j + 1) / static_cast<float>(innerR + 1);
    for (uint32_t i = 0; i < innerC; ++i)
        model.m_ColSplitters[i] = static_cast<float>(i + 1) / static_cast<float>(innerC + 1);
    model.m_nKnots = (innerC + 2) * (innerR + 2);
    model.m_Knots.assign(model.m_nKnots, CWnd_MainModel::KNOTSTRUCT{});
    for (uint32_t k = 0; k < model.m_nKnots && k < plan.knots.size(); ++k) {
        model.m_Knots[k].dx = plan.knots[k][0];
        model.m_Knots[k].dy = plan.knots[k][1];
    }
    model.m_nColKnives = innerC * (innerR + 1);
    model.m_nRowKnives = (innerC + 1) * innerR;
    model.m_ColKnives.resize(model.m_nColKnives);
    model.m_RowKnives.resize(model.m_nRowKnives);
    for (CWnd_MainModel::KNIFESTRUCT& k : model.m_ColKnives)
        PutKnife(k, plan.knife);
    for (CWnd_MainModel::KNIFESTRUCT& k : model.m_RowKnives)
        PutKnife(k, plan.knife);
    model.m_nAuxKnives = static_cast<uint32_t>(plan.freeKnives.size());
    model.m_AuxKnives.resize(plan.freeKnives.size());
    for (size_t i = 0; i < plan.freeKnives.size(); ++i) {
        PutKnife(model.m_AuxKnives[i].knife, plan.freeKnives[i].shape);
        model.m_AuxKnives[i].knotA = plan.freeKnives[i].knotA;
        model.m_AuxKnives[i].knotB = plan.freeKnives[i].knotB;
    }
    model.m_bRazorCut = plan.cut ? 1 : 0;
    model.m_bAntiAlias = plan.smooth ? 1 : 0;
    model.m_bCutMode = plan.piecesMode ? 0 : 1;
    const size_t recordBytes = plan.records.size() * CWnd_MainModel::kPieceRecordSize;
    if (plan.piecesMode && recordBytes > 0 && model.m_PieceRecords.alloc(recordBytes)) {
        for (size_t i = 0; i < plan.records.size(); ++i)
            std::memcpy(model.m_PieceRecords.GetPtr() + i * CWnd_MainModel::kPieceRecordSize, plan.records[i].data(),
                        CWnd_MainModel::kPieceRecordSize);
        model.m_nPieceRecords = static_cast<uint32_t>(plan.records.size());
    }
    CQNF_Mem block;
    uint32_t length = 0;
    if (!model.settings_SaveCurLayoutAndCellSettingsToMem(&block, length))
        return {};
    return std::vector<uint8_t>(block.GetPtr(), block.GetPtr() + length);
}

}  // namespace hostapp
