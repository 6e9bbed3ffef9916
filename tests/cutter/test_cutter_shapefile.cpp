// Knife shape files, the legacy form, the last shape and the row-column link.
#include "cutter_test_util.h"

#include "core/StdFile.h"

#include <cmath>
#include <limits>

using namespace cutter_test;

namespace {

using M = CWnd_CutterModel;

Bytes ShapeBytes(const SPLINE& s)
{
    TempDir dir;
    EXPECT_EQ(M::SaveShapeFile(dir / "s.qnth", s), ShapeIoError::None);
    return ReadFile(dir / "s.qnth");
}

ShapeIoError LoadBytes(const Bytes& b, SPLINE& s) { return M::stLoadShapeFromMem(b.data(), b.size(), &s); }

Bytes Legacy(const int32_t a[6], const char* magic = M::kLegacyMagic)
{
    Bytes b(magic, magic + M::kLegacyMagicLength);
    for (int i = 0; i < 6; ++i)
        for (int k = 0; k < 4; ++k)
            b.push_back(uint8_t(uint32_t(a[i]) >> (8 * k)));
    return b;
}

}  // namespace

TEST(CutterShapeFile, RoundTripsThroughPathAndOpenFile)
{
    SPLINE wide = MakeShape(3);
    wide.pos[1].H = 5.25;  // beyond -3..3: kept as stored
    for (const SPLINE& shape : {MakeShape(0), MakeShape(1), MakeShape(64), wide}) {
        TempDir dir;
        SPLINE read = Sentinel();
        ASSERT_EQ(M::SaveShapeFile(dir / "a.qnth", shape), ShapeIoError::None);
        ASSERT_EQ(M::LoadShapeFile(dir / "a.qnth", &read), ShapeIoError::None);
        EXPECT_TRUE(SameShape(read, shape));
        EXPECT_EQ(read.selected[1], Sentinel().selected[1]) << "selected flags are the caller's";

        // The save dialog's writer gets an open file.
        CQNF_StdFile out;
        ASSERT_TRUE(out.Open(CQNF_String((dir / "b.qnth").c_str()), 2));
        ASSERT_EQ(M::stSaveShapeToFile(&out, &shape), ShapeIoError::None);
        out.Close();
        EXPECT_EQ(ReadFile(dir / "b.qnth"), ReadFile(dir / "a.qnth"));
    }
}

TEST(CutterShapeFile, LayoutModelsFormBothWays)
{
    SPLINE s = MakeShape(64);
    s.selected[3] = 1;
    const CCutterLink::SHAPE link = M::ToLinkShape(s);
    EXPECT_EQ(link.nodeCount, 64u);
    EXPECT_EQ(link.H[5], s.pos[5].H);
    EXPECT_EQ(link.U[5], s.pos[5].U);
    const SPLINE back = M::FromLinkShape(link);
    EXPECT_TRUE(SameShape(back, s));
    EXPECT_EQ(back.selected[3], 1);
    CCutterLink::SHAPE big = link;
    big.nodeCount = 300;
    EXPECT_EQ(M::FromLinkShape(big).nodeCount, 64);
}

TEST(CutterShapeFile, WritesVersionNodesThenUHSPerNode)
{
    const Bytes b = ShapeBytes(MakeShape(2));
    CQNF_Storage st;
    ASSERT_TRUE(st.CheckMD5(b.data(), b.size()));
    ASSERT_TRUE(st.Open(b.data(), b.size()));
    CQNF_StringArray keys;
    ASSERT_TRUE(st.GetAllRecords("", keys));
    std::vector<std::string> names;
    for (uint32_t i = 0; i < keys.GetSize(); ++i)
        names.push_back(keys[i].GetStr());
    EXPECT_EQ(names, (std::vector<std::string>{"Version", "Nodes", "Node_U_0", "Node_H_0", "Node_S_0", "Node_U_1",
                                               "Node_H_1", "Node_S_1"}));
    CQNF_String version;
    EXPECT_TRUE(st.GetRec("Version", version));
    EXPECT_STREQ(version.GetStr(), "Quorvin Tessolo Shape 2.0");

    const Bytes empty = ShapeBytes(MakeShape(0));
    CQNF_Storage e;
    ASSERT_TRUE(e.Open(empty.data(), empty.size()));
    EXPECT_EQ(e.GetTotalRecords(), 2u) << "a shape without nodes is only Version and Nodes";
}

TEST(CutterShapeFile, RefusesBadContainersAndLeavesTheShape)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    auto shape = [](const char* version, uint8_t nodes, uint32_t written, double value, int badType) {
        return Container([=](CQNF_Storage& st) {
            if (version)
                st.SetRecord("Version", CQNF_String(version));
            if (badType == 1)
                st.SetRecord("Nodes", uint16_t(nodes));
            else if (badType != 2)
                st.SetRecord("Nodes", nodes);
            for (uint32_t i = 0; i < written; ++i) {
                const std::string n = std::to_string(i);
                st.SetRecord(("Node_U_" + n).c_str(), i == 0 ? value : 0.5);
                st.SetRecord(("Node_H_" + n).c_str(), 0.1);
                if (badType == 3)
                    st.SetRecord(("Node_S_" + n).c_str(), CQNF_String("0.5"));
                else
                    st.SetRecord(("Node_S_" + n).c_str(), 0.5);
            }
        });
    };
    const char* v = M::kShapeVersion;
    const struct {
        const char* what;
        Bytes bytes;
    } cases[] = {
        {"65 nodes", shape(v, 65, 65, 0.5, 0)},
        {"255 nodes", shape(v, 255, 3, 0.5, 0)},
        {"version in other case", shape("quorvin tessolo shape 2.0", 1, 1, 0.5, 0)},
        {"set version", shape(CWnd_PresetsManagerModel::kSetVersion, 1, 1, 0.5, 0)},
        {"no version", shape(nullptr, 1, 1, 0.5, 0)},
        {"nodes of another type", shape(v, 1, 1, 0.5, 1)},
        {"no nodes record", shape(v, 1, 1, 0.5, 2)},
        {"node record missing", shape(v, 4, 3, 0.5, 0)},
        {"node record of another type", shape(v, 2, 2, 0.5, 3)},
        {"NaN", shape(v, 2, 2, nan, 0)},
        {"infinity", shape(v, 2, 2, -inf, 0)},
    };
    for (const auto& c : cases) {
        SPLINE s = Sentinel();
        EXPECT_EQ(LoadBytes(c.bytes, s), ShapeIoError::BadFormat) << c.what;
        EXPECT_TRUE(SameShape(s, Sentinel())) << c.what;
    }
    // 64 nodes written by hand read back whole.
    SPLINE s = Sentinel();
    EXPECT_EQ(LoadBytes(shape(v, 64, 64, 0.25, 0), s), ShapeIoError::None);
    EXPECT_EQ(s.nodeCount, 64);
    EXPECT_EQ(s.pos[0].U, 0.25);
}

TEST(CutterShapeFile, EveryTruncationAndAFlippedByteAreRefused)
{
    const Bytes good = ShapeBytes(MakeShape(3));
    for (size_t n = 0; n < good.size(); ++n) {
        SPLINE s = Sentinel();
        const ShapeIoError e = M::stLoadShapeFromMem(good.data(), n, &s);
        EXPECT_EQ(e, n == 0 ? ShapeIoError::EmptyFile : ShapeIoError::BadFormat) << n;
        EXPECT_TRUE(SameShape(s, Sentinel())) << n;
    }
    for (size_t at : {size_t(10), good.size() / 2, good.size() - 9}) {
        Bytes bad = good;
        bad[at] ^= 0x40;
        SPLINE s = Sentinel();
        EXPECT_EQ(LoadBytes(bad, s), ShapeIoError::BadFormat) << at;
    }
}

TEST(CutterShapeFile, FilesThatCannotBeReadWhole)
{
    TempDir dir;
    SPLINE s = Sentinel();
    EXPECT_EQ(M::LoadShapeFile(dir / "missing.qnth", &s), ShapeIoError::ReadFailed);
    WriteFile(dir / "empty.qnth", {});
    EXPECT_EQ(M::LoadShapeFile(dir / "empty.qnth", &s), ShapeIoError::EmptyFile);
    // A huge file is refused before any buffer is taken for it.
    std::filesystem::resize_file((WriteFile(dir / "huge.qnth", {1}), dir / "huge.qnth"), kMaxShapeFileSize + 1);
    EXPECT_EQ(M::LoadShapeFile(dir / "huge.qnth", &s), ShapeIoError::BadFormat);
    EXPECT_TRUE(SameShape(s, Sentinel()));
    // A writer's failure keeps the file that was there.
    const Bytes before = ShapeBytes(MakeShape(2));
    WriteFile(dir / "keep.qnth", before);
    SPLINE broken = MakeShape(2);
    broken.S[1] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(M::SaveShapeFile(dir / "keep.qnth", broken), ShapeIoError::WriteFailed);
    EXPECT_EQ(M::SaveShapeFile(dir / "no-such-folder/x.qnth", MakeShape(2)), ShapeIoError::WriteFailed);
    EXPECT_EQ(ReadFile(dir / "keep.qnth"), before);
}

TEST(CutterShapeFile, LegacyConversion)
{
    const struct {
        int32_t a[6];
        double U[5], H[5], S;
    } cases[] = {
        {{200, 100, 0, 0, 0, 0}, {0.17, 0.5, 0.5, 0.5, 0.83}, {0, 0, 0, 0, 0}, 0.0},
        {{200, 0, 50, 10, 20, 250}, {0.5, 0.335, 0.5, 0.665, 0.5}, {0, -0.066, -0.132, -0.066, 0}, 1.0},
        {{200, 0, 0, 0, 0, -40}, {0.5, 0.5, 0.5, 0.5, 0.5}, {0, 0, 0, 0, 0}, 0.0},
        // Far outside: U and H are clamped to their ranges.
        {{20000, 1000, 0, 100000, -100000, 50}, {0, 0.5, 0.5, 0.5, 1}, {0, -3, 3, -3, 0}, 0.5},
        {{INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX}, {1, 0, 0.5, 1, 0}, {0, 3, -3, 3, 0}, 1.0},
    };
    for (const auto& c : cases) {
        SPLINE s = Sentinel();
        ASSERT_EQ(LoadBytes(Legacy(c.a), s), ShapeIoError::None) << c.a[0];
        ASSERT_EQ(s.nodeCount, 5);
        for (int i = 0; i < 5; ++i) {
            EXPECT_NEAR(s.pos[i].U, c.U[i], 1e-12) << c.a[0] << " node " << i;
            EXPECT_NEAR(s.pos[i].H, c.H[i], 1e-12) << c.a[0] << " node " << i;
            EXPECT_EQ(s.S[i], c.S) << c.a[0];
        }
    }
    // 53 bytes without the magic go to the container reader and fail its stamp.
    const int32_t a[6] = {200, 100, 0, 0, 0, 0};
    SPLINE s = Sentinel();
    EXPECT_EQ(LoadBytes(Legacy(a, "Quorvin Ltd Tessolo Shape 1.3"), s), ShapeIoError::BadFormat);
    Bytes longer = Legacy(a);
    longer.push_back(0);
    EXPECT_EQ(LoadBytes(longer, s), ShapeIoError::BadFormat);
    EXPECT_TRUE(SameShape(s, Sentinel()));
}

// ---- Last shape and options ------------------------------------------------------

namespace {

struct Conf {
    TempDir dir;
    CQNF_Storage st;
    Conf() { EXPECT_TRUE(st.Open(CQNF_String((dir / "plugin.conf").c_str()), 2)); }
    void Put(const char* key, double v) { st.SetRecord(key, v); }
};

bool IsDefaultKnife(const M& m)
{
    SPLINE d{};
    M::SetDefaultKnife(&d);
    return SameShape(m.m_Shape, d) && m.GetSelectedNodesCount() == 5;
}

}  // namespace

TEST(CutterLastShape, SavesAndLoadsTheEditorsShape)
{
    Conf conf;
    M saver;
    saver.m_Shape = MakeShape(7);
    ASSERT_EQ(saver.settings_SaveLastKnife(&conf.st), 1);
    M loader;
    loader.m_Shape = Sentinel();
    ASSERT_EQ(loader.settings_LoadLastKnife(&conf.st), 1);
    EXPECT_TRUE(SameShape(loader.m_Shape, saver.m_Shape));
    EXPECT_EQ(loader.GetSelectedNodesCount(), 7u);

    // A shorter shape after a longer one reads as the shorter.
    saver.m_Shape = MakeShape(2);
    saver.settings_SaveLastKnife(&conf.st);
    loader.settings_LoadLastKnife(&conf.st);
    EXPECT_TRUE(SameShape(loader.m_Shape, MakeShape(2)));

    // Without the configuration: the default knife, nothing saved.
    EXPECT_EQ(loader.settings_LoadLastKnife(nullptr), 1);
    EXPECT_TRUE(IsDefaultKnife(loader));
    EXPECT_EQ(saver.settings_SaveLastKnife(nullptr), 0);
}

TEST(CutterLastShape, StoredKeysThatAreNotAShape)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* what;
        uint16_t count;
        uint32_t written;
        double badH;  // 0: none
        bool defaultKnife;
        uint32_t nodes;
    } cases[] = {
        {"70 nodes, all present", 70, 70, 0, false, 64},
        {"count 0", 0, 0, 0, false, 0},
        {"one key missing", 4, 3, 0, true, 5},
        {"NaN", 3, 3, nan, true, 5},
        {"infinity", 3, 3, std::numeric_limits<double>::infinity(), true, 5},
    };
    for (const auto& c : cases) {
        Conf conf;
        conf.st.AddFolder("LastShape");
        conf.st.SetRecord("LastShape>NodesCount", c.count);
        for (uint32_t i = 0; i < c.written; ++i) {
            const std::string n = std::to_string(i);
            conf.Put(("LastShape>H" + n).c_str(), i == 1 && c.badH != 0 ? c.badH : 0.01 * i);
            conf.Put(("LastShape>U" + n).c_str(), 0.5);
            conf.Put(("LastShape>S" + n).c_str(), 0.25);
        }
        M m;
        m.m_Shape = Sentinel();
        m.settings_LoadLastKnife(&conf.st);
        EXPECT_EQ(m.m_Shape.nodeCount, c.nodes) << c.what;
        EXPECT_EQ(IsDefaultKnife(m), c.defaultKnife) << c.what;
    }
    // No count at all: the default knife.
    Conf conf;
    M m;
    m.m_Shape = Sentinel();
    m.settings_LoadLastKnife(&conf.st);
    EXPECT_TRUE(IsDefaultKnife(m));
}

TEST(CutterLastShape, RowColumnLink)
{
    Conf conf;
    M m;
    m.m_bLinkRC = 1;
    EXPECT_EQ(m.settings_LoadCutterOptions(&conf.st), 1);
    EXPECT_EQ(m.m_bLinkRC, 0) << "missing key clears the box";
    conf.st.AddFolder("Cutter Settings");
    conf.st.SetRecord("Cutter Settings>LinkRC", uint8_t(7));
    m.settings_LoadCutterOptions(&conf.st);
    EXPECT_EQ(m.m_bLinkRC, 1);
    m.m_bLinkRC = 0;
    EXPECT_EQ(m.settings_SaveCutterOptions(&conf.st), 1);
    uint8_t v = 9;
    EXPECT_TRUE(conf.st.GetRec("Cutter Settings>LinkRC", v));
    EXPECT_EQ(v, 0);
    EXPECT_EQ(m.settings_LoadCutterOptions(nullptr), 0);
    EXPECT_EQ(m.settings_SaveCutterOptions(nullptr), 0);
}
