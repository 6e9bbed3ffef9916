// Runs the plug-in object in-process inside the stand-in host: a fresh
// CPluginMain per test with its own data folder, reached through an entry
// function like the library's.
#pragma once

#include "host/PluginEntry.h"
#include "host/PluginMain.h"
#include "hostapp/HostDocument.h"
#include "hostapp/StandInHost.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace hosttest {

using hostapp::ColorMode;
using hostapp::HostDocument;
using hostapp::HostSettings;
using hostapp::RasterImage;
using hostapp::StandInHost;

class PluginHarness {
public:
    PluginHarness()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessolo_host_XXXXXX").string();
        const char* made = mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        folder.path = pattern;
        Current() = this;
    }
    ~PluginHarness()
    {
        if (Current() == this)
            Current() = nullptr;
        std::error_code ec;
        std::filesystem::remove_all(folder.path, ec);
    }

    static PluginHarness*& Current()
    {
        static PluginHarness* current = nullptr;
        return current;
    }

    static void Entry(int16_t selector, FilterRecord* record, intptr_t* data, int16_t* result)
    {
        PluginHarness* h = Current();
        qnPluginDispatch(*h->plugin, h->folder, selector, record, data, result);
    }

    int16_t Run(StandInHost& host, StandInHost::Sequence sequence = StandInHost::Sequence::Replay)
    {
        Current() = this;
        return host.Run(&Entry, sequence);
    }
    int16_t Call(StandInHost& host, int16_t selector)
    {
        Current() = this;
        return host.Call(&Entry, selector);
    }

    std::string File(const char* name) const { return folder.path + "/" + name; }

    std::unique_ptr<CPluginMain> plugin = std::make_unique<CPluginMain>();
    FSRef folder;
};

// Runs body inside Start, with the document picture filled, through the
// interactive road's seam (Parameters first). With result set, Start ends
// with that code after body; otherwise body leaves its own.
inline int16_t InStart(PluginHarness& h, StandInHost& host, std::function<void(CPluginMain&)> body,
                       std::optional<int16_t> result = std::nullopt)
{
    struct Road : CInteractiveRoad {
        std::function<void(CPluginMain&)> body;
        std::optional<int16_t> result;
        void RunAbout(CPluginMain&) override {}
        void RunStart(CPluginMain& p) override
        {
            body(p);
            if (result)
                p.HostSetRetCode(*result);
        }
    } road;
    road.body = std::move(body);
    road.result = result;
    h.plugin->SetInteractiveRoad(&road);
    const int16_t r = h.Run(host, StandInHost::Sequence::Dialog);
    h.plugin->SetInteractiveRoad(nullptr);
    return r;
}

// A picture with some structure: every plane a different ramp.
inline RasterImage Picture(ColorMode mode, int w, int h, bool alpha)
{
    RasterImage img;
    img.Allocate(mode, w, h, alpha);
    const int colours = hostapp::ColorPlanes(mode);
    for (int p = 0; p < colours; ++p)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.planes[static_cast<size_t>(p)][static_cast<size_t>(y) * w + x] =
                    static_cast<uint8_t>(40 + (x * 3 + y * 5 + p * 60) % 180);
    if (alpha)
        for (auto& v : img.planes.back())
            v = 255;
    return img;
}

inline HostDocument Document(ColorMode mode, int w, int h, bool alpha)
{
    return HostDocument::FromImage(Picture(mode, w, h, alpha), "Layer 1");
}

}  // namespace hosttest
