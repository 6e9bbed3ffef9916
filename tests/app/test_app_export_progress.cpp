// A pieces export reporting to the main window's status line and to the
// host, on a real cut: every percentage once and in order, and a stop from
// either side (the host's "no", Esc in the window) ends it with no file.
#include "app/PiecesExport.h"
#include "app/Wnd_Export.h"
#include "host/WindowProgress.h"
#include "test_app_export_fixture.h"

#include <gtest/gtest.h>

namespace {

using namespace export_test;

// The status line of a main window: what it was told, and Esc pressed once
// it has been pumped escAfter times (never when negative).
struct StatusLine : CMainProgressTarget {
    std::vector<uint8_t> shown;
    std::vector<std::string> texts;
    int pumps = 0;
    int escAfter = -1;
    void UpdateStatusProgress(const char* text, uint8_t percent) override
    {
        texts.emplace_back(text);
        shown.push_back(percent);
    }
    void ProcessPendingEvents() override { ++pumps; }
    bool StopRequested() override { return escAfter >= 0 && pumps > escAfter; }
};

// A host that says no from a percentage on (never when above 100).
struct RefusingHost : CDialogHost {
    std::vector<uint8_t> told;
    unsigned refuseFrom = 101;
    bool Progress(uint8_t p) override
    {
        told.push_back(p);
        return p < refuseFrom;
    }
};

TEST(ExportProgress, StatusLineFollowsTheExportAndEitherSideStopsIt)
{
    Cut cut(96, 72, 3, 2);
    enum class Stop { None, Host, Esc };
    struct Case {
        const char* what;
        uint8_t to;
        Stop stop;
    } cases[] = {
        {"PSD to the end", CExportSettings::kToPSD, Stop::None},
        {"PNG series to the end", CExportSettings::kToPNG, Stop::None},
        {"PSD, the host says no", CExportSettings::kToPSD, Stop::Host},
        {"PNG series, the host says no", CExportSettings::kToPNG, Stop::Host},
        {"PSD, Esc", CExportSettings::kToPSD, Stop::Esc},
        {"PNG series, Esc half way", CExportSettings::kToPNG, Stop::Esc},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        StatusLine line;
        RefusingHost host;
        if (c.stop == Stop::Host)
            host.refuseFrom = 45;  // while the files are written
        if (c.stop == Stop::Esc)
            line.escAfter = 2;
        CExportProgress progress(host, &line);
        CPiecesExport x(cut.Engine());
        x.SetProgress(&progress);
        CPiecesExport::REQUEST r;
        r.settings.exportWhat = CExportSettings::kAll;
        r.settings.exportTo = c.to;
        r.path = dir / (c.to == CExportSettings::kToPSD ? "out.psd" : "out");
        r.width = cut.picture.w;
        r.height = cut.picture.h;
        CPiecesExport::RESULT res;
        const bool ok = x.Export(r, res);

        EXPECT_EQ(ok, c.stop == Stop::None) << x.Detail();
        EXPECT_EQ(line.shown, host.told) << "the line and the host hear the same";
        ASSERT_FALSE(line.shown.empty());
        for (size_t i = 1; i < line.shown.size(); ++i)
            EXPECT_LT(line.shown[i - 1], line.shown[i]) << "each percentage once, forward";
        for (const std::string& t : line.texts)
            EXPECT_EQ(t, CExportProgress::kText);
        EXPECT_GT(line.pumps, 0) << "the windows repaint while it runs";
        if (ok) {
            EXPECT_EQ(line.shown.back(), 100);
            EXPECT_EQ(res.files.size(), c.to == CExportSettings::kToPSD ? 1u : cut.Engine().m_nPieces);
        } else {
            EXPECT_TRUE(progress.GetCancelState());
            EXPECT_TRUE(dir.Names().empty()) << "a stopped export leaves nothing";
            EXPECT_EQ(x.MessageTitle(), "Export");
        }
    }
}

}  // namespace
