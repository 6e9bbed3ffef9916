// The real resource file, as the build made it: every window, every record the
// windows read, in the types the toolkit's readers insist on.
#include "core/BlockProcessor.h"
#include "core/Storage.h"
#include "core/StorageFormat.h"
#include "core/ZipBlock.h"
#include "cutter/PresetsModel.h"
#include "resources/ResourceFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace {

class RealFile : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        file = new qnres::ResourceFile;
        std::string why;
        const std::string path = std::string(TESSOLO_BINARY_DIR) + "/tests/resources/" + qnres::kFileName;
        opened = file->Open(path, why);
        if (!opened)
            std::fprintf(stderr, "%s: %s\n", path.c_str(), why.c_str());
        for (const std::string& name : file->WindowNames()) {
            windows.emplace_back();
            if (!file->LoadWindow(name, windows.back(), why))
                ADD_FAILURE() << why;
        }
    }
    static void TearDownTestSuite()
    {
        delete file;
        windows.clear();
    }
    static const qnres::WindowSkin* Find(const std::string& name)
    {
        for (const auto& w : windows)
            if (w.name == name)
                return &w;
        return nullptr;
    }
    static const qnres::ControlSkin* Control(const std::string& folder, const std::string& name)
    {
        for (const auto& w : windows)
            for (const auto& c : w.controls)
                if (c.folder == folder && c.name == name)
                    return &c;
        return nullptr;
    }

    static qnres::ResourceFile* file;
    static bool opened;
    static std::vector<qnres::WindowSkin> windows;
};
qnres::ResourceFile* RealFile::file = nullptr;
bool RealFile::opened = false;
std::vector<qnres::WindowSkin> RealFile::windows;

TEST_F(RealFile, HoldsTheTwentyTwoWindowsWithinTheScreen)
{
    ASSERT_TRUE(opened);
    const std::set<std::string> want = {"Main", "Cutter", "About", "MessageBox", "Pref", "Export", "ExportLM",
                                        "ChannelList", "PresMng", "ShapeName", "AutoLayout", "CMuts", "Layers",
                                        "FXbc", "FXblur", "FXopac", "FXbevel", "FXmblur", "FXcovr", "FXstroke",
                                        "FXhsl", "FXiovr"};
    std::set<std::string> got;
    for (const auto& w : windows) {
        got.insert(w.name);
        const int width = w.background.right + w.background.left, height = w.background.bottom + w.background.top;
        EXPECT_LE(width, 1366) << w.name;
        EXPECT_LE(height, 768) << w.name;
        // Every skin lies inside its window.
        for (const auto& c : w.controls)
            for (const auto& r : c.records)
                if (!r.picture.planes.empty()) {
                    EXPECT_TRUE(r.picture.right <= width && r.picture.bottom <= height) << c.name << ">" << r.name;
                }
    }
    EXPECT_EQ(got, want);
    const auto* main = Find("Main");
    ASSERT_NE(main, nullptr);
    EXPECT_GE(main->background.right, 960);
    EXPECT_GE(main->background.bottom, 660);
}

namespace {

bool Stacked(const std::string& name)
{
    static const std::set<std::string> stacked = {
        "MessageBox_OKl", "MessageBox_YESl", "MessageBox_OKr", "MessageBox_YESr", "MessageBox_NO",
        "MessageBox_CANCEL", "Main_ShowExtras", "Main_HideExtras", "Main_Apply", "Main_ApplyLM",
        // Hidden while no Cut runs.
        "Cutter_CuttingAbort"};
    return stacked.count(name) != 0;
}

}  // namespace

TEST_F(RealFile, EveryControlHasTheRecordsItsKindRequires)
{
    ASSERT_TRUE(opened);
    struct Need {
        const char* folder;
        std::vector<std::pair<const char*, uint8_t>> records;
    };
    const uint8_t img = qnstorage::kBinary, u8 = qnstorage::kU8, u16 = qnstorage::kU16, u32 = qnstorage::kU32;
    const Need needs[] = {
        {"Buttons", {{"Normal", img}, {"Data", img}, {"Highlighted", img}, {"Pressed", img}, {"Disabled", img}}},
        {"Check Boxes", {{"Normal On", img}, {"Normal Off", img}, {"Highlighted On", img}, {"Pressed Off", img},
                         {"Disabled On", img}, {"Data", img}}},
        {"Radio Buttons", {{"Normal On", img}, {"Normal Off", img}, {"Highlighted", img}, {"Data", img},
                           {"Group ID", u8}}},
        {"Sliders", {{"Data_NumPoints", u16}, {"Data_Coors", img}, {"Data_ValueStart", u32}, {"Data_ValueEnd", u32},
                     {"Data_HotZone", img}, {"HotSpot_X", u16}, {"HotSpot_Y", u16}, {"Thumb_Normal", img}}},
        {"Scroll Bars", {{"Is Vertical", u8}, {"Thumb_Data", img}, {"Rect Left", u16}, {"Rect Top", u16},
                         {"Rect Right", u16}, {"Rect Bottom", u16}}},
        {"Lists", {{"Background_Selected", img}, {"Foreground_Selected", img}, {"Background_Normal", img},
                   {"Rect Left", u16}, {"Rect Bottom", u16}}},
        {"Edits", {{"Rect Left", u16}, {"Rect Top", u16}, {"Rect Right", u16}, {"Rect Bottom", u16}}},
        {"Progresses", {{"Normal", img}, {"Data", img}}},
    };
    size_t controls = 0;
    for (const auto& w : windows)
        for (const auto& c : w.controls) {
            ++controls;
            for (const Need& n : needs) {
                if (c.folder != n.folder)
                    continue;
                for (const auto& [name, type] : n.records) {
                    // Buttons sharing one place hide while disabled: they
                    // have no Disabled picture on purpose.
                    if (c.folder == "Buttons" && std::string(name) == "Disabled" && Stacked(c.name))
                        continue;
                    const qnres::Record* r = c.Find(name);
                    ASSERT_NE(r, nullptr) << c.folder << ">" << c.name << ">" << name;
                    EXPECT_EQ(r->type, type) << c.folder << ">" << c.name << ">" << name;
                }
            }
            if (c.folder == "Radio Buttons") {
                EXPECT_NE(c.Find("Group ID")->value, 255u) << c.name;
            }
        }
    EXPECT_GE(controls, 480u);
}

// The slider values exactly as the toolkit spreads them between the two ends.
std::vector<uint32_t> SliderValues(uint32_t n, uint32_t start, uint32_t end)
{
    std::vector<uint32_t> v(n);
    for (uint32_t j = 0; j < n; ++j) {
        const double exact = n == 1 ? start : start + double(j) * (double(end) - start) / (n - 1);
        uint32_t t = uint32_t(exact);
        if (exact - t > 0.5)
            ++t;
        v[j] = t;
    }
    return v;
}

TEST_F(RealFile, CaptionsLeaveTheirControlsClickable)
{
    // The caption takes a press where its alpha is above 128 before any
    // control is asked, so no control's hot zone may lie under it.
    ASSERT_TRUE(opened);
    size_t checked = 0;
    for (const auto& w : windows)
        for (const auto& rec : w.windowRecords) {
            if (rec.name != "Caption_Active" && rec.name != "Caption_Inactive")
                continue;
            const qnres::Picture& cap = rec.picture;
            for (const auto& c : w.controls) {
                const qnres::Record* data = c.Find(c.folder == "Sliders" ? "Data_HotZone" : "Data");
                if (!data || data->picture.planes.empty())
                    continue;
                const qnres::Picture& hz = data->picture;
                for (int y = std::max(hz.top, cap.top); y < std::min(hz.bottom, cap.bottom); ++y)
                    for (int x = std::max(hz.left, cap.left); x < std::min(hz.right, cap.right); ++x) {
                        const bool hot = hz.Plane(0)[size_t(y - hz.top) * hz.Width() + (x - hz.left)] > 128;
                        const bool drag = cap.Plane(3)[size_t(y - cap.top) * cap.Width() + (x - cap.left)] > 128;
                        ASSERT_FALSE(hot && drag) << w.name << ">" << rec.name << " covers " << c.name << " at " << x
                                                  << "," << y;
                        ++checked;
                    }
            }
        }
    EXPECT_GT(checked, 0u);
}

TEST_F(RealFile, SliderRangesReachEveryValueAndDialsClose)
{
    ASSERT_TRUE(opened);
    struct Case {
        const char* name;
        uint32_t lo, hi;
        bool dial;
    } cases[] = {
        {"Main_Zoom", 0, 8, false},       {"Cutter_Rows", 1, 101, false}, {"FXhsl_H1", 0, 360, false},
        {"FXhsl_S2", 0, 200, false},      {"FXbevel_Depth1", 0, 999, false}, {"FXmblur_Dir1", 0, 359, true},
        {"FXmblur_Dir2", 0, 359, true},   {"FXbevel_Soften2", 0, 20, false},
    };
    for (const Case& c : cases) {
        const qnres::ControlSkin* s = Control("Sliders", c.name);
        ASSERT_NE(s, nullptr) << c.name;
        const uint32_t n = s->Find("Data_NumPoints")->value;
        EXPECT_EQ(s->Find("Data_ValueStart")->value, c.lo) << c.name;
        EXPECT_EQ(s->Find("Data_ValueEnd")->value, c.hi) << c.name;
        const auto values = SliderValues(n, c.lo, c.hi);
        EXPECT_EQ(std::set<uint32_t>(values.begin(), values.end()).size(), size_t(c.hi - c.lo + 1)) << c.name;

        CQNF_Mem coors;
        ASSERT_TRUE(file->Storage().GetRec(CQNF_String(("UIResources>Sliders>" + std::string(c.name) + ">Data_Coors").c_str()), coors));
        ASSERT_EQ(coors.GetSize(), 5 * n) << c.name;
        const uint8_t* p = coors.GetPtr();
        const int dx = qnGetBE16(p) - qnGetBE16(p + 5 * (n - 1)), dy = qnGetBE16(p + 2) - qnGetBE16(p + 5 * (n - 1) + 2);
        EXPECT_EQ(dx * dx + dy * dy < 3, c.dial) << c.name;
    }
}

TEST_F(RealFile, FixedPointsOfTheCodeAreKept)
{
    ASSERT_TRUE(opened);
    const qnres::ControlSkin* status = Control("Static Texts", "Main_Status");
    ASSERT_NE(status, nullptr);
    const qnres::Picture& s = status->Find("Normal")->picture;
    EXPECT_EQ(std::vector<int>({s.left, s.top, s.right, s.bottom}), std::vector<int>({10, 604, 720, 644}));
    // Help pop-ups open at (x, 30): the help button starts at x, above y 30.
    const std::pair<const char*, int> help[] = {
        {"Main_Help", 672},      {"Cutter_Help", 376},   {"Pref_Help", 488},      {"ChannelList_Help", 440},
        {"Export_Help", 346},    {"ExportLM_Help", 318}, {"PresMng_Help", 371},   {"ShapeName_Help", 307},
        {"CMuts_Help", 307},     {"AutoLayout_Help", 289}, {"Layers_Help", 441},
    };
    // Other menus open below their buttons at fixed points too.
    const std::pair<const char*, std::pair<int, int>> menus[] = {
        {"Main_Main", {422, 30}}, {"Main_Select", {484, 30}}, {"Main_Adjust", {559, 30}},
        {"Cutter_Save", {336, 109}}, {"Cutter_Clone", {77, 384}}, {"FXiovr_ChooseImage", {87, 209}},
    };
    for (const auto& [name, at] : menus) {
        const qnres::ControlSkin* b = Control("Buttons", name);
        ASSERT_NE(b, nullptr) << name;
        const qnres::Picture& n = b->Find("Normal")->picture;
        EXPECT_EQ(n.left, at.first) << name;
        EXPECT_LE(n.bottom, at.second) << name;
        EXPECT_GE(n.bottom, at.second - 4) << name;
    }
    for (const auto& [name, x] : help) {
        const qnres::ControlSkin* b = Control("Buttons", name);
        ASSERT_NE(b, nullptr) << name;
        const qnres::Picture& n = b->Find("Normal")->picture;
        EXPECT_EQ(n.left, x) << name;
        EXPECT_LE(n.bottom, 30) << name;
    }
}

TEST_F(RealFile, ShortcutsHelpMenuAndDefaultShapesReadBack)
{
    ASSERT_TRUE(opened);
    CQNF_Storage& st = file->Storage();
    auto unzip = [&](const char* key) {
        CQNF_Mem block;
        EXPECT_TRUE(st.GetRec(CQNF_String(key), block)) << key;
        qnZipHeader h;
        std::vector<uint8_t> raw;
        if (qnZipReadHeader(block.GetPtr(), block.GetSize(), h)) {
            raw.resize(h.rawSize);
            EXPECT_EQ(qnZipInflate(block.GetPtr(), h, raw.data()), 0);
        }
        return raw;
    };
    const auto accel = unzip("UIResources>Accelerators");
    ASSERT_EQ(accel.size() % 108, 0u);
    bool save = false;
    for (size_t i = 0; i < accel.size(); i += 108)
        if (accel[i + 4] == 'S' && accel[i + 3] && !accel[i + 2] && !accel[i + 1])
            save = (accel[i + 6] | accel[i + 7] << 8) == 32;
    EXPECT_TRUE(save) << "Cmd+S saves (command 32)";

    // The help menu's reading: as many "{|" as "|}" (at most 20 of each),
    // pairs of title and link, "---" alone; the menu itself adds "Help..."
    // and "About", so every entry here is a web link.
    const auto help = unzip("InfoM");
    const std::string text(help.begin(), help.end());
    std::vector<size_t> opens, closes;
    for (size_t at = text.find("{|"); at != std::string::npos; at = text.find("{|", at + 2))
        opens.push_back(at);
    for (size_t at = text.find("|}"); at != std::string::npos; at = text.find("|}", at + 2))
        closes.push_back(at);
    ASSERT_EQ(opens.size(), closes.size());
    ASSERT_LE(opens.size(), 20u);
    size_t entries = 0;
    for (size_t i = 0; i < opens.size(); ++i, ++entries) {
        const std::string title = text.substr(opens[i] + 2, closes[i] - opens[i] - 2);
        if (title == "---")
            continue;
        ASSERT_LT(i + 1, opens.size()) << "a title without a link: " << title;
        ++i;
        const std::string link = text.substr(opens[i] + 2, closes[i] - opens[i] - 2);
        EXPECT_EQ(link.rfind("https://", 0), 0u) << title << " -> " << link;
    }
    EXPECT_GE(entries, 2u);
    EXPECT_LE(entries, 10u);

    CQNF_Mem set;
    ASSERT_TRUE(CWnd_PresetsManagerModel::DefSetFromStorage(st, set));
    std::vector<CWnd_PresetsManagerModel::SHAPESETREC> presets;
    ASSERT_EQ(CWnd_PresetsManagerModel::ReadShapeSet(set.GetPtr(), set.GetSize(), presets), ShapeIoError::None);
    ASSERT_FALSE(presets.empty());
    // The defaults seed the presets store: its reader takes them.
    std::vector<uint8_t> store(presets.size() * sizeof presets[0]);
    std::memcpy(store.data(), presets.data(), store.size());
    EXPECT_EQ(CWnd_PresetsManagerModel::StoreDamage(store.data(), store.size()), "");
    // The first default is the knife a new layout starts with.
    const float knob[5][3] = {{0.434f, 0, 0.5f}, {0.3515f, -0.165f, 0.5f}, {0.5f, -0.297f, 0.5f},
                              {0.6485f, -0.165f, 0.5f}, {0.566f, 0, 0.5f}};
    ASSERT_EQ(presets[0].count, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_FLOAT_EQ(presets[0].U[i], knob[i][0]);
        EXPECT_FLOAT_EQ(presets[0].H[i], knob[i][1]);
        EXPECT_FLOAT_EQ(presets[0].S[i], knob[i][2]);
    }
    CQNF_Storage shapes;
    ASSERT_TRUE(shapes.CheckMD5(set.GetPtr(), set.GetSize()));
    ASSERT_TRUE(shapes.Open(set.GetPtr(), set.GetSize()));
    uint32_t total = 0;
    ASSERT_TRUE(shapes.GetRec(CQNF_String("TotalShapes"), total));
    EXPECT_GE(total, 4u);
    for (uint32_t i = 0; i < total; ++i) {
        CQNF_Mem shape;
        ASSERT_TRUE(shapes.GetRec(CQNF_String(("Shape_" + std::to_string(i)).c_str()), shape));
        const uint8_t* p = shape.GetPtr();
        const uint32_t n = p[64] | p[65] << 8 | p[66] << 16 | uint32_t(p[67]) << 24;
        EXPECT_LE(n, 64u);
        EXPECT_EQ(shape.GetSize(), 68 + 12 * n);
    }
}

}  // namespace
