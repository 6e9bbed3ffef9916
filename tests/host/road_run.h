// The interactive road with a headless backend, the plug-in in the stand-in
// host: what the window tests of the road share.
#pragma once

#include "host_test_support.h"
#include "window_snapshot.h"

#include "app/App.h"
#include "app/InteractiveRoad.h"
#include "cutter/Wnd_Cutter.h"
#include "platform/Headless.h"
#include "ui/Control.h"

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace hosttest {

inline const std::string kResourceFile = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";

// The road with a headless backend, the plug-in in the stand-in host.
struct RoadRun {
    PluginHarness h;
    plat::HeadlessPlatform hp;
    CAppRoad road;
    CApp* app = nullptr;
    bool ran = false;

    explicit RoadRun(bool resources = true)
    {
        if (resources)
            std::filesystem::copy_file(kResourceFile, h.File(CAppRoad::kResourceFile));
        road.SetPlatform(&hp);
        road.onBeforeRun = [this](CApp& a) {
            app = &a;
            ran = true;
        };
        h.plugin->SetInteractiveRoad(&road);
    }
    ~RoadRun() { h.plugin->SetInteractiveRoad(nullptr); }

    // Scripted: the start window comes to the front, then a click on a
    // control of the main window.
    void ClickMain(const char* name, uint8_t type)
    {
        hp.Script([this] { hp.Activate(app->m_MainWindow->GetWindowHandle()); });
        hp.Script([this, name, type] {
            CWnd_Main& w = app->m_WndMain;
            CQNF_Control* c = w.FindControl(name, type);
            ASSERT_NE(c, nullptr) << name;
            ASSERT_TRUE(c->IsEnabled()) << name;
            const plat::Rect wr = hp.ContentRect(w.GetWindowHandle());
            const qntRECT_s r = c->GetRenderRect();
            hp.Click({wr.left + (r.left + r.right) / 2, wr.top + (r.top + r.bottom) / 2});
        });
    }
    void Snapshot(const char* file)
    {
        const std::vector<plat::WinId> z = hp.ZOrder();
        ASSERT_FALSE(z.empty());
        SaveWindowSnapshot(hp, z.back(), file);
    }
};

// The knife editor's rows and columns sliders let go at these values.
inline void SetEditorGrid(CWnd_Cutter& e, uint32_t rows, uint32_t columns)
{
    for (auto [name, v] : {std::pair{"Cutter_Rows", rows}, std::pair{"Cutter_Columns", columns}}) {
        uint32_t value = v;
        e.OnCtrlMessage(qnmsg::ValueChanged, e.FindControlByName(name, qnctl::Slider), const_cast<char*>(name),
                        qnctl::Slider, &value);
    }
}

inline bool HasResources()
{
    return std::filesystem::exists(kResourceFile);
}

}  // namespace hosttest
