// Shape set files ".qntk": export, import, and what is refused.
#include "cutter_test_util.h"

#include <bit>
#include <limits>

using namespace cutter_test;

namespace {

// A set whose records are given as raw bytes, with a chosen TotalShapes.
Bytes RawSet(const std::vector<Bytes>& records, int64_t total, const char* version = PM::kSetVersion)
{
    return Container([&](CQNF_Storage& st) {
        st.SetRecord("Version", CQNF_String(version));
        for (size_t i = 0; i < records.size(); ++i)
            st.SetRecord(("Shape_" + std::to_string(i)).c_str(), records[i].data(), uint32_t(records[i].size()));
        if (total >= 0)
            st.SetRecord("TotalShapes", uint32_t(total));
    });
}

Bytes RecordBytes(const char* name, uint32_t nodes) { return PM::EncodeSetRecord(PM::MakeRecord(name, MakeShape(nodes))); }

void PutLE32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

}  // namespace

TEST(CutterShapeSets, SelectedPresetsRoundTripInListOrder)
{
    MemPresetsFile file;
    file.Hold({"p0", "p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8", "p9"});
    PM model(&file);
    model.FillIn();
    for (uint32_t i : {7u, 1u, 4u})
        model.SetSelected(i, true);
    std::vector<std::string> said;
    CQNF_Mem image;
    ASSERT_EQ(model.opSaveSet(image, [&](const char* t) { said.emplace_back(t); }), ShapeIoError::None);
    EXPECT_EQ(said, (std::vector<std::string>{"Writing shape 1 of 3", "Writing shape 2 of 3", "Writing shape 3 of 3",
                                              "Writing complete"}));
    std::vector<PM::SHAPESETREC> read;
    ASSERT_EQ(PM::ReadShapeSet(image.GetPtr(), image.GetSize(), read), ShapeIoError::None);
    ASSERT_EQ(read.size(), 3u);
    const uint32_t from[3] = {1, 4, 7};
    for (int i = 0; i < 3; ++i) {
        const PM::SHAPESETREC& a = read[size_t(i)];
        const PM::SHAPESETREC& b = model.Records()[from[i]];
        EXPECT_STREQ(a.name, b.name);
        ASSERT_EQ(a.count, b.count);
        for (uint32_t n = 0; n < a.count; ++n)
            EXPECT_TRUE(a.U[n] == b.U[n] && a.H[n] == b.H[n] && a.S[n] == b.S[n]);
    }

    // The record bytes are little-endian whatever the host: count, then U, H, S.
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(image.GetPtr(), image.GetSize()));
    CQNF_Mem rec;
    ASSERT_TRUE(st.GetRec("Shape_0", rec));
    const PM::SHAPESETREC& p1 = model.Records()[1];
    ASSERT_EQ(rec.GetSize(), 68u + 12u * p1.count);
    const uint8_t* r = rec.GetPtr();
    EXPECT_EQ(r[64] | r[65] << 8 | r[66] << 16 | uint32_t(r[67]) << 24, p1.count);
    const uint32_t h0 = std::bit_cast<uint32_t>(p1.H[0]);
    EXPECT_EQ(r[72] | r[73] << 8 | r[74] << 16 | uint32_t(r[75]) << 24, h0);
    uint32_t total = 0;
    EXPECT_TRUE(st.GetRec("TotalShapes", total));
    EXPECT_EQ(total, 3u);

    // Through files as well; nothing selected writes nothing.
    TempDir dir;
    ASSERT_EQ(model.SaveSetFile(dir / "s.qntk"), ShapeIoError::None);
    EXPECT_EQ(ReadFile(dir / "s.qntk"), ToBytes(image));
    model.opInvertSelection();
    model.opSelectAll();
    model.opInvertSelection();
    EXPECT_EQ(model.SaveSetFile(dir / "none.qntk"), ShapeIoError::Refused);
    EXPECT_FALSE(std::filesystem::exists(dir / "none.qntk"));
}

TEST(CutterShapeSets, ShapeWithoutNodesIsAHeadOnly)
{
    const Bytes r = RecordBytes("empty", 0);
    EXPECT_EQ(r.size(), 68u);
    PM::SHAPESETREC back;
    ASSERT_EQ(PM::DecodeSetRecord(r.data(), r.size(), back), ShapeIoError::None);
    EXPECT_EQ(back.count, 0);
    EXPECT_STREQ(back.name, "empty");
}

TEST(CutterShapeSets, AppendReplaceAndEmptySets)
{
    const Bytes two = SetImage({"s1", "s2"});
    const struct {
        bool replace;
        std::vector<std::string> names;
    } cases[] = {
        {false, {"a", "b", "c", "d", "s1", "s2"}},
        {true, {"s1", "s2"}},
    };
    for (const auto& c : cases) {
        MemPresetsFile file;
        file.Hold({"a", "b", "c", "d"});
        PM model(&file);
        model.FillIn();
        ASSERT_EQ(model.sub_opLoadSetFromMemBlock(two.data(), two.size(), c.replace), ShapeIoError::None);
        EXPECT_EQ(Names(model), c.names);
        EXPECT_EQ(file.Names(), c.names);
        // TotalShapes 0: nothing changes, nothing is written.
        const Bytes none = SetImage({});
        const int writes = file.writes;
        ASSERT_EQ(model.sub_opLoadSetFromMemBlock(none.data(), none.size(), c.replace), ShapeIoError::None);
        EXPECT_EQ(Names(model), c.names);
        EXPECT_EQ(file.writes, writes);
    }
}

TEST(CutterShapeSets, RefusedSetsChangeNothing)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Bytes nanRecord = RecordBytes("n", 2);
    PutLE32(nanRecord, 68 + 4, std::bit_cast<uint32_t>(nan));
    Bytes tooMany = RecordBytes("c", 2);
    PutLE32(tooMany, 64, 65);
    Bytes shortForCount = RecordBytes("c", 3);
    shortForCount.resize(shortForCount.size() - 1);
    const Bytes good = RecordBytes("g", 2);

    const struct {
        const char* what;
        Bytes set;
        ShapeIoError e;
    } cases[] = {
        {"other version", RawSet({good}, 1, "Quorvin Tessolo Shape Set 1.0"), ShapeIoError::Refused},
        {"version in other case", RawSet({good}, 1, "quorvin tessolo shape set 2.0"), ShapeIoError::Refused},
        {"no TotalShapes", RawSet({good}, -1), ShapeIoError::Refused},
        {"TotalShapes above the records", RawSet({good, good}, 3), ShapeIoError::ReadFailed},
        {"TotalShapes of 4 billion", RawSet({good}, 0xFFFFFFFF), ShapeIoError::ReadFailed},
        {"65 nodes", RawSet({good, tooMany}, 2), ShapeIoError::BadFormat},
        {"record short for its count", RawSet({shortForCount}, 1), ShapeIoError::BadFormat},
        {"record shorter than a head", RawSet({Bytes(67, 'x')}, 1), ShapeIoError::BadFormat},
        {"NaN", RawSet({good, nanRecord}, 2), ShapeIoError::BadFormat},
        {"a shape file", Container([](CQNF_Storage& st) { st.SetRecord("Version", CQNF_String(CWnd_CutterModel::kShapeVersion)); }),
         ShapeIoError::Refused},
    };
    for (const auto& c : cases) {
        MemPresetsFile file;
        file.Hold({"mine"});
        const Bytes before = file.bytes;
        PM model(&file);
        model.FillIn();
        EXPECT_EQ(model.sub_opLoadSetFromMemBlock(c.set.data(), c.set.size(), false), c.e) << c.what;
        EXPECT_EQ(model.sub_opLoadSetFromMemBlock(c.set.data(), c.set.size(), true), c.e) << c.what;
        EXPECT_EQ(Names(model), (std::vector<std::string>{"mine"})) << c.what;
        EXPECT_EQ(file.bytes, before) << c.what;
    }
}

TEST(CutterShapeSets, EveryTruncationIsRefused)
{
    const Bytes good = SetImage({"a", "bb", "ccc"});
    MemPresetsFile file;
    file.Hold({"mine"});
    PM model(&file);
    model.FillIn();
    for (size_t n = 0; n < good.size(); ++n) {
        EXPECT_NE(model.sub_opLoadSetFromMemBlock(good.data(), n, false), ShapeIoError::None) << n;
        ASSERT_EQ(model.GetCount(), 1u) << n;
    }
    EXPECT_EQ(file.writes, 0);
}

TEST(CutterShapeSets, FailedWriteKeepsThePresets)
{
    const Bytes two = SetImage({"s1", "s2"});
    MemPresetsFile file;
    file.Hold({"a", "b"});
    PM model(&file);
    model.FillIn();
    model.opRenameShape(0, "edited");
    file.failWrite = true;
    for (bool replace : {false, true}) {
        EXPECT_EQ(model.sub_opLoadSetFromMemBlock(two.data(), two.size(), replace), ShapeIoError::UpdateFailed);
        EXPECT_EQ(Names(model), (std::vector<std::string>{"edited", "b"}));
    }
    // Closing later writes only the edit, never the refused shapes.
    file.failWrite = false;
    ASSERT_EQ(model.Close(), ShapeIoError::None);
    EXPECT_EQ(file.Names(), (std::vector<std::string>{"edited", "b"}));

    // Appending to presets that could not be read would write over them.
    MemPresetsFile unreadable;
    unreadable.Hold({"keep"});
    unreadable.failRead = true;
    PM blind(&unreadable);
    blind.FillIn();
    EXPECT_EQ(blind.sub_opLoadSetFromMemBlock(two.data(), two.size(), false), ShapeIoError::ReadFailed);
    EXPECT_EQ(unreadable.writes, 0);
}

TEST(CutterShapeSets, FilesChosenInTheDialog)
{
    TempDir dir;
    MemPresetsFile file;
    PM model(&file);
    model.FillIn();
    EXPECT_EQ(model.LoadSetFile(dir / "missing.qntk", false), ShapeIoError::ReadFailed);
    WriteFile(dir / "empty.qntk", {});
    EXPECT_EQ(model.LoadSetFile(dir / "empty.qntk", false), ShapeIoError::BadFormat);
    WriteFile(dir / "huge.qntk", {1});
    std::filesystem::resize_file(dir / "huge.qntk", kMaxShapeSetFileSize + 1);
    EXPECT_EQ(model.LoadSetFile(dir / "huge.qntk", false), ShapeIoError::BadFormat);
    WriteFile(dir / "ok.qntk", SetImage({"x"}));
    ASSERT_EQ(model.LoadSetFile(dir / "ok.qntk", false), ShapeIoError::None);
    EXPECT_EQ(Names(model), (std::vector<std::string>{"x"}));
}
