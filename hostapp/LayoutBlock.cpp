#include "hostapp/LayoutBlock.h"
#include "engine/DefaultKnife.h"

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

class Writer {
public:
    void U8(uint8_t v) { m_out.push_back(v); }
    void U16(uint16_t v)
    {
        U8(static_cast<uint8_t>(v >> 8));
        U8(static_cast<uint8_t>(v));
    }
    void U32(uint32_t v)
    {
        U16(static_cast<uint16_t>(v >> 16));
        U16(static_cast<uint16_t>(v));
    }
    void F32(float f)
    {
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        U32(bits);
    }
    void Knife(const KnifeShape& k)
    {
        const uint16_t n = static_cast<uint16_t>(k.U.size());
        U8(k.flags);
        U16(n);
        U8(k.knob);
        U8(k.width);
        for (const std::vector<float>* values : {&k.U, &k.H, &k.S})
            for (uint16_t i = 0; i < n; ++i)
                F32(i < values->size() ? (*values)[i] : 0.0f);
    }
    void Bytes(const uint8_t* p, size_t n) { m_out.insert(m_out.end(), p, p + n); }
    std::vector<uint8_t>& Out() { return m_out; }

private:
    std::vector<uint8_t> m_out;
};

}  // namespace

std::vector<uint8_t> BuildLayoutBlock(const LayoutPlan& plan)
{
    const uint32_t innerC = plan.columns > 0 ? plan.columns - 1u : 0u;
    const uint32_t innerR = plan.rows > 0 ? plan.rows - 1u : 0u;
    Writer w;
    w.U8(plan.pieceRecords ? 1 : 0);
    w.U8(plan.piecesMode ? 1 : 0);
    w.U16(static_cast<uint16_t>(innerR));
    w.U16(static_cast<uint16_t>(innerC));
    w.U32(static_cast<uint32_t>(plan.freeKnives.size()));
    for (uint32_t j = 0; j < innerR; ++j)
        w.F32(static_cast<float>(j + 1) / static_cast<float>(innerR + 1));
    for (uint32_t i = 0; i < innerC; ++i)
        w.F32(static_cast<float>(i + 1) / static_cast<float>(innerC + 1));
    const uint32_t knots = (innerC + 2) * (innerR + 2);
    w.U32(knots);
    for (uint32_t k = 0; k < knots; ++k) {
        w.F32(k < plan.knots.size() ? plan.knots[k][0] : 0.0f);
        w.F32(k < plan.knots.size() ? plan.knots[k][1] : 0.0f);
    }
    w.U32(innerC * (innerR + 1));
    for (uint32_t k = 0; k < innerC * (innerR + 1); ++k)
        w.Knife(plan.knife);
    w.U32((innerC + 1) * innerR);
    for (uint32_t k = 0; k < (innerC + 1) * innerR; ++k)
        w.Knife(plan.knife);
    w.U32(static_cast<uint32_t>(plan.freeKnives.size()));
    for (const FreeKnife& f : plan.freeKnives) {
        w.Knife(f.shape);
        w.U32(f.knotA);
        w.U32(f.knotB);
    }
    w.U8(plan.cut ? 1 : 0);
    w.U8(plan.smooth ? 1 : 0);
    if (plan.pieceRecords) {
        w.U32(static_cast<uint32_t>(plan.records.size()));
        for (const auto& r : plan.records)
            w.Bytes(r.data(), r.size());
    }
    return std::move(w.Out());
}

}  // namespace hostapp
