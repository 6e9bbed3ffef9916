// The settings block: golden bytes, round trips on random layouts, the
// version-2 reader, the defaults, and hostile blocks.
#include "app_fixture.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

using app_test::Model;
using app_test::RandomLayout;

namespace {

void ExpectSameLayout(const CWnd_Main& a, const CWnd_Main& b)
{
    ASSERT_EQ(a.m_nColSplitters, b.m_nColSplitters);
    ASSERT_EQ(a.m_nRowSplitters, b.m_nRowSplitters);
    ASSERT_EQ(a.m_nAuxKnives, b.m_nAuxKnives);
    for (uint32_t i = 0; i < a.m_nKnots; ++i) {
        EXPECT_EQ(a.m_Knots[i].dx, b.m_Knots[i].dx);
        EXPECT_EQ(a.m_Knots[i].dy, b.m_Knots[i].dy);
    }
    auto same = [](const CWnd_Main::KNIFESTRUCT& x, const CWnd_Main::KNIFESTRUCT& y) {
        EXPECT_EQ(x.flipH, y.flipH);
        EXPECT_EQ(x.flipU, y.flipU);
        EXPECT_EQ(x.off, y.off);
        EXPECT_EQ(x.selected, y.selected);
        EXPECT_EQ(x.knobSize, y.knobSize);
        EXPECT_EQ(x.thickness, y.thickness);
        ASSERT_EQ(x.nodeCount, y.nodeCount);
        for (uint32_t i = 0; i < x.nodeCount; ++i) {
            EXPECT_EQ(x.U[i], y.U[i]);
            EXPECT_EQ(x.H[i], y.H[i]);
            EXPECT_EQ(x.S[i], y.S[i]);
        }
        EXPECT_NEAR(x.centerU, y.centerU, 1e-6);
    };
    for (uint32_t i = 0; i < a.m_nColKnives; ++i)
        same(a.m_ColKnives[i], b.m_ColKnives[i]);
    for (uint32_t i = 0; i < a.m_nRowKnives; ++i)
        same(a.m_RowKnives[i], b.m_RowKnives[i]);
    for (uint32_t i = 0; i < a.m_nAuxKnives; ++i) {
        same(a.m_AuxKnives[i].knife, b.m_AuxKnives[i].knife);
        EXPECT_EQ(a.m_AuxKnives[i].knotA, b.m_AuxKnives[i].knotA);
        EXPECT_EQ(a.m_AuxKnives[i].knotB, b.m_AuxKnives[i].knotB);
    }
    EXPECT_EQ(a.m_bRazorCut, b.m_bRazorCut);
    EXPECT_EQ(a.m_bAntiAlias, b.m_bAntiAlias);
}

void PutF(std::vector<uint8_t>& b, size_t at, float v)
{
    const uint32_t bits = std::bit_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(bits >> (24 - 8 * i));
}

// A model whose layout is the default one of its image, for comparisons.
bool IsDefaultLayout(const CWnd_Main& m)
{
    if (m.m_nAuxKnives != 0)
        return false;
    for (uint32_t i = 0; i < m.m_nColKnives; ++i)
        if (m.m_ColKnives[i].nodeCount != 5 || m.m_ColKnives[i].U[1] != 0.3515f || m.m_ColKnives[i].selected)
            return false;
    return true;
}

}  // namespace

TEST(AppSettings, GoldenBytesOfTheSmallestLayout)
{
    Model m;
    m.m_KnotRandomness = 0.0f;
    ASSERT_TRUE(m.spl_SplitEvenParts(1, 1, kForce, kResetExtras));
    m.m_Knots[0].dx = 1.0f;
    m.m_bRazorCut = 1;
    m.m_bAntiAlias = 0;
    const std::vector<uint8_t> b = m.Block();
    std::vector<uint8_t> want = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0x3F, 0x80, 0, 0};
    want.resize(14 + 32, 0);
    for (int i = 0; i < 3; ++i)
        want.insert(want.end(), {0, 0, 0, 0});
    want.insert(want.end(), {1, 0});
    EXPECT_EQ(b, want);

    // One knife record: flags, node count, knob, thickness, then U, H, S.
    ASSERT_TRUE(m.spl_SplitEvenParts(2, 1, kForce, kResetExtras));
    CWnd_Main::KNIFESTRUCT& k = m.m_ColKnives[0];
    k.flipH = k.off = 1;
    k.nodeCount = 1;
    k.U[0] = 0.5f;
    k.H[0] = -2.0f;
    k.S[0] = 0.25f;
    k.knobSize = 300;  // one byte of it is stored
    const std::vector<uint8_t> one = m.Block();
    const size_t at = 10 + 4 + 4 + 8 * 6 + 4;
    ASSERT_GT(one.size(), at + 17);
    const std::vector<uint8_t> rec(one.begin() + at, one.begin() + at + 17);
    EXPECT_EQ(rec, (std::vector<uint8_t>{0x05, 0, 1, 44, 3, 0x3F, 0, 0, 0, 0xC0, 0, 0, 0, 0x3E, 0x80, 0, 0}));
}

TEST(AppSettings, RandomLayoutsRoundTrip)
{
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        Model a;
        RandomLayout(a, seed);
        const std::vector<uint8_t> block = a.Block();
        ASSERT_FALSE(block.empty());
        EXPECT_TRUE(CWnd_Main::settings_CheckBlock(block.data(), uint32_t(block.size()), 3));
        Model b(10, 10);
        ASSERT_TRUE(b.Load(block)) << "seed " << seed;
        ExpectSameLayout(a, b);
        EXPECT_EQ(b.Block(), block) << "seed " << seed;
        EXPECT_EQ(b.m_bKnifeSelection, a.m_bKnifeSelection);
    }
}

TEST(AppSettings, PieceRecordsEndABlockWrittenInPieceMode)
{
    Model a;
    ASSERT_TRUE(a.spl_SplitEvenParts(2, 2, kForce, kResetExtras));
    std::vector<uint8_t> cut = a.Block();
    EXPECT_EQ(cut[0], 0);
    EXPECT_EQ(cut[1], 0);

    a.m_bCutMode = 0;
    ASSERT_TRUE(a.m_PieceRecords.alloc(3 * 92));
    for (uint32_t i = 0; i < 3 * 92; ++i)
        a.m_PieceRecords.GetPtr()[i] = uint8_t(i * 7);
    // Finite light direction (bytes 8..19 of each record, little-endian floats).
    for (int r = 0; r < 3; ++r)
        for (int f = 0; f < 3; ++f)
            std::memset(a.m_PieceRecords.GetPtr() + r * 92 + 8 + 4 * f, 0, 4);
    a.m_nPieceRecords = 3;
    const std::vector<uint8_t> pieces = a.Block();
    EXPECT_EQ(pieces[0], 1);
    EXPECT_EQ(pieces[1], 1);
    ASSERT_EQ(pieces.size(), cut.size() + 4 + 3 * 92);
    EXPECT_EQ(0, std::memcmp(pieces.data() + pieces.size() - 3 * 92, a.m_PieceRecords.GetPtr(), 3 * 92));

    Model b;
    const uint8_t* records = nullptr;
    uint32_t count = 0;
    ASSERT_TRUE(b.settings_LoadCurLayoutAndCellSettingsFromMem(pieces.data(), uint32_t(pieces.size()), &records,
                                                               count, 0));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(records, pieces.data() + pieces.size() - 3 * 92);

    // A record list cut short: the layout loads, no records.
    std::vector<uint8_t> shortList(pieces.begin(), pieces.end() - 1);
    ASSERT_TRUE(b.settings_LoadCurLayoutAndCellSettingsFromMem(shortList.data(), uint32_t(shortList.size()),
                                                               &records, count, 0));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(records, nullptr);
    EXPECT_EQ(b.m_nColSplitters, 1);
    // A record whose light direction is not a number is not taken.
    std::vector<uint8_t> nan = pieces;
    const float q = std::numeric_limits<float>::quiet_NaN();
    std::memcpy(nan.data() + nan.size() - 92 + 12, &q, 4);
    ASSERT_TRUE(b.settings_LoadCurLayoutAndCellSettingsFromMem(nan.data(), uint32_t(nan.size()), &records, count, 0));
    EXPECT_EQ(count, 0u);
}

TEST(AppSettings, ValuesAreClampedOnReading)
{
    Model a;
    ASSERT_TRUE(a.spl_SplitEvenParts(2, 1, kForce, kResetExtras));
    CWnd_Main::KNIFESTRUCT& k = a.m_ColKnives[0];
    k.nodeCount = 2;
    std::vector<uint8_t> b = a.Block();
    const size_t rec = 10 + 4 + 4 + 8 * 6 + 4;  // the column knife record
    PutF(b, rec + 5, -0.5f);
    PutF(b, rec + 9, 1.7f);
    PutF(b, rec + 13, 5.0f);
    PutF(b, rec + 21, -7.0f);
    Model r;
    ASSERT_TRUE(r.Load(b));
    const CWnd_Main::KNIFESTRUCT& g = r.m_ColKnives[0];
    EXPECT_EQ(g.U[0], 0.0f);
    EXPECT_EQ(g.U[1], 1.0f);
    EXPECT_EQ(g.H[0], 3.0f);
    EXPECT_EQ(g.S[0], -2.0f);
    EXPECT_FLOAT_EQ(g.centerU, 0.5f);
    EXPECT_FALSE(IsDefaultLayout(r));

    ASSERT_TRUE(a.spl_SplitEvenParts(2, 1, kForce, kResetExtras));
    ASSERT_TRUE(r.Load(a.Block()));
    EXPECT_EQ(r.m_ColKnives[0].centerU, 0.0f);  // no nodes
}

TEST(AppSettings, DamagedBlocksGiveTheDefaultLayout)
{
    Model a;
    RandomLayout(a, 5);
    const std::vector<uint8_t> good = a.Block();
    auto expectDefault = [&](std::vector<uint8_t> b, const char* what) {
        Model r(300, 200);
        RandomLayout(r, 9);
        r.m_KnotRandomness = 0.0f;
        ASSERT_TRUE(r.Load(b)) << what;
        EXPECT_TRUE(IsDefaultLayout(r)) << what;
        EXPECT_EQ(r.m_nRowSplitters, 1) << what;
        for (uint32_t i = 0; i < r.m_nKnots; ++i)
            EXPECT_EQ(r.m_Knots[i].dx, 0.0f) << what;
        EXPECT_FLOAT_EQ(r.m_ColSplitters[0], 1.0f / 3.0f) << what;
    };
    expectDefault(std::vector<uint8_t>(good.begin(), good.begin() + 9), "9 bytes");
    std::vector<uint8_t> b = good;
    b[10 + 4 * (a.m_nRowSplitters + a.m_nColSplitters) + 3] ^= 1;  // knot count
    expectDefault(b, "knot count");
    b = good;
    b[9] ^= 1;  // extra knife count in the header
    expectDefault(b, "extra count");
    b = good;
    b[4] = 0x01;  // 256 + C splitters: taken as 100, counts no longer match
    expectDefault(b, "splitter count above 100");
    b = good;
    PutF(b, 10, std::numeric_limits<float>::quiet_NaN());
    expectDefault(b, "NaN splitter");
    b = good;
    b[6] = b[7] = b[8] = b[9] = 0xFF;  // 4 294 967 295 extra knives
    expectDefault(b, "huge extra count");
}

TEST(AppSettings, HostileKnifeRecordsAreRefused)
{
    Model a;
    a.m_KnotRandomness = 0.0f;
    ASSERT_TRUE(a.spl_SplitEvenParts(1, 1, kForce, kResetExtras));
    ASSERT_TRUE(a.spl_SplitEvenParts(2, 1, kForce, kResetExtras));  // one column knife, 6 knots
    std::vector<uint8_t> b = a.Block();
    const size_t rec = 10 + 4 + 4 + 8 * 6 + 4;
    b[rec + 1] = 0;
    b[rec + 2] = 65;  // 65 nodes
    b.resize(b.size() + 12 * 65, 0);
    EXPECT_FALSE(CWnd_Main::settings_CheckBlock(b.data(), uint32_t(b.size()), 3));

    // An extra knife whose knot lies outside the grid.
    ASSERT_TRUE(a.i_op_AddAuxKnifeToKnots(0, 5));
    b = a.Block();
    EXPECT_TRUE(CWnd_Main::settings_CheckBlock(b.data(), uint32_t(b.size()), 3));
    const size_t knotB = b.size() - 2 - 4;
    b[knotB + 3] = 6;
    EXPECT_FALSE(CWnd_Main::settings_CheckBlock(b.data(), uint32_t(b.size()), 3));
}

TEST(AppSettings, EveryTruncationIsHandled)
{
    Model a;
    RandomLayout(a, 11);
    a.m_bCutMode = 0;
    ASSERT_TRUE(a.m_PieceRecords.Zalloc(2 * 92));
    a.m_nPieceRecords = 2;
    const std::vector<uint8_t> full = a.Block();
    const size_t layoutEnd = full.size() - 4 - 2 * 92;
    Model r(300, 200);
    for (size_t n = 0; n < full.size(); ++n) {
        std::vector<uint8_t> prefix(full.begin(), full.begin() + n);
        const uint8_t* records = nullptr;
        uint32_t count = 0;
        ASSERT_TRUE(r.settings_LoadCurLayoutAndCellSettingsFromMem(prefix.data(), uint32_t(n), &records, count, 0));
        EXPECT_EQ(count, 0u);
        if (n >= layoutEnd)
            EXPECT_EQ(r.m_nAuxKnives, a.m_nAuxKnives) << n;
        else
            EXPECT_TRUE(IsDefaultLayout(r)) << n;
        EXPECT_EQ(CWnd_Main::settings_CheckBlock(prefix.data(), uint32_t(n), 3), n >= layoutEnd) << n;
    }
}

TEST(AppSettings, VersionTwoBlocks)
{
    // C = 1, R = 0: one column knife of one node, thickness 0, knob 60.
    std::vector<uint8_t> b = {0, 0, 0, 0, 0, 1};
    b.resize(b.size() + 4);
    PutF(b, 6, 0.4f);
    b.insert(b.end(), {0, 0, 0, 6});
    b.resize(b.size() + 48, 0);
    b.insert(b.end(), {0, 0, 0, 1, 0x03, 0, 1});
    const size_t u = b.size();
    b.resize(b.size() + 12);
    PutF(b, u, 0.3f);
    PutF(b, u + 4, 0.2f);
    PutF(b, u + 8, 0.5f);
    b.insert(b.end(), {0, 0, 0, 0, 0, 0, 0, 60, 1});
    Model m;
    m.m_bRazorCut = 0;
    uint32_t count = 7;
    ASSERT_TRUE(m.settings_LoadCurLayoutAndCellSettingsFromMem_old_v2(b.data(), uint32_t(b.size()), nullptr, count, 0));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(m.m_nColSplitters, 1);
    EXPECT_FLOAT_EQ(m.m_ColSplitters[0], 0.4f);
    ASSERT_EQ(m.m_nColKnives, 1u);
    EXPECT_EQ(m.m_ColKnives[0].flipH, 1);
    EXPECT_EQ(m.m_ColKnives[0].flipU, 1);
    EXPECT_FLOAT_EQ(m.m_ColKnives[0].U[0], 0.3f);
    EXPECT_EQ(m.m_ColKnives[0].thickness, 0u);
    EXPECT_EQ(m.m_ColKnives[0].knobSize, 60u);
    EXPECT_TRUE(m.m_bRazorCut);
    EXPECT_TRUE(m.m_bAntiAlias);
    EXPECT_TRUE(CWnd_Main::settings_CheckBlock(b.data(), uint32_t(b.size()), 2));
    // Short of its last byte: the default layout.
    b.pop_back();
    ASSERT_TRUE(m.settings_LoadCurLayoutAndCellSettingsFromMem_old_v2(b.data(), uint32_t(b.size()), nullptr, count, 0));
    EXPECT_TRUE(IsDefaultLayout(m));
}

TEST(AppSettings, DefaultsFollowTheImageShape)
{
    Model wide(300, 200);
    ASSERT_TRUE(wide.settings_LoadDefaults());
    EXPECT_EQ(wide.m_nRowSplitters, 1);
    EXPECT_EQ(wide.m_nColSplitters, 2);
    Model tall(200, 300);
    ASSERT_TRUE(tall.settings_LoadDefaults());
    EXPECT_EQ(tall.m_nColSplitters, 1);
    EXPECT_EQ(tall.m_nRowSplitters, 2);
    EXPECT_EQ(tall.m_ColKnives[0].nodeCount, 5u);
    EXPECT_FLOAT_EQ(tall.m_ColKnives[0].H[2], -0.297f);
}
