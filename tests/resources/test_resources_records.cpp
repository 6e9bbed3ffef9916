// Record payloads: images, shortcuts, the help menu text, the default shape
// set and fonts, each read back through the readers the windows use.
#include "core/Storage.h"
#include "core/StorageFormat.h"
#include "core/ZipBlock.h"
#include "cutter/PresetsModel.h"
#include "imaging/Font.h"
#include "resources/ResourceFile.h"
#include "resources/compiler/Compile.h"
#include "resources/compiler/Container.h"
#include "resources/compiler/Error.h"
#include "resources/compiler/Manifest.h"
#include "resources/compiler/Records.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::vector<uint8_t> Unzip(const std::vector<uint8_t>& block)
{
    qnZipHeader h;
    EXPECT_TRUE(qnZipReadHeader(block.data(), block.size(), h));
    std::vector<uint8_t> raw(h.rawSize);
    EXPECT_EQ(qnZipInflate(block.data(), h, raw.data()), 0);
    return raw;
}

TEST(ResourceRecords, ImageRecordUnpacksToItsRectangleAndPlanes)
{
    rc::Pixmap p(3, 5, 2, 1);
    const uint8_t planes[] = {10, 11, 20, 21, 30, 31, 0, 255};
    std::memcpy(p.planes.data(), planes, 8);
    const auto raw = Unzip(rc::PackImage(p));
    const std::vector<uint8_t> want = {0, 3, 0, 5, 0, 5, 0, 6, 10, 11, 20, 21, 30, 31, 0, 255};
    EXPECT_EQ(raw, want);

    qnres::Picture back;
    const auto block = rc::PackImage(p);
    ASSERT_EQ(qnres::DecodePicture(block.data(), block.size(), back), 0);
    EXPECT_EQ(back.left, 3);
    EXPECT_EQ(back.bottom, 6);
    EXPECT_EQ(std::vector<uint8_t>(back.Plane(0), back.Plane(0) + 8), std::vector<uint8_t>(planes, planes + 8));
}

TEST(ResourceRecords, ImageOfTheWrongSizeIsRefused)
{
    // A rectangle promising more pixels than the block holds.
    std::vector<uint8_t> raw = {0, 0, 0, 0, 0, 2, 0, 2, 1, 2, 3};
    const auto block = rc::Zip(raw);
    qnres::Picture pic;
    EXPECT_EQ(qnres::DecodePicture(block.data(), block.size(), pic), qnres::kBadImage);
    const uint8_t junk[20] = {'Q', 'N'};
    EXPECT_EQ(qnres::DecodePicture(junk, sizeof junk, pic), qnerr::ZipNotABlock);
}

TEST(ResourceRecords, ShortcutBytesFollowTheManifestKeys)
{
    struct Case {
        const char* line;
        uint8_t bytes[8];
    } cases[] = {
        {"accel 34 Cmd+Shift+S \"Export\"", {1, 0, 1, 1, 'S', 0, 34, 0}},
        {"accel 3 Cmd+z", {1, 0, 0, 1, 'Z', 0, 3, 0}},
        {"accel 12 Cmd+Opt+0", {1, 1, 0, 1, '0', 0, 12, 0}},
        {"accel 300 Ctrl+F5", {1, 0, 0, 0, 224, 0, 0x2C, 1}},
        {"accel 14 Cmd+Plus", {1, 0, 0, 1, '+', 0, 14, 0}},
        {"accel 37 Cmd+[", {1, 0, 0, 1, '[', 0, 37, 0}},
        // Without Cmd or Ctrl: the main modifier must be up.
        {"accel 5 Shift+H", {0, 0, 1, 0, 'H', 0, 5, 0}},
        {"accel 36 Shift+F10", {0, 0, 1, 0, 229, 0, 36, 0}},
    };
    for (const Case& c : cases) {
        const rc::Manifest m = rc::ParseManifestText(c.line, "t", ".");
        const auto bytes = rc::ShortcutRecords(m.shortcuts);
        ASSERT_EQ(bytes.size(), rc::kShortcutSize) << c.line;
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8), std::vector<uint8_t>(c.bytes, c.bytes + 8))
            << c.line;
    }
    for (const char* bad : {"accel 1 S", "accel 1 F", "accel 1 Cmd+Cmd+S", "accel 1 Cmd+F13", "accel 1 Alt+S"})
        EXPECT_THROW(rc::ParseManifestText(bad, "t", "."), rc::Error) << bad;
}

// The help menu's reading rule: "{|" text "|}" tokens, title then link,
// a lone "---" a separator.
std::vector<std::pair<std::string, std::string>> ReadHelp(const std::string& text)
{
    std::vector<std::string> tokens;
    for (size_t at = text.find("{|"); at != std::string::npos; at = text.find("{|", at)) {
        const size_t end = text.find("|}", at + 2);
        tokens.push_back(text.substr(at + 2, end - at - 2));
        at = end + 2;
    }
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t i = 0; i < tokens.size(); ++i)
        if (tokens[i] == "---")
            out.emplace_back("---", "---");
        else
            out.emplace_back(tokens[i], tokens[i + 1]), ++i;
    return out;
}

TEST(ResourceRecords, HelpMenuTextReadsBackAsPairsAndSeparators)
{
    const std::vector<rc::HelpEntry> entries = {{"Help", "help:"}, {"---", "---"}, {"Site", "https://x.example/"}};
    const std::string text = rc::HelpText(entries);
    EXPECT_EQ(text, "{|Help|}{|help:|}{|---|}{|Site|}{|https://x.example/|}");
    const auto back = ReadHelp(text);
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[1].first, "---");
    EXPECT_EQ(back[2].second, "https://x.example/");

    EXPECT_THROW(rc::HelpText(std::vector<rc::HelpEntry>(11, {"a", "b"})), rc::Error);
    EXPECT_THROW(rc::HelpText({{"a|}b", "c"}}), rc::Error);
}

TEST(ResourceRecords, DefaultShapeSetIsAStampedShapeSetContainer)
{
    const std::vector<rc::Shape> shapes = {{"Knob", {{0.434f, 0, 0.5f}, {0.5f, -0.297f, 0.5f}}}, {"Line", {}}};
    const auto image = rc::ShapeSet(shapes);
    CQNF_Storage st;
    ASSERT_TRUE(st.CheckMD5(image.data(), image.size()));
    ASSERT_TRUE(st.Open(image.data(), image.size()));
    CQNF_String version;
    uint32_t total = 0;
    CQNF_Mem s0, s1;
    ASSERT_TRUE(st.GetRec(CQNF_String("Version"), version));
    ASSERT_TRUE(st.GetRec(CQNF_String("TotalShapes"), total));
    ASSERT_TRUE(st.GetRec(CQNF_String("Shape_0"), s0));
    ASSERT_TRUE(st.GetRec(CQNF_String("Shape_1"), s1));
    EXPECT_STREQ(version.GetStr(), "Quorvin Tessolo Shape Set 2.0");
    EXPECT_EQ(total, 2u);
    ASSERT_EQ(s0.GetSize(), 68u + 2 * 12);
    EXPECT_EQ(s1.GetSize(), 68u);
    const uint8_t* r = s0.GetPtr();
    EXPECT_STREQ(reinterpret_cast<const char*>(r), "Knob");
    EXPECT_EQ(r[63], 0);
    EXPECT_EQ(r[64] | r[65] << 8 | r[66] << 16 | r[67] << 24, 2);
    // The second node's H, little-endian.
    uint32_t bits = r[84] | r[85] << 8 | r[86] << 16 | uint32_t(r[87]) << 24;
    float h;
    std::memcpy(&h, &bits, 4);
    EXPECT_FLOAT_EQ(h, -0.297f);

    // And through the presets' own reader of shape sets.
    std::vector<CWnd_PresetsManagerModel::SHAPESETREC> read;
    ASSERT_EQ(CWnd_PresetsManagerModel::ReadShapeSet(image.data(), image.size(), read), ShapeIoError::None);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_STREQ(read[0].name, "Knob");
    EXPECT_EQ(read[0].count, 2);
    EXPECT_FLOAT_EQ(read[0].U[0], 0.434f);
    EXPECT_FLOAT_EQ(read[0].H[1], -0.297f);
    EXPECT_EQ(read[1].count, 0);

    EXPECT_THROW(rc::ShapeSet({{std::string(64, 'x'), {}}}), rc::Error);
    EXPECT_THROW(rc::ShapeSet({{"many", std::vector<rc::ShapeNode>(65)}}), rc::Error);
}

TEST(ResourceRecords, CompiledFontOpensWithTheFontReader)
{
    const std::string dir = std::string(TESSOLO_SOURCE_DIR) + "/resources";
    const rc::Manifest m = rc::ParseManifestText(
        "icons icons\nfont \"Info Font\" fonts/DejaVuSans.ttf 11 32..126\n"
        "window W 200x100 \"W\"\n  button W_B 10,40,60,24 \"OK\"\nend\n",
        "mini", dir);
    const auto image = rc::Compile(m, {dir + "/fonts"});
    CQNF_Storage st;
    ASSERT_TRUE(st.Open(image.data(), image.size()));
    CQNF_Font font;
    ASSERT_TRUE(font.Open(&st, CQNF_String("UIResources>Fonts>Info Font")));
    EXPECT_EQ(font.GetFirstCharCode(), 32);
    EXPECT_EQ(font.GetLastCharCode(), 126);
    short a = 0, b = 0;
    ASSERT_TRUE(font.GetMaxAB(a, b));
    // An 11-px face: ascent and descent of a few pixels, a line of 11..16.
    EXPECT_GE(a, 8);
    EXPECT_LE(a, 13);
    EXPECT_GE(font.GetFontHeight(), 11);
    EXPECT_LE(font.GetFontHeight(), 16);
    short fa, fc, top;
    unsigned long w, h;
    ASSERT_NE(font.GetChar('H', fa, fc, top, w, h), nullptr);
    EXPECT_GT(w, 4u);
    EXPECT_LT(top, 0);  // drawn above the baseline
    // The window's records are all there, under the folders the toolkit opens.
    for (const char* key : {"UIResources>Windows>W>Background", "UIResources>Buttons>W_B>Normal",
                            "UIResources>Buttons>W_B>Data", "DefSet"})
        EXPECT_EQ(st.GetRecType(CQNF_String(key)), qnstorage::kBinary) << key;
}

}  // namespace
