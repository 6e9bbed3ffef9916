// The layout settings block reader: what the writer emits is taken whole,
// anything short, inconsistent or hostile is refused with the engine left
// exactly as it was.
#include "engine/Tessolo.h"
#include "engine_block_writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

using namespace engine_test;

namespace {

struct ReadResult {
    bool ok;
    uint8_t drawOnly;
    uint32_t count;
    CTessolo::SFX_ONEPIECE* records;
};

ReadResult Read(CTessolo& e, const std::vector<uint8_t>& bytes)
{
    CQNF_Mem m = ToMem(bytes);
    ReadResult r{};
    r.drawOnly = 0xEE;
    r.records = reinterpret_cast<CTessolo::SFX_ONEPIECE*>(&r);
    r.ok = e.InitFromLastSettingsBinary(&m, r.drawOnly, r.count, &r.records);
    return r;
}

// A fingerprint of everything the reader may write.
std::vector<uint8_t> Snapshot(const CTessolo& e)
{
    std::vector<uint8_t> s;
    auto add = [&](const void* p, size_t n) {
        const uint8_t* b = static_cast<const uint8_t*>(p);
        s.insert(s.end(), b, b + n);
    };
    add(&e.m_nInnerColumns, 2);
    add(&e.m_nInnerRows, 2);
    add(e.m_fColumnGuides, sizeof e.m_fColumnGuides);
    add(e.m_fRowGuides, sizeof e.m_fRowGuides);
    add(&e.m_nKnots, 4);
    add(e.m_pKnots, e.m_nKnots * sizeof(CTessolo::KNOT));
    add(&e.m_nVKnives, 4);
    add(e.m_pVKnives, e.m_nVKnives * sizeof(CTessolo::KNIFESTRUCT_RENDERER));
    add(&e.m_nHKnives, 4);
    add(e.m_pHKnives, e.m_nHKnives * sizeof(CTessolo::KNIFESTRUCT_RENDERER));
    add(&e.m_nFreeKnives, 4);
    add(e.m_pFreeKnives, e.m_nFreeKnives * sizeof(CTessolo::FREEKNIFE_RENDERER));
    add(&e.m_bCut, 1);
    add(&e.m_bSmooth, 1);
    return s;
}

CutMap RichMap()
{
    CutMap m = EvenMap(4, 3);
    m.knots[5] = CTessolo::KNOT{0.25f, -0.5f};
    m.columnKnives[1].flags = 1;
    m.rowKnives[2].flags = 2 | 8;
    m.rowKnives[3].knob = 70;
    m.columnKnives[0] = Knife{};  // a straight knife
    ExtraKnife x;
    x.knife = DefaultKnife();
    x.knotA = 0;
    x.knotB = uint32_t(m.knots.size() - 1);
    m.extra.push_back(x);
    m.razor = 0;
    m.antiAlias = 1;
    return m;
}

// A loaded engine whose state differs from anything RichMap gives.
void Preload(CTessolo& e)
{
    CutMap m = EvenMap(7, 2);
    m.razor = 1;
    m.antiAlias = 0;
    ASSERT_TRUE(Read(e, WriteBlock(m)).ok);
}

}  // namespace

TEST(EngineSettings, ReadsWhatTheWriterEmits)
{
    CTessolo e;
    CutMap m = RichMap();
    const ReadResult r = Read(e, WriteBlock(m));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.drawOnly, 1);  // written in cut mode: pieces mode byte 0
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.records, nullptr);
    EXPECT_EQ(e.m_nInnerColumns, 3);
    EXPECT_EQ(e.m_nInnerRows, 2);
    EXPECT_FLOAT_EQ(e.m_fColumnGuides[1], 0.5f);
    EXPECT_FLOAT_EQ(e.m_fRowGuides[0], 1.0f / 3);
    ASSERT_EQ(e.m_nKnots, 20u);
    EXPECT_FLOAT_EQ(e.m_pKnots[5].dx, 0.25f);
    EXPECT_FLOAT_EQ(e.m_pKnots[5].dy, -0.5f);
    ASSERT_EQ(e.m_nVKnives, 9u);
    ASSERT_EQ(e.m_nHKnives, 8u);
    EXPECT_EQ(e.m_pVKnives[0].nodes, 0u);
    EXPECT_EQ(e.m_pVKnives[0].width, 3u);
    EXPECT_EQ(e.m_pVKnives[2].nodes, 5u);
    EXPECT_FLOAT_EQ(e.m_pVKnives[2].U[1], 0.3515f);
    EXPECT_FLOAT_EQ(e.m_pVKnives[1].H[2], 0.297f);  // flipped across
    // Flipped along: reversed, U mirrored; the selected bit is ignored.
    EXPECT_FLOAT_EQ(e.m_pHKnives[2].U[0], 1.0f - 0.566f);
    EXPECT_FLOAT_EQ(e.m_pHKnives[2].H[1], -0.165f);
    ASSERT_EQ(e.m_nFreeKnives, 1u);
    EXPECT_EQ(e.m_pFreeKnives[0].knotB, 19u);
    EXPECT_EQ(e.m_pFreeKnives[0].knife.nodes, 5u);
    EXPECT_EQ(e.m_bCut, 0);
    EXPECT_EQ(e.m_bSmooth, 1);
}

TEST(EngineSettings, AcceptsEveryGridSizeTheWriterMakes)
{
    for (auto [c, r] : {std::pair{1, 1}, {2, 3}, {1, 7}, {9, 1}, {101, 101}}) {
        CTessolo e;
        CutMap m = EvenMap(uint16_t(c), uint16_t(r));
        m.pieceMode = true;
        m.records.assign(3, e.DefaultOnePiece());
        m.records[2].row = 7;
        const ReadResult res = Read(e, WriteBlock(m));
        ASSERT_TRUE(res.ok) << c << "x" << r;
        EXPECT_EQ(res.drawOnly, 0);
        EXPECT_EQ(e.m_nKnots, uint32_t(c + 1) * uint32_t(r + 1));
        ASSERT_EQ(res.count, 3u);
        EXPECT_EQ(res.records[2].row, 7);
        EXPECT_EQ(std::memcmp(&res.records[0].bevel, &e.m_DefBevel, sizeof e.m_DefBevel), 0);
    }
}

TEST(EngineSettings, EdgeCasesOfTheKnifeTransform)
{
    auto one = [](Knife k) {
        CutMap m = EvenMap(2, 1, k);
        CTessolo e;
        EXPECT_TRUE(Read(e, WriteBlock(m)).ok);
        return e.m_pVKnives[0];
    };
    Knife k;
    k.flags = 2;
    k.U = {0.2f, 0.5f};
    k.H = {0, 0};
    k.S = {0, 0};
    auto r = one(k);
    EXPECT_FLOAT_EQ(r.U[0], 0.5f);
    EXPECT_FLOAT_EQ(r.U[1], 0.8f);

    k = Knife{};
    k.flags = 1;
    k.U = {0.5f, 0.5f};
    k.H = {0.3f, 4.0f};
    k.S = {-7.0f, 9.0f};
    r = one(k);
    EXPECT_FLOAT_EQ(r.H[0], -0.3f);
    EXPECT_FLOAT_EQ(r.H[1], -3.0f);  // clamped before the flip
    EXPECT_FLOAT_EQ(r.S[0], -2.0f);
    EXPECT_FLOAT_EQ(r.S[1], 2.0f);

    k = Knife{};
    k.knob = 50;
    k.U = {0.4f, 0.6f};
    k.H = {0.2f, -0.2f};
    k.S = {0, 0};
    r = one(k);
    EXPECT_FLOAT_EQ(r.U[0], 0.45f);
    EXPECT_FLOAT_EQ(r.U[1], 0.55f);
    EXPECT_FLOAT_EQ(r.H[0], 0.1f);
    EXPECT_FLOAT_EQ(r.H[1], -0.1f);

    k.knob = 100;
    r = one(k);
    EXPECT_EQ(r.U[0], 0.4f);
    EXPECT_EQ(r.H[1], -0.2f);

    k.flags = 4;
    k.knob = 50;
    EXPECT_EQ(one(k).nodes, CTessolo::kKnifeOff);

    k = Knife{};
    k.U = {-0.5f, 1.7f};
    k.H = {5.0f, -5.0f};
    k.S = {0, 0};
    r = one(k);
    EXPECT_EQ(r.U[0], 0.0f);
    EXPECT_EQ(r.U[1], 1.0f);
    EXPECT_EQ(r.H[0], 3.0f);
}

TEST(EngineSettings, PiecesFlagAndModeBytes)
{
    CTessolo e;
    CutMap m = EvenMap(2, 2);
    std::vector<uint8_t> b = WriteBlock(m);
    b.insert(b.end(), 200, 0x11);  // bytes after the smooth byte without the pieces flag
    ReadResult r = Read(e, b);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.records, nullptr);
    EXPECT_EQ(r.drawOnly, 1);

    b = WriteBlock(m);
    b[1] = 2;  // any nonzero mode cuts
    EXPECT_EQ(Read(e, b).drawOnly, 0);

    // A pieces flag other than 1 means no records follow.
    b = WriteBlock(m);
    b[0] = 2;
    r = Read(e, b);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.count, 0u);
}

TEST(EngineSettings, RecordsAreLittleEndianWhateverTheMachine)
{
    CTessolo e;
    CutMap m = EvenMap(1, 1);
    m.pieceMode = true;
    m.records.assign(1, e.DefaultOnePiece());
    std::vector<uint8_t> b = WriteBlock(m);
    const size_t at = b.size() - 92;
    // Hue -2 and layer id 0x01020304 as an Intel machine stores them.
    b[at + 78] = 0xFE;
    b[at + 79] = 0xFF;
    b[at + 60] = 0x04;
    b[at + 61] = 0x03;
    b[at + 62] = 0x02;
    b[at + 63] = 0x01;
    b[at + 40] = 0x34;  // depth 0x1234
    b[at + 41] = 0x12;
    const ReadResult r = Read(e, b);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.count, 1u);
    EXPECT_EQ(r.records[0].hsl.hue, -2);
    EXPECT_EQ(r.records[0].imageOverlay.layerId, 0x01020304);
    EXPECT_EQ(r.records[0].bevel.depth, 0x1234);
    EXPECT_FLOAT_EQ(r.records[0].bevel.lightY, 0.74926859f);
}

TEST(EngineSettings, RefusesEveryTruncationAndKeepsTheEngine)
{
    CutMap m = RichMap();
    m.pieceMode = true;
    CTessolo ref;
    m.records.assign(2, ref.DefaultOnePiece());
    const std::vector<uint8_t> full = WriteBlock(m);
    CTessolo e;
    Preload(e);
    const auto before = Snapshot(e);
    for (size_t n = 0; n < full.size(); ++n) {
        const ReadResult r = Read(e, std::vector<uint8_t>(full.begin(), full.begin() + n));
        ASSERT_FALSE(r.ok) << "length " << n;
        EXPECT_EQ(r.count, 0u);
        EXPECT_EQ(r.records, nullptr);
        ASSERT_EQ(Snapshot(e), before) << "length " << n;
    }
    EXPECT_TRUE(Read(e, full).ok);
    uint8_t drawOnly = 0;
    uint32_t count = 5;
    EXPECT_FALSE(e.InitFromLastSettingsBinary(nullptr, drawOnly, count, nullptr));
    EXPECT_EQ(count, 0u);
}

TEST(EngineSettings, RefusesCountsThatDisagreeWithTheGrid)
{
    const CutMap good = RichMap();
    auto refuses = [&](auto&& change) {
        CutMap m = good;
        change(m);
        CTessolo e;
        Preload(e);
        const auto before = Snapshot(e);
        const bool ok = Read(e, WriteBlock(m)).ok;
        return !ok && Snapshot(e) == before;
    };
    EXPECT_TRUE(refuses([](CutMap& m) { m.knots.pop_back(); }));
    EXPECT_TRUE(refuses([](CutMap& m) { m.columnKnives.pop_back(); }));
    EXPECT_TRUE(refuses([](CutMap& m) { m.rowKnives.push_back(DefaultKnife()); }));
    // One row guide fewer than the header counts.
    CutMap m = good;
    std::vector<uint8_t> b = WriteBlock(m);
    const auto guide = b.begin() + std::ptrdiff_t(LastRowGuideOffset(m));
    b.erase(guide, guide + 4);
    CTessolo e;
    EXPECT_FALSE(Read(e, b).ok);
    // The second free knife count must repeat the header's.
    b = WriteBlock(m);
    b[9] = 2;
    EXPECT_FALSE(Read(e, b).ok);
}

TEST(EngineSettings, RefusesHostileNumbers)
{
    const CutMap good = RichMap();
    auto refused = [](const std::vector<uint8_t>& b) {
        CTessolo e;
        Preload(e);
        const auto before = Snapshot(e);
        return !Read(e, b).ok && Snapshot(e) == before;
    };

    // More than 64 nodes in a knife: 64 are taken, a count of 65 is not.
    CutMap m = good;
    Knife big = DefaultKnife();
    big.U.assign(64, 0.5f);
    big.H.assign(64, 0.0f);
    big.S.assign(64, 0.0f);
    m.rowKnives[0] = big;
    EXPECT_FALSE(refused(WriteBlock(m)));
    std::vector<uint8_t> many = WriteBlock(m);
    const size_t count = RowKnifeNodeCountOffset(m, 0);
    ASSERT_EQ(many[count + 1], 64);
    many[count + 1] = 65;
    EXPECT_TRUE(refused(many));

    // Knot indices outside the grid.
    m = good;
    m.extra[0].knotB = uint32_t(m.knots.size());
    EXPECT_TRUE(refused(WriteBlock(m)));
    m.extra[0].knotB = 0xFFFFFFFFu;
    EXPECT_TRUE(refused(WriteBlock(m)));

    // More than 20000 free knives, whatever follows.
    std::vector<uint8_t> b = WriteBlock(good);
    b[6] = 0;
    b[7] = 0;
    b[8] = 0x4E;
    b[9] = 0x21;  // 20001
    EXPECT_TRUE(refused(b));

    // Record counts whose byte size overflows 32 bits.
    m = good;
    m.pieceMode = true;
    m.records.assign(1, CTessolo().DefaultOnePiece());
    b = WriteBlock(m);
    const size_t countAt = b.size() - 92 - 4;
    for (uint32_t count : {0xFFFFFFFFu, 0x02C8590Cu /* x 92 wraps to 16 */, 2u}) {
        std::vector<uint8_t> h = b;
        h[countAt] = uint8_t(count >> 24);
        h[countAt + 1] = uint8_t(count >> 16);
        h[countAt + 2] = uint8_t(count >> 8);
        h[countAt + 3] = uint8_t(count);
        EXPECT_TRUE(refused(h)) << count;
    }

    // Knot and knife counts near 2^32 against a short block.
    b = WriteBlock(EvenMap(1, 1));
    for (size_t at : {size_t(10), size_t(10 + 4 + 32)}) {
        std::vector<uint8_t> h = b;
        h[at] = h[at + 1] = h[at + 2] = h[at + 3] = 0xFF;
        EXPECT_TRUE(refused(h)) << at;
    }

    // Non-finite floats anywhere.
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    for (float f : bad) {
        m = good;
        m.rowGuides[1] = f;
        EXPECT_TRUE(refused(WriteBlock(m)));
        m = good;
        m.knots[3].dy = f;
        EXPECT_TRUE(refused(WriteBlock(m)));
        m = good;
        m.columnKnives[2].H[4] = f;
        EXPECT_TRUE(refused(WriteBlock(m)));
        m = good;
        m.extra[0].knife.S[0] = f;
        EXPECT_TRUE(refused(WriteBlock(m)));
        m = good;
        m.pieceMode = true;
        m.records.assign(2, CTessolo().DefaultOnePiece());
        m.records[1].bevel.lightZ = f;
        EXPECT_TRUE(refused(WriteBlock(m)));
    }
}

TEST(EngineSettings, LargeHeaderCountsDoNotWrap)
{
    // 65535 splitters mean 100, as Init takes them: the block must then hold
    // a 100 x 100 grid, not a 0 x 0 one.
    CutMap m = EvenMap(1, 1);
    std::vector<uint8_t> b = WriteBlock(m);
    b[2] = b[3] = b[4] = b[5] = 0xFF;
    CTessolo e;
    EXPECT_FALSE(Read(e, b).ok);

    CutMap big = EvenMap(101, 101);
    b = WriteBlock(big);
    b[2] = b[3] = b[4] = b[5] = 0xFF;
    const ReadResult r = Read(e, b);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(e.m_nInnerColumns, 100);
    EXPECT_EQ(e.m_nKnotColumns, 102);
}

TEST(EngineSettings, SpecimenSizes)
{
    CTessolo e;
    // A 1 x 1 block that stops after its header: the 4 knots are missing.
    std::vector<uint8_t> b = WriteBlock(EvenMap(1, 1));
    EXPECT_EQ(b.size(), 10u + 4 + 32 + 4 + 4 + 4 + 2);
    EXPECT_FALSE(Read(e, std::vector<uint8_t>(b.begin(), b.begin() + 10)).ok);
    EXPECT_TRUE(Read(e, b).ok);
}

TEST(EngineSettings, RandomDamageNeverCrashesAndKeepsStateOnRefusal)
{
    CutMap m = RichMap();
    m.pieceMode = true;
    m.records.assign(3, CTessolo().DefaultOnePiece());
    const std::vector<uint8_t> full = WriteBlock(m);
    std::mt19937 rng(7);
    CTessolo e;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> b = full;
        const int flips = 1 + int(rng() % 4);
        for (int i = 0; i < flips; ++i)
            b[rng() % b.size()] ^= uint8_t(1u << (rng() % 8));
        if (rng() % 3 == 0)
            b.resize(rng() % b.size());
        Preload(e);
        const auto before = Snapshot(e);
        if (!Read(e, b).ok) {
            ASSERT_EQ(Snapshot(e), before) << round;
        }
    }
}
