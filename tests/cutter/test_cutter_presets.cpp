// The presets store "ckss.data" and the presets list.
#include "cutter_test_util.h"

#include "core/SafeFileRunInputs.h"
#include "cutter/DialogModels.h"
#include "imaging/Image.h"

#include <cmath>
#include <functional>
#include <limits>
#include <random>

using namespace cutter_test;

namespace {

PM::SHAPESETREC Rec(const char* name, uint32_t nodes) { return PM::MakeRecord(name, MakeShape(nodes)); }

Bytes StoreBytes(const std::vector<PM::SHAPESETREC>& recs)
{
    const auto* p = reinterpret_cast<const uint8_t*>(recs.data());
    return Bytes(p, p + recs.size() * sizeof(PM::SHAPESETREC));
}

}  // namespace

// The store is judged whole before any record is taken: every cut that is
// not at a record's end, and every record no writer here makes, leaves no
// presets at all, with the reason in words.
TEST(CutterPresetsStore, ReadsWholeRecordsAndRefusesADamagedStoreWhole)
{
    MemPresetsFile file;
    file.exists = true;
    const Bytes sound = StoreBytes({Rec("a", 2), Rec("b", 64)});
    std::vector<PM::SHAPESETREC> recs;
    std::string damage;
    for (size_t n = 0; n <= sound.size(); ++n) {
        file.bytes.assign(sound.begin(), sound.begin() + long(n));
        recs.assign(1, Rec("stale", 1));
        damage.clear();
        const auto r = PM::ShapeMng_Load(file, recs, &damage);
        if (n % sizeof(PM::SHAPESETREC) == 0) {
            ASSERT_EQ(r, CQNF_PresetsFile::ReadResult::Ok) << n;
            ASSERT_EQ(recs.size(), n / sizeof(PM::SHAPESETREC)) << n;
            continue;
        }
        ASSERT_EQ(r, CQNF_PresetsFile::ReadResult::Damaged) << n;
        ASSERT_TRUE(recs.empty()) << n;
        ASSERT_EQ(damage, "it is " + std::to_string(n) + " bytes long, not a whole number of 836-byte presets");
    }
    EXPECT_STREQ(recs[0].name, "a");
    EXPECT_STREQ(recs[1].name, "b");
    EXPECT_EQ(recs[1].count, 64);

    struct Case {
        const char* what;
        std::function<void(PM::SHAPESETREC&)> spoil;
        const char* damage;
    };
    const std::vector<Case> cases = {
        {"a name without its end", [](auto& r) { std::memset(r.name, 'n', sizeof r.name); },
         "preset 1 has a name without an end"},
        {"data past the name's end", [](auto& r) { r.name[63] = 'z'; },
         "preset 1 holds data past the end of its name"},
        {"200 nodes", [](auto& r) { r.count = 200; }, "preset 1 has 200 nodes, more than 64"},
        {"a value that is no number", [](auto& r) { r.H[1] = std::numeric_limits<float>::quiet_NaN(); },
         "preset 1: node 1 holds a value that is not a number"},
        {"an infinity", [](auto& r) { r.U[0] = std::numeric_limits<float>::infinity(); },
         "preset 1: node 0 holds a value that is not a number"},
        {"data past the nodes", [](auto& r) { r.U[63] = 0.5f; }, "preset 1 holds data past its 3 nodes"},
        {"data in the reserved bytes", [](auto& r) { r.reserved[1] = 9; }, "preset 1 holds data past its 3 nodes"},
    };
    for (const Case& c : cases) {
        PM::SHAPESETREC wild = Rec("x", 3);
        c.spoil(wild);
        file.bytes = StoreBytes({Rec("a", 2), wild});
        EXPECT_EQ(PM::ShapeMng_Load(file, recs, &damage), CQNF_PresetsFile::ReadResult::Damaged) << c.what;
        EXPECT_TRUE(recs.empty()) << c.what;
        EXPECT_EQ(damage, c.damage) << c.what;
    }
    // Bytes that are no store at all, of a whole number of records.
    std::mt19937 random(66);
    file.bytes.resize(3 * sizeof(PM::SHAPESETREC));
    for (uint8_t& b : file.bytes)
        b = uint8_t(random());
    EXPECT_EQ(PM::ShapeMng_Load(file, recs), CQNF_PresetsFile::ReadResult::Damaged);

    // Empty: no records; missing and unreadable are told apart.
    file.bytes.clear();
    EXPECT_EQ(PM::ShapeMng_Load(file, recs), CQNF_PresetsFile::ReadResult::Ok);
    EXPECT_TRUE(recs.empty());
    file.exists = false;
    EXPECT_EQ(PM::ShapeMng_Load(file, recs), CQNF_PresetsFile::ReadResult::Absent);
    file.failRead = true;
    EXPECT_EQ(PM::ShapeMng_Load(file, recs), CQNF_PresetsFile::ReadResult::Failed);
}

// A damaged store is kept for a person: before a new one is begun (the
// window's first run, the editor's adding) it goes aside beside itself and
// the user is told where; where it cannot go aside, it is left as it is and
// nothing is written.
TEST(CutterPresetsStore, ADamagedStoreIsKeptAsideBeforeANewOneIsBegun)
{
    TempDir dir;
    const std::string path = dir / "ckss.data";
    const Bytes defSet = SetImage({"knob", "wave", "zig"});
    Bytes cut = StoreBytes({Rec("mine", 2), Rec("yours", 3)});
    cut.resize(cut.size() - 100);
    WriteFile(path, cut);
    CQNF_PresetsFileAtPath file(path);
    {
        PM model(&file);
        EXPECT_EQ(model.initialLastUsedSetCheck(defSet.data(), defSet.size()), ShapeIoError::None);
        EXPECT_EQ(Names(model), (std::vector<std::string>{"knob", "wave", "zig"}));
        EXPECT_EQ(model.Notice(), "The presets file " + path +
                                      " was damaged (it is 1572 bytes long, not a whole number of 836-byte presets); "
                                      "it was kept as " + path + ".bad and a new one begun.");
        EXPECT_EQ(ReadFile(path + ".bad"), cut);
    }
    // The editor adds to another damaged store: kept beside the first.
    Bytes wild = StoreBytes({Rec("a", 2)});
    wild[64] = 99;
    WriteFile(path, wild);
    std::string notice;
    EXPECT_EQ(PM::ShapeMng_AddShape(file, "added", MakeShape(4), &notice), ShapeIoError::None);
    EXPECT_EQ(notice, "The presets file " + path + " was damaged (preset 0 has 99 nodes, more than 64); it was kept as " +
                          path + ".bad2 and a new one begun.");
    EXPECT_EQ(ReadFile(path + ".bad2"), wild);
    EXPECT_EQ(ReadFile(path + ".bad"), cut);
    std::vector<PM::SHAPESETREC> recs;
    ASSERT_EQ(PM::ShapeMng_Load(file, recs), CQNF_PresetsFile::ReadResult::Ok);
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_STREQ(recs[0].name, "added");

    // A store that cannot go aside is never written over.
    MemPresetsFile stuck;
    stuck.exists = true;
    stuck.bytes = cut;
    PM model(&stuck);
    EXPECT_EQ(model.initialLastUsedSetCheck(defSet.data(), defSet.size()), ShapeIoError::ReadFailed);
    EXPECT_EQ(model.Notice(), "The presets file ckss.data is damaged (it is 1572 bytes long, not a whole number of "
                              "836-byte presets) and could not be kept aside; it is left as it is and no preset is "
                              "saved.");
    EXPECT_EQ(model.GetCount(), 0u);
    EXPECT_EQ(model.Close(), ShapeIoError::None);
    notice.clear();
    EXPECT_EQ(PM::ShapeMng_AddShape(stuck, "added", MakeShape(4), &notice), ShapeIoError::ReadFailed);
    EXPECT_NE(notice.find("could not be kept aside"), std::string::npos);
    EXPECT_EQ(stuck.writes, 0);
    EXPECT_EQ(stuck.bytes, cut);
}

TEST(CutterPresetsStore, FileAtPath)
{
    TempDir dir;
    CQNF_PresetsFileAtPath file(dir / "ckss.data");
    Bytes b;
    EXPECT_EQ(file.Read(b), CQNF_PresetsFile::ReadResult::Absent);
    ASSERT_TRUE(file.Write("abc", 3));
    EXPECT_EQ(file.Read(b), CQNF_PresetsFile::ReadResult::Ok);
    EXPECT_EQ(b, (Bytes{'a', 'b', 'c'}));
    // A read-only store is never replaced.
    std::filesystem::permissions(dir / "ckss.data", std::filesystem::perms(0444));
    EXPECT_FALSE(file.Write("new", 3));
    EXPECT_EQ(file.Read(b), CQNF_PresetsFile::ReadResult::Ok);
    EXPECT_EQ(b, (Bytes{'a', 'b', 'c'}));
    // A folder where the store should be exists but cannot be read.
    std::filesystem::create_directory(dir / "dir.data");
    CQNF_PresetsFileAtPath folder(dir / "dir.data");
    EXPECT_EQ(folder.Read(b), CQNF_PresetsFile::ReadResult::Failed);
    EXPECT_FALSE(folder.Write("x", 1));
    EXPECT_FALSE(CQNF_PresetsFileAtPath(dir / "none/ckss.data").Write("x", 1));
    // A store that leads to a file the run reads (an empty one reads as a
    // store without presets) is never written, nor made where a link
    // leads to one still to be made, nor moved aside as damaged.
    WriteFile(dir / "read.data", {});
    qnAddRunInputs({dir / "read.data", dir / "later.data", dir / "read.png"});
    std::filesystem::create_symlink(dir / "read.data", dir / "linked.data");
    std::filesystem::create_symlink(dir / "later.data", dir / "dangling.data");
    WriteFile(dir / "read.png", {0x89, 'P', 'N', 'G'});
    std::filesystem::create_symlink(dir / "read.png", dir / "picture.data");
    // Nor is it read: the manager opens on no presets, says why in the
    // words the plug-in's other files are refused in (never that the file
    // it leads to is a damaged store), and writes nothing when it closes.
    const Bytes defSet = SetImage({"knob"});
    for (const auto& [name, target] : {std::pair{"linked.data", "read.data"}, std::pair{"dangling.data", "later.data"},
                                       std::pair{"picture.data", "read.png"}}) {
        SCOPED_TRACE(name);
        CQNF_PresetsFileAtPath linked(dir / name);
        const std::string refused = "cannot write " + (dir / name) + ": it leads to " + (dir / target) +
                                    ", a file this run reads; presets are not kept in this run";
        EXPECT_FALSE(linked.Write("x", 1));
        std::string notice;
        EXPECT_EQ(PM::ShapeMng_AddShape(linked, "x", MakeShape(2), &notice), ShapeIoError::ReadFailed);
        EXPECT_EQ(notice, refused);
        PM model(&linked);
        EXPECT_EQ(model.initialLastUsedSetCheck(defSet.data(), defSet.size()), ShapeIoError::ReadFailed);
        EXPECT_EQ(model.Notice(), refused);
        EXPECT_EQ(model.GetCount(), 0u);
        EXPECT_FALSE(model.IsLoaded());
        EXPECT_EQ(model.Close(), ShapeIoError::None);
        EXPECT_EQ(model.sub_opLoadSetFromMemBlock(defSet.data(), defSet.size(), true), ShapeIoError::UpdateFailed);
        EXPECT_TRUE(std::filesystem::is_symlink(dir / name));
        EXPECT_FALSE(std::filesystem::exists(dir / (std::string(name) + ".bad")));
    }
    EXPECT_TRUE(ReadFile(dir / "read.data").empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "later.data"));
    EXPECT_EQ(ReadFile(dir / "read.png"), (Bytes{0x89, 'P', 'N', 'G'}));
}

TEST(CutterPresetsStore, AddShape)
{
    const std::string longName(70, 'L');
    MemPresetsFile file;
    ASSERT_EQ(PM::ShapeMng_AddShape(file, "first", MakeShape(4)), ShapeIoError::None);
    ASSERT_EQ(PM::ShapeMng_AddShape(file, longName.c_str(), MakeShape(64)), ShapeIoError::None);
    EXPECT_EQ(file.Names(), (std::vector<std::string>{"first", std::string(63, 'L')}));
    std::vector<PM::SHAPESETREC> recs;
    PM::ShapeMng_Load(file, recs);
    EXPECT_TRUE(SameShape(PM::ToSpline(recs[0]), PM::ToSpline(PM::MakeRecord("", MakeShape(4)))));
    EXPECT_EQ(recs[1].count, 64);

    // Unreadable: left alone. Unwritable: told, and the file as it was.
    const Bytes before = file.bytes;
    file.failRead = true;
    EXPECT_EQ(PM::ShapeMng_AddShape(file, "x", MakeShape(1)), ShapeIoError::ReadFailed);
    file.failRead = false;
    file.failWrite = true;
    EXPECT_EQ(PM::ShapeMng_AddShape(file, "x", MakeShape(1)), ShapeIoError::UpdateFailed);
    EXPECT_EQ(file.bytes, before);
}

TEST(CutterPresetsStore, FirstRunSeedsFromTheDefaultSet)
{
    const Bytes defSet = SetImage({"knob", "wave", "zig"});
    const struct {
        const char* what;
        bool exists, failRead;
        std::vector<std::string> held;
        ShapeIoError result;
        std::vector<std::string> names;
        int writes;
    } cases[] = {
        {"no store", false, false, {}, ShapeIoError::None, {"knob", "wave", "zig"}, 1},
        {"empty store", true, false, {}, ShapeIoError::None, {}, 0},
        {"store with presets", true, false, {"mine"}, ShapeIoError::None, {"mine"}, 0},
        {"unreadable store", true, true, {}, ShapeIoError::ReadFailed, {}, 0},
    };
    for (const auto& c : cases) {
        MemPresetsFile file;
        if (!c.held.empty())
            file.Hold(c.held);
        file.exists = c.exists;
        file.failRead = c.failRead;
        PM model(&file);
        EXPECT_EQ(model.initialLastUsedSetCheck(defSet.data(), defSet.size()), c.result) << c.what;
        EXPECT_EQ(Names(model), c.names) << c.what;
        EXPECT_EQ(file.writes, c.writes) << c.what;
        EXPECT_EQ(model.Close(), ShapeIoError::None) << c.what;
        EXPECT_EQ(file.writes, c.writes) << c.what << ": nothing changed, nothing written on closing";
    }
    // A broken default set seeds nothing.
    MemPresetsFile file;
    PM model(&file);
    Bytes broken = defSet;
    broken[40] ^= 1;
    EXPECT_EQ(model.initialLastUsedSetCheck(broken.data(), broken.size()), ShapeIoError::BadFormat);
    EXPECT_EQ(model.GetCount(), 0u);
    EXPECT_FALSE(file.exists);
    // A resource storage without one.
    CQNF_Storage resources;
    CQNF_Mem image;
    EXPECT_FALSE(PM::DefSetFromStorage(resources, image));
}

TEST(CutterPresetsList, SelectionButtonsAndPaging)
{
    MemPresetsFile file;
    file.Hold({"r0", "r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9"});
    PM model(&file);
    ASSERT_EQ(model.FillIn(), ShapeIoError::None);

    using K = PM::KeyAction;
    const struct {
        std::vector<uint32_t> selected;
        PM::BUTTONSTATES b;
        PM::ItemAction plain, option;
        K ret, optionRet, del, r;
    } cases[] = {
        {{}, {0, 0, 0, 0, 0}, PM::ItemAction::None, PM::ItemAction::None, K::Consumed, K::Consumed, K::Consumed,
         K::NotHandled},
        {{3}, {1, 1, 1, 1, 1}, PM::ItemAction::ToCutter, PM::ItemAction::ToCutterAndClose, K::ToCutter,
         K::ToCutterAndClose, K::Delete, K::Rename},
        {{3, 5}, {1, 1, 0, 0, 0}, PM::ItemAction::None, PM::ItemAction::None, K::Consumed, K::Consumed, K::Delete,
         K::NotHandled},
    };
    for (const auto& c : cases) {
        for (uint32_t i = 0; i < 10; ++i)
            model.SetSelected(i, false);
        for (uint32_t i : c.selected)
            model.SetSelected(i, true);
        const PM::BUTTONSTATES b = model.DoBtnStateChangeByCalcingSelection();
        EXPECT_EQ(std::memcmp(&b, &c.b, sizeof b), 0) << c.selected.size();
        EXPECT_EQ(model.GetItemAction(false), c.plain);
        EXPECT_EQ(model.GetItemAction(true), c.option);
        EXPECT_EQ(model.OnKeyDown(kKeyReturn, false), c.ret);
        EXPECT_EQ(model.OnKeyDown(kKeyReturn, true), c.optionRet);
        EXPECT_EQ(model.OnKeyDown(kKeyForwardDelete, false), c.del);
        EXPECT_EQ(model.OnKeyChar('r'), c.r);
        EXPECT_EQ(model.OnKeyDown(kKeyEsc, false), K::Close);
        EXPECT_EQ(model.OnKeyDown('x', false), K::NotHandled);
    }

    uint32_t total = 0, page = 0;
    model.DoUpdateScrollSize(total, page);
    EXPECT_EQ(total, 10u);
    EXPECT_EQ(page, 8u);  // the bar runs over 0..2
    for (uint32_t i = 0; i < 10; ++i)
        model.SetSelected(i, i == 9);
    model.DoRecalcFirstByList();
    EXPECT_EQ(model.m_nFirst, 9u);
    EXPECT_EQ(model.SlotRecord(0), 9);
    EXPECT_EQ(model.SlotRecord(1), -1);
    model.OnScroll(500);
    EXPECT_EQ(model.m_nFirst, 9u);
    model.OnScroll(1);

    // Icon clicks: alone, Command toggles, an empty slot changes nothing.
    ASSERT_TRUE(model.OnIconClick(2, false));
    EXPECT_EQ(model.FirstSelected(), 3);
    EXPECT_EQ(model.GetSelectedCount(), 1u);
    ASSERT_TRUE(model.OnIconClick(4, true));
    EXPECT_EQ(model.GetSelectedCount(), 2u);
    ASSERT_TRUE(model.OnIconClick(4, true));
    EXPECT_EQ(model.GetSelectedCount(), 1u);
    model.SetIconMode(0);
    EXPECT_EQ(model.PageSize(), 2u);
    EXPECT_EQ(model.m_nFirst, 3u) << "the selected record comes into the page";
    model.OnScroll(9);
    EXPECT_FALSE(model.OnIconClick(1, false));
    EXPECT_EQ(model.FirstSelected(), 3);

    model.opSelectAll();
    EXPECT_EQ(model.GetSelectedCount(), 10u);
    model.opInvertSelection();
    EXPECT_EQ(model.GetSelectedCount(), 0u);

    // Everything deleted: no record-dependent button, shown from 0.
    model.opSelectAll();
    model.opDeleteShape();
    EXPECT_EQ(model.GetCount(), 0u);
    EXPECT_EQ(model.m_nFirst, 0u);
    const PM::BUTTONSTATES none = model.DoBtnStateChangeByCalcingSelection();
    EXPECT_EQ(none.saveSet + none.delShape + none.renShape + none.toCutter + none.toCutterClose, 0);
    model.OnScroll(3);
    EXPECT_EQ(model.m_nFirst, 0u);
    ASSERT_EQ(model.Close(), ShapeIoError::None);
    EXPECT_TRUE(file.bytes.empty()) << "an emptied list is an empty store";
}

TEST(CutterPresetsList, SortRenameDeleteAndSend)
{
    MemPresetsFile file;
    file.Hold({"b", "B", "a", "ab"});
    PM model(&file);
    model.FillIn();
    model.SetSelected(0, true);  // "b"
    model.SetSelected(2, true);  // "a"
    model.opSort();
    EXPECT_EQ(Names(model), (std::vector<std::string>{"B", "a", "ab", "b"}));
    EXPECT_TRUE(model.IsSelected(1) && model.IsSelected(3) && model.GetSelectedCount() == 2);
    EXPECT_EQ(model.Records()[3].count, 1) << "records move with their names";

    EXPECT_FALSE(model.opRenameShape(9, "x"));
    const std::string longName(70, 'r');
    ASSERT_TRUE(model.opRenameShape(-1, longName.c_str()));
    EXPECT_EQ(model.Records()[1].name, std::string(63, 'r'));

    model.SetSelected(3, false);
    CWnd_CutterModel::SPLINE_STRUCT sent{};
    ASSERT_TRUE(model.opToCutter(sent));
    EXPECT_EQ(sent.nodeCount, model.Records()[1].count);
    EXPECT_EQ(sent.selected[0], 1);
    EXPECT_EQ(sent.pos[0].H, double(model.Records()[1].H[0]));

    model.opDeleteShape();
    EXPECT_EQ(Names(model), (std::vector<std::string>{"B", "ab", "b"}));
    EXPECT_EQ(model.GetSelectedCount(), 0u);
    EXPECT_FALSE(model.opToCutter(sent));
    EXPECT_EQ(file.Names(), (std::vector<std::string>{"b", "B", "a", "ab"})) << "edits reach the file on closing";
    ASSERT_EQ(model.Close(), ShapeIoError::None);
    EXPECT_EQ(file.Names(), (std::vector<std::string>{"B", "ab", "b"}));
}

TEST(CutterPresetsList, ClosingWritesOnlyWhatWasReadAndChanged)
{
    // Unchanged: no write.
    MemPresetsFile file;
    file.Hold({"a", "b"});
    PM model(&file);
    model.FillIn();
    model.opSort();
    EXPECT_FALSE(model.IsChanged());
    EXPECT_EQ(model.Close(), ShapeIoError::None);
    EXPECT_EQ(file.writes, 0);

    // A store that could not be read is never overwritten by closing.
    MemPresetsFile unreadable;
    unreadable.Hold({"keep"});
    unreadable.failRead = true;
    PM blind(&unreadable);
    EXPECT_EQ(blind.FillIn(), ShapeIoError::ReadFailed);
    EXPECT_FALSE(blind.opRenameShape(0, "x"));
    EXPECT_EQ(blind.Close(), ShapeIoError::None);
    EXPECT_EQ(unreadable.writes, 0);

    // A failed write is told, and the changes stay to be written later.
    model.opRenameShape(0, "z");
    file.failWrite = true;
    EXPECT_EQ(model.Close(), ShapeIoError::UpdateFailed);
    EXPECT_TRUE(model.IsChanged());
    file.failWrite = false;
    EXPECT_EQ(model.Close(), ShapeIoError::None);
    EXPECT_EQ(file.Names(), (std::vector<std::string>{"z", "b"}));
}

TEST(CutterPresetsList, ImportingAShapeKeepsEarlierEdits)
{
    MemPresetsFile file;
    file.Hold({"one", "two"});
    PM model(&file);
    model.FillIn();
    model.opRenameShape(1, "renamed");
    ASSERT_EQ(model.opLoadShape("New Shape", MakeShape(6)), ShapeIoError::None);
    EXPECT_EQ(Names(model), (std::vector<std::string>{"one", "renamed", "New Shape"}));
    EXPECT_EQ(file.Names(), Names(model));
    EXPECT_EQ(model.GetSelectedCount(), 0u);
    EXPECT_FALSE(model.IsChanged());

    // When the edits cannot be written, nothing is added.
    model.opRenameShape(0, "again");
    file.failWrite = true;
    EXPECT_EQ(model.opLoadShape("Other", MakeShape(2)), ShapeIoError::UpdateFailed);
    EXPECT_EQ(Names(model), (std::vector<std::string>{"again", "renamed", "New Shape"}));
    EXPECT_EQ(file.Names(), (std::vector<std::string>{"one", "renamed", "New Shape"}));
}

TEST(CutterPresetsIcons, ScaleAndDrawing)
{
    const qntRECT_s icon{10, 20, 60, 120};  // 50 wide, 100 high
    const struct {
        float maxH;
        double y1, y2;
    } cases[] = {
        {0.0f, 20 + 25, 20 + 74},    // scale 25 / 0.51 = 49.02
        {0.51f, 20 + 25, 20 + 74},   // the same scale
        {1.02f, 20 + 37, 20 + 62},   // half as long
        {100.0f, 20 + 49, 20 + 50},  // tiny, never inverted
    };
    for (const auto& c : cases) {
        PM::SHAPESETREC rec = Rec("r", 3);
        for (uint32_t i = 0; i < 3; ++i)
            rec.H[i] = i == 1 ? -c.maxH : c.maxH / 2;
        qntFPOS a{}, b{};
        PM::IconBaseSegment(icon, rec, a, b);
        EXPECT_EQ(a.x, 35.0);
        EXPECT_EQ(b.x, 35.0);
        EXPECT_EQ(a.y, c.y1) << c.maxH;
        EXPECT_EQ(b.y, c.y2) << c.maxH;
    }

    // Without nodes: the straight segment down the middle, nothing else.
    CQNF_Image layer;
    ASSERT_TRUE(layer.Create(80, 140, 2));
    std::memset(layer.GetPlane(3), 0, layer.PlaneSize());
    ASSERT_TRUE(PM::DrawSpline(layer, icon, Rec("none", 0)));
    const uint8_t* alpha = layer.GetPlane(3);
    EXPECT_GE(alpha[70 * 80 + 34] + alpha[70 * 80 + 35], 250);
    EXPECT_EQ(alpha[70 * 80 + 45], 0);
    EXPECT_EQ(alpha[10 * 80 + 35], 0);
    // The default knob (negative H) bulges to the right of the downward segment.
    std::memset(layer.GetPlane(3), 0, layer.PlaneSize());
    CWnd_CutterModel::SPLINE_STRUCT knob{};
    CWnd_CutterModel::SetDefaultKnife(&knob);
    ASSERT_TRUE(PM::DrawSpline(layer, icon, PM::MakeRecord("knob", knob)));
    uint32_t right = 0, left = 0;
    for (int y = 20; y < 120; ++y)
        for (int x = 10; x < 60; ++x) {
            right += x > 38 && alpha[y * 80 + x];
            left += x < 32 && alpha[y * 80 + x];
        }
    EXPECT_GT(right, 10u);
    EXPECT_GT(right, 4 * left) << "only the spline's small overshoot lies left";
}
