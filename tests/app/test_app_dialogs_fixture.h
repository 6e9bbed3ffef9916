// Shared pieces of the dialog window tests: the headless platform with the
// compiled resource file, a dialog host that records what the dialogs asked
// of it, and helpers that find a control on screen and drive a modal loop.
#pragma once

#include "app/Wnd_PrefHost.h"
#include "core/Storage.h"
#include "imaging/ImageFile.h"
#include "platform/Headless.h"
#include "ui/App.h"
#include "ui/Control.h"
#include "ui/Toolkit.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace dialog_test {

namespace fs = std::filesystem;

inline const std::string kResourceFile = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";

struct TempDir {
    fs::path path;
    TempDir()
    {
        std::string t = (fs::temp_directory_path() / "tessolo-dialogs-XXXXXX").string();
        path = ::mkdtemp(t.data()) ? fs::path(t) : fs::path();
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        for (const auto& e : fs::recursive_directory_iterator(path, ec))
            fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::vector<std::string> Files(const std::string& sub = "") const
    {
        std::vector<std::string> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(path / sub, ec))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

// Records the services the dialogs use.
class TestHost : public CDialogHost {
public:
    CQNF_Storage* conf = nullptr;
    std::map<std::string, qntPOS> positions;
    std::vector<std::string> positionsRead;
    std::vector<std::string> tipsAsked;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    bool answerOk = true;
    bool pickColour = true;
    qntRGBA8 picked{10, 20, 30, 255};
    std::vector<uint8_t> progress;

    CQNF_Storage* Conf() override { return conf; }
    qntPOS WindowPos(const char* name, const char* owner) override
    {
        positionsRead.push_back(std::string(name) + "|" + owner);
        auto it = positions.find(std::string(name) + "|" + owner);
        return it == positions.end() ? qntPOS{-32000, -32000} : it->second;
    }
    void PutWindowPos(const char* name, const char* owner, qntPOS pos) override
    {
        positions[std::string(name) + "|" + owner] = pos;
    }
    std::string StatusTip(const char* control, const char* window, uint8_t, uint8_t) override
    {
        tipsAsked.push_back(std::string(window) + ":" + control);
        return std::string("tip ") + control;
    }
    bool SelectColor(qntRGBA8& c) override
    {
        if (pickColour)
            c = picked;
        return pickColour;
    }
    bool AskOkCancel(CQNF_Window*, const char* title, const char*) override
    {
        questions.push_back(title);
        return answerOk;
    }
    void ShowMessage(CQNF_Window*, const char* title, const char* text) override
    {
        messages.push_back(std::string(title) + "|" + text);
    }
    bool Progress(uint8_t p) override
    {
        progress.push_back(p);
        return true;
    }
};

// The headless platform with the application object on the resource file.
class DialogEnv : public ::testing::Test {
protected:
    plat::HeadlessPlatform P;
    CQNF_App app;
    TestHost host;

    void SetUp() override
    {
        if (!fs::exists(kResourceFile))
            FAIL() << "no compiled resource file in this build";
        qnui::Toolkit::Get().Attach(&P);
        ASSERT_TRUE(app.InitStorgaeResource(kResourceFile.c_str(), 0));
        m_App = &app;
    }
    void TearDown() override
    {
        m_App = nullptr;
        qnui::Toolkit::Get().Attach(nullptr);
    }

    static CQNF_Control* Find(const CQNF_Window& w, const char* name, int type = -1)
    {
        for (unsigned long i = 0; i < w.GetControlCount(); ++i) {
            CQNF_Control* c = w.GetControl(i);
            if (c && std::strcmp(c->GetName(), name) == 0 && (type < 0 || c->GetType() == type))
                return c;
        }
        return nullptr;
    }
    // The screen point of a window point.
    static plat::Point Global(const CQNF_Window& w, int32_t x, int32_t y)
    {
        const qntRECT_s r = w.GetWindowRect();
        return {r.left + x, r.top + y};
    }
    static plat::Point Centre(const CQNF_Window& w, const qntRECT_s& r)
    {
        return Global(w, (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    // Where a control of a resource window lies on screen when the window is
    // opened centred: for dialogs a test cannot reach while they run.
    plat::Point ControlOnScreen(const char* window, const char* control, unsigned char type)
    {
        CQNF_Window probe;
        EXPECT_TRUE(probe.CreateFromResource(window, -32000, -32000, nullptr, 0));
        const unsigned long id = probe.AddControl(control, type);
        EXPECT_NE(id, CQNF_Window::None) << control;
        const plat::Point p = id == CQNF_Window::None ? plat::Point{0, 0}
                                                       : Centre(probe, probe.GetControl(id)->GetRenderRect());
        probe.Close();
        return p;
    }
    void Click(const CQNF_Window& w, const char* control, int type = -1)
    {
        CQNF_Control* c = Find(w, control, type);
        ASSERT_NE(c, nullptr) << control;
        P.Click(Centre(w, c->GetRenderRect()));
    }
    void Type(const std::string& text)
    {
        for (char ch : text)
            P.Key(0xFF, uint8_t(ch));
    }
    // A resource rectangle of a window opened centred, on screen.
    plat::Point RectOnScreen(const char* window, const char* rect)
    {
        CQNF_Window probe;
        EXPECT_TRUE(probe.CreateFromResource(window, -32000, -32000, nullptr, 0));
        qntRECT_s r{};
        EXPECT_TRUE(probe.GetResourceRect(rect, r)) << rect;
        const plat::Point p = Centre(probe, r);
        probe.Close();
        return p;
    }
    void Esc() { P.Key(53, 27); }
    // Runs what injected input queued, outside a modal loop.
    void Pump() { qnui::Toolkit::Get().PumpFor(0); }
    void Return() { P.Key(36, 13); }

    // Saves what the window composited, when TESSOLO_DIALOG_SNAPS names a
    // folder (for looking at the dialogs); checks it has pixels either way.
    void Snap(CQNF_Window& w, const char* name)
    {
        ASSERT_TRUE(w.RenderRect(qntRECT_s{0, 0, w.GetWidth(), w.GetHeight()}));
        CQNF_Image* canvas = w.GetLayerSet()->GetCanvas();
        ASSERT_TRUE(canvas && canvas->HasPixels());
        if (const char* dir = std::getenv("TESSOLO_DIALOG_SNAPS")) {
            unsigned short err = 0;
            EXPECT_TRUE(qnSaveImagePNG((std::string(dir) + "/" + name + ".png").c_str(), *canvas, "test", err));
        }
    }
};

}  // namespace dialog_test
