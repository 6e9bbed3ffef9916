// The knives export: the knives chosen, traced as the cut map draws them, and
// EPS and AI files that Ghostscript, an independent reader, renders with the
// lines where the knives are.
#include "app/KnivesExport.h"
#include "test_app_export_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

using namespace export_test;

// A grid of straight knives, 3 x 2 cells over 240 x 120 pixels, 4 pixels
// thick: column knives at x = 80 and 160, the row knife at y = 60.
struct Straight : app_test::Model {
    Straight() : app_test::Model(240, 120)
    {
        cutter.shape.nodeCount = 0;
        cutter.thickness = 4;
        EXPECT_TRUE(spl_SplitEvenParts(3, 2, 1, 1));
        spl_DoReFillKnivesFromCutter(0, 0.0f, 0.0f, 0.0f, 0);
        m_bRazorCut = 0;
        i_ForEachKnife([](KNIFESTRUCT& k, uint32_t) { k.thickness = 4; });
    }
};

// A grey picture rendered by Ghostscript at 72 dots per inch.
struct Rendered {
    uint32_t w = 0, h = 0;
    std::vector<uint8_t> px;
    uint8_t at(uint32_t x, uint32_t y) const { return px[size_t(y) * w + x]; }
};

bool Render(const std::string& file, bool eps, Rendered& out)
{
    const std::string pgm = file + ".pgm";
    const std::string cmd = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pgmraw -r72 " +
                            std::string(eps ? "-dEPSCrop " : "") + "-sOutputFile=" + pgm + " " + file +
                            " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0)
        return false;
    std::ifstream in(pgm, std::ios::binary);
    // The header's fields, skipping the comment lines Ghostscript adds.
    auto field = [&in]() {
        std::string f;
        while (in >> f && f[0] == '#')
            in.ignore(1 << 20, '\n');
        return f;
    };
    const std::string magic = field();
    out.w = uint32_t(std::atoi(field().c_str()));
    out.h = uint32_t(std::atoi(field().c_str()));
    const int max = std::atoi(field().c_str());
    in.get();
    out.px.assign(std::istreambuf_iterator<char>(in), {});
    return magic == "P5" && max == 255 && out.px.size() == size_t(out.w) * out.h;
}

TEST(KnivesExport, PathsFollowTheChoiceAndLeaveSwitchedOffKnivesOut)
{
    Straight m;
    const uint32_t total = m.GetKnifeCount();
    m.m_ColKnives[0].selected = 1;
    m.m_ColKnives[1].off = 1;
    m.m_RowKnives[0].selected = 1;
    m.m_RowKnives[0].off = 1;
    std::vector<CKnivesExport::PATH> paths;
    ASSERT_TRUE(CKnivesExport::CollectPaths(m, CExportLMSettings::kSelected, 240, 120, paths));
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0].knifeId, 0u);
    EXPECT_NEAR(paths[0].points.front().x, 80.0, 1e-4);
    EXPECT_NEAR(paths[0].points.front().y, 0.0, 1e-4);
    EXPECT_NEAR(paths[0].points.back().y, 60.0, 1e-4);
    EXPECT_DOUBLE_EQ(paths[0].width, 4.0);
    ASSERT_TRUE(CKnivesExport::CollectPaths(m, CExportLMSettings::kAll, 240, 120, paths));
    EXPECT_EQ(paths.size(), total - 2);
    // The count is the dialog's.
    EXPECT_EQ(paths.size(), CExportLMDialogModel(CExportLMStats::FromModel(m), CExportLMSettings{3, 1}).Result());

    // Shaped knives are traced by the same spline the cut map draws.
    app_test::Model shaped(240, 120);
    ASSERT_TRUE(shaped.spl_SplitEvenParts(2, 1, 1, 1));
    shaped.spl_DoReFillKnivesFromCutter(0, 0.0f, 0.0f, 0.0f, 0);
    ASSERT_TRUE(CKnivesExport::CollectPaths(shaped, CExportLMSettings::kAll, 240, 120, paths));
    ASSERT_EQ(paths.size(), 1u);
    double farthest = 0.0;
    for (const qntFPOS& p : paths[0].points)
        farthest = std::max(farthest, std::abs(p.x - 120.0));
    EXPECT_GT(farthest, 120.0 * 0.2) << "the knob leaves the straight line";
    EXPECT_DOUBLE_EQ(paths[0].width, 1.0) << "a razor cut is a hairline";
}

TEST(KnivesExport, GhostscriptRendersTheKnivesOfEpsAndAiFiles)
{
    NEED_PROGRAM("gs", "ghostscript");
    struct Case {
        const char* name;
        uint8_t to;
        const char* magic;
    } cases[] = {{"knives.eps", CExportLMSettings::kToEPS, "%!PS-Adobe-3.0 EPSF-3.0"},
                 {"knives.ai", CExportLMSettings::kToAI, "%PDF-"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Straight m;
        m.m_ColKnives[1].off = 1;  // the knife at x = 160, upper row
        const std::string path = dir / c.name;
        uint32_t written = 0;
        std::string message, detail;
        ASSERT_TRUE(CKnivesExport::ExportLM(m, CExportLMSettings{CExportLMSettings::kAll, c.to}, path, 240, 120,
                                            72.0, written, message, detail))
            << detail;
        EXPECT_EQ(written, m.GetKnifeCount() - 1);
        EXPECT_EQ(dir.Names(), std::set<std::string>{c.name});
        std::ifstream in(path, std::ios::binary);
        std::string head(std::strlen(c.magic), '\0');
        in.read(head.data(), std::streamsize(head.size()));
        EXPECT_EQ(head, c.magic);

        Rendered r;
        ASSERT_TRUE(Render(path, c.to == CExportLMSettings::kToEPS, r));
        ASSERT_EQ(r.w, 240u);
        ASSERT_EQ(r.h, 120u);
        EXPECT_LT(r.at(80, 30), 128) << "column knife, upper row";
        EXPECT_LT(r.at(160, 90), 128) << "column knife, lower row";
        EXPECT_LT(r.at(40, 60), 128) << "row knife";
        EXPECT_EQ(r.at(160, 30), 255) << "switched off: no cut";
        EXPECT_EQ(r.at(40, 30), 255) << "inside a cell";
    }
}

TEST(KnivesExport, NothingToExportOrNowhereToWriteIsSaid)
{
    TempDir dir;
    Straight m;
    m.i_ForEachKnife([](CWnd_MainModel::KNIFESTRUCT& k, uint32_t) { k.off = 1; });
    uint32_t written = 7;
    std::string message, detail;
    EXPECT_FALSE(CKnivesExport::ExportLM(m, CExportLMSettings{3, 1}, dir / "none.eps", 240, 120, 72.0, written,
                                         message, detail));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(message.empty());
    Straight on;
    EXPECT_FALSE(CKnivesExport::ExportLM(on, CExportLMSettings{3, 1}, dir / "no/such/folder.eps", 240, 120, 72.0,
                                         written, message, detail));
    EXPECT_EQ(message, "Cannot write file...");
    EXPECT_TRUE(dir.Names().empty());
}

}  // namespace
