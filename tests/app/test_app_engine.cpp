// The layout reaches the engine the same way from the window (the hand-over)
// and from a saved block (the engine's own reader), and the hand-over's
// flips and knob scaling.
#include "app_fixture.h"

#include "engine/Tessolo.h"

#include <gtest/gtest.h>

#include <cstring>

using app_test::Model;
using app_test::RandomLayout;

namespace {

void ExpectSameKnife(const CTessolo::KNIFESTRUCT_RENDERER& a, const CTessolo::KNIFESTRUCT_RENDERER& b)
{
    ASSERT_EQ(a.nodes, b.nodes);
    if (a.nodes == CTessolo::kKnifeOff)
        return;
    EXPECT_EQ(a.width, b.width);
    for (uint32_t i = 0; i < a.nodes; ++i) {
        EXPECT_EQ(a.U[i], b.U[i]) << i;
        EXPECT_EQ(a.H[i], b.H[i]) << i;
        EXPECT_EQ(a.S[i], b.S[i]) << i;
    }
}

void ExpectSameEngineLayout(const CTessolo& a, const CTessolo& b)
{
    ASSERT_EQ(a.m_nInnerColumns, b.m_nInnerColumns);
    ASSERT_EQ(a.m_nInnerRows, b.m_nInnerRows);
    for (uint32_t i = 0; i < a.m_nInnerColumns; ++i)
        EXPECT_EQ(a.m_fColumnGuides[i], b.m_fColumnGuides[i]);
    for (uint32_t i = 0; i < a.m_nInnerRows; ++i)
        EXPECT_EQ(a.m_fRowGuides[i], b.m_fRowGuides[i]);
    ASSERT_EQ(a.m_nKnots, b.m_nKnots);
    for (uint32_t i = 0; i < a.m_nKnots; ++i) {
        EXPECT_EQ(a.m_pKnots[i].dx, b.m_pKnots[i].dx);
        EXPECT_EQ(a.m_pKnots[i].dy, b.m_pKnots[i].dy);
    }
    ASSERT_EQ(a.m_nVKnives, b.m_nVKnives);
    ASSERT_EQ(a.m_nHKnives, b.m_nHKnives);
    ASSERT_EQ(a.m_nFreeKnives, b.m_nFreeKnives);
    for (uint32_t i = 0; i < a.m_nVKnives; ++i)
        ExpectSameKnife(a.m_pVKnives[i], b.m_pVKnives[i]);
    for (uint32_t i = 0; i < a.m_nHKnives; ++i)
        ExpectSameKnife(a.m_pHKnives[i], b.m_pHKnives[i]);
    for (uint32_t i = 0; i < a.m_nFreeKnives; ++i) {
        ExpectSameKnife(a.m_pFreeKnives[i].knife, b.m_pFreeKnives[i].knife);
        EXPECT_EQ(a.m_pFreeKnives[i].knotA, b.m_pFreeKnives[i].knotA);
        EXPECT_EQ(a.m_pFreeKnives[i].knotB, b.m_pFreeKnives[i].knotB);
    }
    EXPECT_EQ(a.m_bCut, b.m_bCut);
    EXPECT_EQ(a.m_bSmooth, b.m_bSmooth);
}

}  // namespace

TEST(AppEngine, HandOverAndBothReadersAgreeOnRandomLayouts)
{
    for (uint64_t seed = 1; seed <= 30; ++seed) {
        Model m;
        RandomLayout(m, seed);
        for (uint32_t i = 0; i < m.m_nColKnives; i += 3)
            m.m_ColKnives[i].knobSize = 30 + (i % 70);
        const std::vector<uint8_t> block = m.Block();
        CTessolo direct;
        ASSERT_TRUE(m.engine_PutLayoutToPuzzleEngine(&direct)) << seed;

        CTessolo replay;
        CQNF_Mem mem(block.size());
        std::memcpy(mem.GetPtr(), block.data(), block.size());
        uint8_t drawOnly = 9;
        uint32_t records = 9;
        CTessolo::SFX_ONEPIECE* list = nullptr;
        ASSERT_TRUE(replay.InitFromLastSettingsBinary(&mem, drawOnly, records, &list)) << seed;
        EXPECT_EQ(drawOnly, 1);
        EXPECT_EQ(records, 0u);
        ExpectSameEngineLayout(direct, replay);

        // And the layout read back by this reader hands over the same again.
        Model back;
        ASSERT_TRUE(back.Load(block));
        CTessolo again;
        ASSERT_TRUE(back.engine_PutLayoutToPuzzleEngine(&again));
        ExpectSameEngineLayout(direct, again);
    }
}

TEST(AppEngine, PieceRecordsTravelLittleEndian)
{
    Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(2, 2, kForce, kResetExtras));
    CTessolo engine;
    CTessolo::SFX_ONEPIECE rec = engine.DefaultOnePiece();
    rec.imageOverlay.layerId = 0x01020304;
    rec.row = 2;
    ASSERT_TRUE(m.m_PieceRecords.alloc(92));
    rec.StoreLE(m.m_PieceRecords.GetPtr());
    m.m_nPieceRecords = 1;
    m.m_bCutMode = 0;
    const std::vector<uint8_t> block = m.Block();
    const uint8_t* id = block.data() + block.size() - 92 + 60;
    EXPECT_EQ(id[0], 0x04);
    EXPECT_EQ(id[3], 0x01);

    CQNF_Mem mem(block.size());
    std::memcpy(mem.GetPtr(), block.data(), block.size());
    uint8_t drawOnly = 9;
    uint32_t count = 0;
    CTessolo::SFX_ONEPIECE* list = nullptr;
    ASSERT_TRUE(engine.InitFromLastSettingsBinary(&mem, drawOnly, count, &list));
    EXPECT_EQ(drawOnly, 0);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(list[0].imageOverlay.layerId, 0x01020304);
    EXPECT_EQ(list[0].row, 2);
}

TEST(AppEngine, FlipsAndKnobSize)
{
    Model m;
    m.m_KnotRandomness = 0.0f;
    ASSERT_TRUE(m.spl_SplitEvenParts(2, 1, kForce, kResetExtras));
    CWnd_Main::KNIFESTRUCT& k = m.m_ColKnives[0];
    k.nodeCount = 3;
    const float u[3] = {0.2f, 0.5f, 0.9f}, h[3] = {0.1f, 0.2f, -0.3f};
    for (int i = 0; i < 3; ++i) {
        k.U[i] = u[i];
        k.H[i] = h[i];
        k.S[i] = 0.5f;
    }
    k.flipU = 1;
    CTessolo e;
    ASSERT_TRUE(m.engine_PutLayoutToPuzzleEngine(&e));
    EXPECT_FLOAT_EQ(e.m_pVKnives[0].U[0], 0.1f);
    EXPECT_FLOAT_EQ(e.m_pVKnives[0].U[1], 0.5f);
    EXPECT_FLOAT_EQ(e.m_pVKnives[0].U[2], 0.8f);
    EXPECT_FLOAT_EQ(e.m_pVKnives[0].H[0], -0.3f);

    k.flipU = 0;
    k.flipH = 1;
    k.nodeCount = 2;
    k.U[0] = 0.4f;
    k.U[1] = 0.6f;
    k.H[0] = 0.2f;
    k.H[1] = -0.2f;
    k.knobSize = 50;
    ASSERT_TRUE(m.engine_PutLayoutToPuzzleEngine(&e));
    EXPECT_FLOAT_EQ(e.m_pVKnives[0].U[0], 0.45f);
    EXPECT_FLOAT_EQ(e.m_pVKnives[0].U[1], 0.55f);
    EXPECT_FLOAT_EQ(e.m_pVKnives[0].H[0], -0.1f);
    EXPECT_FLOAT_EQ(e.m_pVKnives[0].H[1], 0.1f);

    k.off = 1;
    m.m_bRazorCut = 0;
    ASSERT_TRUE(m.engine_PutLayoutToPuzzleEngine(&e));
    EXPECT_EQ(e.m_pVKnives[0].nodes, CTessolo::kKnifeOff);
    EXPECT_EQ(e.m_bCut, 0);
}
