#include "app/LayoutPlan.h"

#include <cstring>

namespace layoutplan {

KnifeShape KnifeShape::DefaultKnob()
{
    KnifeShape k;
    static_cast<qntPlainKnife&>(k) = qnPlainDefaultKnife();
    return k;
}

KnifeShape KnifeShape::Straight()
{
    return KnifeShape{};
}

std::vector<uint8_t> BuildLayoutBlock(const LayoutPlan& plan)
{
    const uint16_t innerC = static_cast<uint16_t>(plan.columns > 0 ? plan.columns - 1u : 0u);
    const uint16_t innerR = static_cast<uint16_t>(plan.rows > 0 ? plan.rows - 1u : 0u);
    qntPlainLayout m;
    m.rowSplitters = innerR;
    m.columnSplitters = innerC;
    // The window's even grid, knot for knot.
    m.rowGuides.resize(innerR);
    CTessolo::EvenGuides(m.rowGuides.data(), innerR);
    m.columnGuides.resize(innerC);
    CTessolo::EvenGuides(m.columnGuides.data(), innerC);
    m.knots.assign(size_t{innerC + 2u} * (innerR + 2u), CTessolo::KNOT{0.0f, 0.0f});
    for (size_t k = 0; k < m.knots.size() && k < plan.knots.size(); ++k)
        m.knots[k] = CTessolo::KNOT{plan.knots[k][0], plan.knots[k][1]};
    m.columnKnives.assign(size_t{innerC} * (innerR + 1u), plan.knife);
    m.rowKnives.assign(size_t{innerC + 1u} * innerR, plan.knife);
    m.extra = plan.freeKnives;
    m.razor = plan.cut ? 1 : 0;
    m.antiAlias = plan.smooth ? 1 : 0;
    m.pieceMode = plan.piecesMode;
    for (const auto& r : plan.records)
        m.records.push_back(CTessolo::SFX_ONEPIECE::LoadLE(r.data()));
    return qnWritePlainLayout(m);
}

std::string NotABlock(const std::string& path)
{
    return "cannot read " + path +
           ": not a layout settings block, or a damaged one (tessolo-tool layout block writes one from a layout "
           "document)";
}

}  // namespace layoutplan
