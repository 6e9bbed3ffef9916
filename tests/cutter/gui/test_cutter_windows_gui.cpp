// The presets manager on a real X display (run under Xvfb) with real input
// from xdotool: a double click on an icon takes its shape. The window's rules
// in detail are tested headless.
#include "cutter/Wnd_PresetsManager.h"
#include "platform/Backend.h"
#include "ui/App.h"
#include "ui/Toolkit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace {

// "ckss.data" in memory.
class MemStore : public CQNF_PresetsFile {
public:
    std::vector<uint8_t> bytes;
    ReadResult Read(std::vector<uint8_t>& out) override
    {
        out = bytes;
        return ReadResult::Ok;
    }
    bool Write(const void* data, size_t size) override
    {
        bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        return true;
    }
};

bool PumpUntil(const std::function<bool()>& done, uint32_t ms = 4000)
{
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    const uint32_t start = tk.P()->NowMs();
    while (!done()) {
        if (tk.P()->NowMs() - start > ms)
            return false;
        tk.PumpFor(20);
    }
    return true;
}

TEST(PresetsManagerGui, DoubleClickOnAnIconTakesItsShape)
{
    std::string error;
    std::unique_ptr<plat::Platform> platform = plat::OpenGtk(error);
    ASSERT_TRUE(platform) << error;
    qnui::Toolkit::Get().Attach(platform.get());
    {
        CQNF_App app;
        m_App = &app;
        ASSERT_TRUE(app.InitStorgaeResource((std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4").c_str(), 0));
        MemStore store;
        std::vector<CWnd_PresetsManagerModel::SHAPESETREC> recs;
        for (int i = 0; i < 3; ++i) {
            CWnd_CutterModel::SPLINE_STRUCT s{};
            CWnd_CutterModel::SetDefaultKnife(&s);
            s.nodeCount = uint8_t(3 + i);
            recs.push_back(CWnd_PresetsManagerModel::MakeRecord(("Shape " + std::to_string(i)).c_str(), s));
        }
        store.Write(recs.data(), recs.size() * sizeof(recs[0]));
        CDialogHost host;
        int received = -1;
        CWnd_PresetsManager w(host, store, [&](const CWnd_CutterModel::SPLINE_STRUCT& s) { received = s.nodeCount; });
        ASSERT_TRUE(w.CreateFromResource("PresMng", 60, 40, nullptr, 0)) << w.GetError();
        w.RenderRect(qnNullRect);
        w.SetFocus();
        qnui::Toolkit::Get().PumpFor(400);
        const qntRECT_s win = w.GetWindowRect();
        const qntRECT_s icon = w.IconRect(2);
        const std::string at = std::to_string(win.left + (icon.left + icon.right) / 2) + " " +
                               std::to_string(win.top + (icon.top + icon.bottom) / 2);
        ASSERT_EQ(std::system(("xdotool mousemove " + at + " click --repeat 2 --delay 80 1").c_str()), 0);
        EXPECT_TRUE(PumpUntil([&] { return received >= 0; })) << "no shape came";
        EXPECT_EQ(received, 5) << "the third preset holds 5 nodes";
        EXPECT_TRUE(w.IsSelected(2));
        w.Close();
        qnui::Toolkit::Get().PumpFor(100);
        m_App = nullptr;
    }
    qnui::Toolkit::Get().Attach(nullptr);
}

}  // namespace
