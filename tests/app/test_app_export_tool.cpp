// tessolo-tool export: a 20 x 15 layout document cuts a picture into 300
// pieces, exported to a PSD that psd-tools opens with 300 layers and to 300
// PNG files; the knives to EPS; bad command lines get one line and a failure.
#include "imaging/ImageFile.h"
#include "test_app_export_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace export_test;

const std::string kTool = std::string(TESSOLO_BINARY_DIR) + "/tools/tessolo-tool";

struct ToolRun {
    int code = -1;
    std::string out, err;
};

ToolRun Tool(const TempDir& dir, const std::string& args)
{
    ToolRun r;
    const std::string err = dir / "stderr.txt";
    r.out = Capture("cd " + dir.path.string() + " && " + kTool + " " + args + " 2>" + err + "; echo \"#$?\"");
    const size_t mark = r.out.rfind('#');
    if (mark != std::string::npos) {
        r.code = std::atoi(r.out.c_str() + mark + 1);
        r.out.resize(mark);
    }
    r.err = Capture("cat " + err);
    std::remove(err.c_str());
    return r;
}

class ExportTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(kTool)) << kTool << " was not built";
    }
    TempDir dir;
};

TEST_F(ExportTool, HelpAndBadCommandLines)
{
    const ToolRun help = Tool(dir, "export --help");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("usage: tessolo-tool export pieces"), std::string::npos);
    for (const char* bad : {"export", "export pieces", "export pieces --to tiff a b c", "export knives a.qntd b.eps",
                            "export pieces missing.qntd missing.png out.psd", "export sideways"}) {
        const ToolRun r = Tool(dir, bad);
        EXPECT_NE(r.code, 0) << bad;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << bad << ": " << r.err;
    }
}

TEST_F(ExportTool, TwentyByFifteenPuzzleToPsdPngAndEps)
{
    const Picture pic(240, 180);
    const unsigned char* planes[4] = {pic.planes[0].data(), pic.planes[1].data(), pic.planes[2].data(), nullptr};
    unsigned short error = 0;
    ASSERT_TRUE(qnCodecSavePNG((dir / "photo.png").c_str(), pic.w, pic.h, qncodec::ModeColour, planes, nullptr,
                               pic.w, 72.0, "test", error, false));
    ASSERT_EQ(Tool(dir, "layout new --grid 20x15 --pieces puzzle.qntd").code, 0);

    const ToolRun psd = Tool(dir, "export pieces puzzle.qntd photo.png puzzle.psd");
    ASSERT_EQ(psd.code, 0) << psd.err;
    EXPECT_NE(psd.out.find("300 layers from 300 pieces"), std::string::npos) << psd.out;
    NEED_PYTHON_MODULE("psd_tools", "python3-psd-tools");
    {
        const std::string python = PsdToolsPython();
        const std::string n = Capture(python + " -c \"from psd_tools import PSDImage; p = PSDImage.open('" +
                                      (dir / "puzzle.psd") + "'); print(len(p), p[0].name)\"");
        EXPECT_EQ(n, "300 L1 - Piece: 0 (R: 1 / C: 1)\n");
    }

    const ToolRun png = Tool(dir, "export pieces --pieces-alone --names simple puzzle.qntd photo.png series.png");
    ASSERT_EQ(png.code, 0) << png.err;
    size_t files = 0;
    for (const std::string& name : dir.Names())
        files += name.rfind("series_", 0) == 0 && name.size() == 15;
    EXPECT_EQ(files, 300u);
    CQNF_ImageFile first;
    EXPECT_TRUE(first.Load(dir / "series_0001.png", CQNF_ImageFile::KindPNG)) << first.Reason();

    const ToolRun eps = Tool(dir, "export knives --picture photo.png puzzle.qntd knives.eps");
    ASSERT_EQ(eps.code, 0) << eps.err;
    EXPECT_NE(eps.out.find("knives.eps: "), std::string::npos);
    EXPECT_TRUE(fs::file_size(dir / "knives.eps") > 1000);
}

}  // namespace

// Under a hidden piece the merged picture is transparent and keeps the
// picture's own colours, as Apply and the window's export leave them: never
// black or what the canvas's memory held.
TEST_F(ExportTool, TheMergedPictureKeepsThePicturesColoursUnderAHiddenPiece)
{
    const Picture pic(60, 40);
    const unsigned char* planes[4] = {pic.planes[0].data(), pic.planes[1].data(), pic.planes[2].data(), nullptr};
    unsigned short error = 0;
    ASSERT_TRUE(qnCodecSavePNG((dir / "photo.png").c_str(), pic.w, pic.h, qncodec::ModeColour, planes, nullptr,
                               pic.w, 72.0, "test", error, false));
    app_test::Model m;
    ASSERT_TRUE(m.spl_SplitEvenParts(3, 2, kForce, kResetExtras));
    m.m_bCutMode = 0;
    ASSERT_TRUE(m.m_PieceRecords.Zalloc(6 * CTessolo::kSettingsRecordSize));
    for (uint8_t row = 0; row < 2; ++row)
        for (uint8_t column = 0; column < 3; ++column) {
            CTessolo::SFX_ONEPIECE r{};
            r.shown = row == 1 && column == 1 ? 0 : 1;
            r.row = row;
            r.column = column;
            r.StoreLE(m.m_PieceRecords.GetPtr() + (row * 3 + column) * CTessolo::kSettingsRecordSize);
        }
    m.m_nPieceRecords = 6;
    std::string message;
    ASSERT_TRUE(m.settings_SaveDocument((dir / "hidden.qntd").c_str(), message)) << message;

    const ToolRun run = Tool(dir, "export pieces --to png --what merged hidden.qntd photo.png merged.png");
    ASSERT_EQ(run.code, 0) << run.err;
    CQNF_ImageFile merged;
    ASSERT_TRUE(merged.Load(dir / "merged.png", CQNF_ImageFile::KindPNG)) << merged.Reason();
    ASSERT_TRUE(merged.HasAlpha());
    size_t clear = 0, wrong = 0;
    for (size_t i = 0; i < size_t(pic.w) * pic.h; ++i) {
        if (merged.GetPlane(-1)[i] != 0)
            continue;
        ++clear;
        for (signed char k = 0; k < 3; ++k)
            wrong += merged.GetPlane(k)[i] != pic.planes[size_t(k)][i];
    }
    EXPECT_GT(clear, size_t(pic.w) * pic.h / 10) << "the hidden piece left no transparent area";
    EXPECT_EQ(wrong, 0u);
}
