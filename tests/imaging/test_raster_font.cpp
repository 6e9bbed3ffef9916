#include "imaging/Font.h"

#include "core/Storage.h"
#include "core/ZipBlock.h"
#include "imaging/FontBuilder.h"
#include "imaging/TextLayer.h"
#include "tests/need_program.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct Glyph {
    int8_t a;
    int8_t c;
    int8_t top;
    uint8_t w;
    uint8_t h;
    uint8_t fill;  // every coverage byte, unless cov is given
    std::vector<uint8_t> cov = {};
};

std::vector<uint8_t> Record(uint8_t first, uint8_t last, const std::vector<Glyph>& glyphs)
{
    std::vector<uint8_t> r = {'Q', 'N', 'F', '2', first, last};
    for (const auto& g : glyphs) {
        r.insert(r.end(), {uint8_t(g.a), uint8_t(g.c), uint8_t(g.top), g.w, g.h});
        if (!g.cov.empty())
            r.insert(r.end(), g.cov.begin(), g.cov.end());
        else
            r.insert(r.end(), size_t(g.w) * g.h, g.fill);
    }
    return r;
}

// A storage file in a fresh temporary folder holding zip-packed records.
class FontStore {
public:
    FontStore()
    {
        static std::atomic<int> serial{0};
        dir_ = std::filesystem::temp_directory_path() /
               ("tessolo_font_" + std::to_string(::getpid()) + "_" + std::to_string(serial++));
        std::filesystem::create_directories(dir_);
        const std::string path = (dir_ / "fonts.qns").string();
        EXPECT_TRUE(storage.Open(CQNF_String(path.c_str()), 2));
        storage.AddFolder("UIResources");
        storage.AddFolder("UIResources>Fonts");
    }
    ~FontStore()
    {
        storage.Close();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    // Stores the bytes zip-packed (or raw when pack is false) under name.
    CQNF_String Put(const std::string& name, const std::vector<uint8_t>& bytes, bool pack = true)
    {
        CQNF_Mem out;
        if (pack) {
            CQNF_ZipBlock zip;
            zip.SetSourceBlock(bytes.data(), bytes.size());
            zip.SetDestBlock(&out);
            zip.SetMode(1);
            EXPECT_TRUE(zip.Process());
        } else {
            out.alloc(bytes.size());
            std::memcpy(out.GetPtr(), bytes.data(), bytes.size());
        }
        const std::string key = "UIResources>Fonts>" + name;
        EXPECT_TRUE(storage.SetRecord(CQNF_String(key.c_str()), out.GetPtr(), out.GetSize()));
        return CQNF_String(key.c_str());
    }
    CQNF_Storage storage;

private:
    std::filesystem::path dir_;
};

// 'A': a 1, c 2, top -5, 3 x 5; 'B': a -2, c 0, top -3, 5 x 6 (reaches 3 below).
std::vector<uint8_t> TwoGlyphs()
{
    return Record('A', 'B', {{1, 2, -5, 3, 5, 200}, {-2, 0, -3, 5, 6, 100}});
}

uint8_t Alpha(CQNF_Image& img, int x, int y) { return img.GetPlane(3)[y * img.GetImageWidth() + x]; }

}  // namespace

TEST(RasterFont, OpensAndReportsMetrics)
{
    FontStore fs;
    CQNF_Font font;
    ASSERT_TRUE(font.Open(&fs.storage, fs.Put("Two", TwoGlyphs())));
    EXPECT_EQ(font.GetFirstCharCode(), 'A');
    EXPECT_EQ(font.GetLastCharCode(), 'B');
    short a = 0, b = 0;
    EXPECT_TRUE(font.GetMaxAB(a, b));
    EXPECT_EQ(a, 5);
    EXPECT_EQ(b, 3);
    EXPECT_EQ(font.GetFontHeight(), 9);  // b + a + 1

    short ga = 0, gc = 0, top = 0;
    unsigned long w = 0, h = 0;
    const unsigned char* cov = font.GetChar('B', ga, gc, top, w, h);
    ASSERT_NE(cov, nullptr);
    EXPECT_EQ(ga, -2);
    EXPECT_EQ(gc, 0);
    EXPECT_EQ(top, -3);
    EXPECT_EQ(w, 5u);
    EXPECT_EQ(h, 6u);
    EXPECT_EQ(cov[29], 100);
    EXPECT_EQ(font.GetChar('C', ga, gc, top, w, h), nullptr);
    EXPECT_EQ(font.GetError(), qnerr::FontNoGlyph);
    EXPECT_EQ(font.GetChar('@', ga, gc, top, w, h), nullptr);
}

TEST(RasterFont, CodeRangeEdges)
{
    FontStore fs;
    CQNF_Font font;
    ASSERT_TRUE(font.Open(&fs.storage, fs.Put("Last", Record(254, 255, {{0, 1, -2, 1, 2, 9}, {0, 1, -4, 2, 4, 7}}))));
    short a, c, top;
    unsigned long w, h;
    ASSERT_NE(font.GetChar(255, a, c, top, w, h), nullptr);
    EXPECT_EQ(w, 2u);
    EXPECT_EQ(font.GetFontHeight(), 5);

    ASSERT_TRUE(font.Open(&fs.storage, fs.Put("One", Record('x', 'x', {{0, 0, 0, 0, 0, 0}}))));
    EXPECT_EQ(font.GetFontHeight(), 1);
    EXPECT_NE(font.GetChar('x', a, c, top, w, h), nullptr);
    EXPECT_EQ(w, 0u);
}

TEST(RasterFont, RefusesBrokenRecords)
{
    FontStore fs;
    CQNF_Font font;
    const auto good = TwoGlyphs();
    // Ending exactly at the last glyph's end opens; one byte short does not.
    ASSERT_TRUE(font.Open(&fs.storage, fs.Put("Exact", good)));
    auto shortRec = good;
    shortRec.pop_back();
    EXPECT_FALSE(font.Open(&fs.storage, fs.Put("Short", shortRec)));
    EXPECT_EQ(font.GetError(), qnerr::FontFormat);
    EXPECT_FALSE(font.IsOpen());
    short a, c, top;
    unsigned long w, h;
    EXPECT_EQ(font.GetChar('A', a, c, top, w, h), nullptr);

    for (size_t i = 0; i < 4; ++i) {
        auto bad = good;
        bad[i] ^= 0x20;
        EXPECT_FALSE(font.Open(&fs.storage, fs.Put("Magic" + std::to_string(i), bad)));
        EXPECT_EQ(font.GetError(), qnerr::FontFormat);
    }
    // A glyph head cut off, first above last, a record shorter than its head.
    auto headCut = Record('A', 'B', {{1, 2, -5, 1, 1, 200}});
    headCut.insert(headCut.end(), {1, 2, 3});
    EXPECT_FALSE(font.Open(&fs.storage, fs.Put("HeadCut", headCut)));
    EXPECT_EQ(font.GetError(), qnerr::FontFormat);
    EXPECT_FALSE(font.Open(&fs.storage, fs.Put("Reversed", Record('B', 'A', {{0, 0, 0, 0, 0, 0}}))));
    EXPECT_EQ(font.GetError(), qnerr::FontFormat);
    EXPECT_FALSE(font.Open(&fs.storage, fs.Put("Tiny", {'Q', 'N', 'F', '2', 1})));
    EXPECT_EQ(font.GetError(), qnerr::FontFormat);

    // Not a zip block, a missing key, no storage: the stage's, the storage's
    // or a bad-argument number.
    EXPECT_FALSE(font.Open(&fs.storage, fs.Put("Raw", good, false)));
    EXPECT_EQ(font.GetError(), qnerr::ZipNotABlock);
    EXPECT_FALSE(font.Open(&fs.storage, "UIResources>Fonts>Nothing"));
    EXPECT_NE(font.GetError(), 0);
    EXPECT_FALSE(font.Open(nullptr, "x"));
    EXPECT_EQ(font.GetError(), qnerr::BadArgument);
}

TEST(RasterFont, TextSize)
{
    FontStore fs;
    CQNF_Font font;
    unsigned long w = 7, h = 7;
    EXPECT_FALSE(font.GetTextSize("A", 10, w, h));
    EXPECT_EQ(font.GetError(), qnerr::Empty);
    ASSERT_TRUE(font.Open(&fs.storage, fs.Put("Two", TwoGlyphs())));

    EXPECT_TRUE(font.GetTextSize("", 10, w, h));
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(h, 0u);
    font.GetTextSize("\n", 10, w, h);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(h, 0u);
    // A glyph hanging left at the start of a line is pushed right.
    font.GetTextSize("B", 10, w, h);
    EXPECT_EQ(w, 5u);
    EXPECT_EQ(h, 8u);  // A + top + height = 5 - 3 + 6
    // 'A' ends at 1 + 3, the pen moves on by c = 2; 'B' then ends at 6 - 2 + 5.
    font.GetTextSize("AzB", 10, w, h);
    EXPECT_EQ(w, 9u);
    EXPECT_EQ(h, 8u);
    font.GetTextSize("A\nB", 10, w, h);
    EXPECT_EQ(w, 5u);
    EXPECT_EQ(h, 18u);
}

TEST(RasterFont, TextLayerGrowsAndKeepsItsSize)
{
    FontStore fs;
    CQNF_Font font;
    ASSERT_TRUE(font.Open(&fs.storage, fs.Put("Two", TwoGlyphs())));
    CQNF_TextLayer t;
    EXPECT_FALSE(t.DrawText());
    EXPECT_EQ(t.GetError(), qnerr::BadArgument);
    ASSERT_TRUE(t.Create(3, 4, 0, 0, 0));
    EXPECT_EQ(t.GetImageWidth(), 10);
    ASSERT_TRUE(t.SetFont(&font));
    // The offsets play no part in a growing layer.
    ASSERT_TRUE(t.SetText("AAB", qntRGBA8{10, 20, 30, 255}, 10, 20, 20));
    EXPECT_EQ(t.GetImageWidth(), 1 + 3 + 2 + 1 + 3 + 2 - 2 + 5);
    EXPECT_EQ(t.GetImageHeight(), 8);  // re-created at exactly the text's size
    EXPECT_EQ(t.GetRect().left, 3);
    EXPECT_EQ(Alpha(t, 1, 0), 200);
    EXPECT_EQ(Alpha(t, 0, 0), 0);
    EXPECT_EQ(Alpha(t, 3, 4), 200);
    EXPECT_EQ(Alpha(t, 3, 5), 0);
    EXPECT_EQ(Alpha(t, 10, 2), 100);  // 'B' at pen 12 - 2, top 5 - 3
    EXPECT_EQ(Alpha(t, 10, 1), 0);
    EXPECT_EQ(t.GetPixel(0, 7).r, 10);

    const uint16_t wide = t.GetImageWidth();
    ASSERT_TRUE(t.SetText("A"));
    EXPECT_EQ(t.GetImageWidth(), wide);
    EXPECT_EQ(Alpha(t, 10, 2), 0);

    // The growth stops at 30000.
    const auto wideGlyph = Record('W', 'W', {{0, 0, -1, 255, 1, 50}});
    CQNF_Font big;
    ASSERT_TRUE(big.Open(&fs.storage, fs.Put("Wide", wideGlyph)));
    t.SetFont(&big);
    ASSERT_TRUE(t.SetText(std::string(120, 'W').c_str()));
    EXPECT_EQ(t.GetImageWidth(), 30000);
    EXPECT_EQ(Alpha(t, 29999, 0), 50);
}

TEST(RasterFont, TextLayerFixedSizeOffsetsAndTabs)
{
    FontStore fs;
    CQNF_Font font;
    ASSERT_TRUE(font.Open(&fs.storage, fs.Put("Two", TwoGlyphs())));
    CQNF_TextLayer t;
    ASSERT_TRUE(t.Create(0, 0, 1, 60, 30));
    t.SetFont(&font);
    ASSERT_TRUE(t.SetText("A\nA", qntRGBA8{1, 1, 1, 0}, 12, 20, 3));
    EXPECT_EQ(t.GetImageWidth(), 60);
    // Each line's pen starts 20 pixels in; the first line's top at 3.
    EXPECT_EQ(Alpha(t, 21, 3), 200);
    EXPECT_EQ(Alpha(t, 20, 3), 0);
    EXPECT_EQ(Alpha(t, 21, 15), 200);
    EXPECT_EQ(Alpha(t, 21, 14), 0);
    long ox = 0, oy = 0;
    t.GetOffSet(ox, oy);
    EXPECT_EQ(ox, 20);

    // Tab stops are image positions; a line start rewinds to the first one;
    // without a stop left the tab does nothing.
    EXPECT_EQ(t.AddTab(40), 0u);
    EXPECT_EQ(t.GetTabsCount(), 1u);
    ASSERT_TRUE(t.SetText("A\tA\tA\n\tB"));
    EXPECT_EQ(Alpha(t, 41, 3), 200);           // second 'A' at the stop
    EXPECT_EQ(Alpha(t, 41 + 3 + 2 + 1, 3), 200);  // third 'A' right after it
    EXPECT_EQ(Alpha(t, 38, 12 + 3 + 2), 100);  // 'B' at the stop again, a = -2
    t.RemoveAllTabs();

    // A column whose text runs past the next stop does not draw the next
    // column over it: that stop is passed over for the one after, and past
    // the last stop the next column keeps a gap (a third of the line, the
    // font having no space).
    t.AddTab(24);
    t.AddTab(44);
    ASSERT_TRUE(t.SetText("AAA\tA"));  // each 'A' moves the pen 6: it ends at 38
    EXPECT_EQ(Alpha(t, 45, 3), 200);
    EXPECT_EQ(Alpha(t, 25, 3), 0);
    t.RemoveAllTabs();
    t.AddTab(24);
    ASSERT_TRUE(t.SetText("AAA\tA"));
    short asc = 0, desc = 0;
    font.GetMaxAB(asc, desc);
    const int gap = std::max(1, (asc + desc) / 3);
    EXPECT_EQ(Alpha(t, 20 + 3 * 6 + gap + 1, 3), 200);
    EXPECT_EQ(Alpha(t, 20 + 3 * 6 + gap, 3), 0);
    t.RemoveAllTabs();
    EXPECT_EQ(t.GetTabsCount(), 0u);

    // A hanging glyph at a line start is pushed right of the origin.
    ASSERT_TRUE(t.SetText("B"));
    EXPECT_EQ(Alpha(t, 20, 5), 100);
    EXPECT_EQ(Alpha(t, 19, 5), 0);
}

// The ink a fixed layer reports is the ink it draws: a layer exactly that
// big holds the text, one a pixel narrower or shorter clips it.
TEST(RasterFont, TextLayerKnowsWhenItClipsItsText)
{
    FontStore fs;
    CQNF_Font font;
    ASSERT_TRUE(font.Open(&fs.storage, fs.Put("Two", TwoGlyphs())));
    struct Case {
        const char* text;
        unsigned short lineStep;
        long x, y;
        int tab;  // 0: none
    } cases[] = {
        {"A", 12, 0, 0, 0},    {"AB", 12, 3, 2, 0},   {"A\nBA", 7, 1, 0, 0},
        {"B\tA", 12, 0, 0, 30}, {"A\n\nA", 15, 2, 4, 0},
    };
    const auto laid = [&](const Case& c, unsigned short w, unsigned short h, CQNF_TextLayer& t) {
        EXPECT_TRUE(t.Create(0, 0, 1, w, h));
        t.SetFont(&font);
        if (c.tab)
            t.AddTab(uint16_t(c.tab));
        EXPECT_TRUE(t.SetText(c.text, qntRGBA8{1, 1, 1, 0}, c.lineStep, c.x, c.y));
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        CQNF_TextLayer big;
        laid(c, 100, 100, big);
        qntRECT_s drawn{100, 100, -1, -1};
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                if (Alpha(big, x, y))
                    drawn = {std::min(drawn.left, x), std::min(drawn.top, y), std::max(drawn.right, x + 1),
                             std::max(drawn.bottom, y + 1)};
        const qntRECT_s ink = big.GetInkRect();
        EXPECT_EQ(std::vector<int>({ink.left, ink.top, ink.right, ink.bottom}),
                  std::vector<int>({drawn.left, drawn.top, drawn.right, drawn.bottom}));
        EXPECT_TRUE(big.TextFits());
        const auto w = uint16_t(ink.right), h = uint16_t(ink.bottom);
        CQNF_TextLayer exact, narrow, shorter;
        laid(c, w, h, exact);
        laid(c, uint16_t(w - 1), h, narrow);
        laid(c, w, uint16_t(h - 1), shorter);
        EXPECT_TRUE(exact.TextFits());
        EXPECT_FALSE(narrow.TextFits());
        EXPECT_FALSE(shorter.TextFits());
    }
}

TEST(RasterFont, TextLayerColourAndCoverage)
{
    FontStore fs;
    CQNF_Font font;
    // Two overlapping glyphs: 'a' full at its left half, 'b' moved back over it.
    const auto rec = Record('a', 'b', {{0, -4, -2, 4, 2, 0, {90, 90, 0, 0, 90, 90, 0, 0}},
                                       {0, 0, -2, 4, 2, 0, {0, 30, 30, 30, 0, 30, 30, 30}}});
    ASSERT_TRUE(font.Open(&fs.storage, fs.Put("Over", rec)));
    CQNF_TextLayer t;
    ASSERT_TRUE(t.Create(0, 0, 1, 8, 4));
    t.SetFont(&font);
    ASSERT_TRUE(t.SetText("ab", qntRGBA8{7, 8, 9, 0}, 10, 0, 0));
    EXPECT_EQ(Alpha(t, 0, 0), 90);  // zero coverage leaves the earlier glyph
    EXPECT_EQ(Alpha(t, 1, 0), 30);  // non-zero coverage replaces it
    EXPECT_EQ(Alpha(t, 3, 1), 30);
    EXPECT_EQ(Alpha(t, 5, 3), 0);
    EXPECT_EQ(t.GetPixel(5, 3).g, 8);

    // Colour all zero: the colour planes stay as the caller painted them.
    t.Set(qntRGBA8{200, 150, 100, 0}, 0x07, qnNullRect);
    ASSERT_TRUE(t.SetColor(qntRGBA8{0, 0, 0, 0}));
    EXPECT_EQ(t.GetPixel(6, 2).r, 200);
    EXPECT_EQ(t.GetPixel(0, 0).b, 100);
    EXPECT_EQ(Alpha(t, 0, 0), 90);
    EXPECT_EQ(Alpha(t, 6, 2), 0);
    // Any other colour: everywhere, with alpha 0 outside the glyphs.
    ASSERT_TRUE(t.SetColor(qntRGBA8{0, 0, 0, 255}));
    EXPECT_EQ(t.GetPixel(6, 2).r, 0);
    EXPECT_EQ(t.GetPixel(6, 2).a, 0);
    // Empty text: the fill alone.
    ASSERT_TRUE(t.SetText(""));
    EXPECT_EQ(Alpha(t, 0, 0), 0);
}

TEST(RasterFont, BuilderMakesAFontFromDejaVu)
{
    const char* path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    ASSERT_TRUE(std::filesystem::exists(path)) << need::MissingLine(path, "fonts-dejavu-core");
    CQNF_FontBuilder builder;
    CQNF_Mem record;
    ASSERT_TRUE(builder.Build(path, 14, 0, 255, record)) << builder.GetErrorText();
    CQNF_Mem packed;
    ASSERT_TRUE(builder.Pack(record, packed));
    FontStore fs;
    ASSERT_TRUE(fs.storage.SetRecord("UIResources>Fonts>Sans14", packed.GetPtr(), packed.GetSize()));
    CQNF_Font font;
    ASSERT_TRUE(font.Open(&fs.storage, "UIResources>Fonts>Sans14"));
    EXPECT_EQ(font.GetFirstCharCode(), 0);
    EXPECT_EQ(font.GetLastCharCode(), 255);

    short A = 0, B = 0;
    font.GetMaxAB(A, B);
    EXPECT_GT(A, 9);
    EXPECT_LT(A, 20);
    EXPECT_GT(B, 0);
    EXPECT_EQ(font.GetFontHeight(), A + B + 1);
    short a, c, top;
    unsigned long w, h;
    const unsigned char* cov = font.GetChar('H', a, c, top, w, h);
    ASSERT_NE(cov, nullptr);
    EXPECT_GT(w, 5u);
    EXPECT_EQ(top + short(h), 0);  // sits on the baseline
    int full = 0;
    for (unsigned long i = 0; i < w * h; ++i)
        full += cov[i] == 255;
    EXPECT_GT(full, 10);  // the stems are solid
    ASSERT_NE(font.GetChar(' ', a, c, top, w, h), nullptr);
    EXPECT_EQ(w, 0u);
    EXPECT_GT(a + c, 2);
    ASSERT_NE(font.GetChar(10, a, c, top, w, h), nullptr);
    EXPECT_EQ(a + c + int(w), 0);
    ASSERT_NE(font.GetChar(0xE9, a, c, top, w, h), nullptr);  // e acute
    EXPECT_GT(w, 0u);
    unsigned long tw = 0, th = 0;
    font.GetTextSize("Hello, world", 16, tw, th);
    EXPECT_GT(tw, 60u);
    EXPECT_LT(tw, 120u);

    EXPECT_FALSE(builder.Build("/nonexistent/font.ttf", 14, 32, 126, record));
    EXPECT_EQ(builder.GetError(), qnerr::FontSource);
    EXPECT_EQ(record.GetSize(), 0u);
    EXPECT_FALSE(builder.Build(path, 2, 32, 126, record));
    EXPECT_EQ(builder.GetError(), qnerr::BadArgument);
}
