// A headless window built from a skin made in the test, with controls added
// by name, every control message recorded, and the pointer driven through
// the headless backend's fake clock and injected input.
#pragma once

#include "ctrl_skin_store.h"
#include "platform/Headless.h"
#include "ui/App.h"
#include "ui/Control.h"
#include "ui/Toolkit.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ctrltest {

struct Message {
    unsigned short msg;
    unsigned long id;
    unsigned char type;
    bool hasData;
    uint32_t value;  // u32 for 256/261, the first byte otherwise
    uint32_t timeMs;
};

class RecordingWindow : public CQNF_Window {
public:
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char*, unsigned char type, void* data) override
    {
        uint32_t value = 0;
        if (data) {
            value = (msg == 256 || msg == 261) ? *static_cast<uint32_t*>(data) : *static_cast<uint8_t*>(data);
        }
        const uint32_t now = qnui::Toolkit::Get().P() ? qnui::Toolkit::Get().P()->NowMs() : 0;
        messages.push_back({msg, id, type, data != nullptr, value, now});
        return 1;
    }
    void OnCtrlFocused(unsigned long index) override
    {
        ++focusCalls;
        CQNF_Window::OnCtrlFocused(index);
    }
    std::vector<Message> messages;
    int focusCalls = 0;
};

inline constexpr qntRGBA8 kGrey{128, 128, 128, 255};

class ControlWindowTest : public ::testing::Test {
protected:
    static constexpr int32_t kWinX = 100, kWinY = 80;

    void SetUp() override
    {
        qnui::Toolkit::Get().Attach(&hp);
        skin.Folder("UIResources>Windows>Test");
        skin.Image("UIResources>Windows>Test>Background", {0, 0, 240, 160}, kGrey);
        for (const char* f : {"Buttons", "Check Boxes", "Radio Buttons", "Sliders", "Scroll Bars", "Static Images",
                              "Static Texts", "Progresses", "Fonts"}) {
            skin.Folder(std::string("UIResources>") + f);
        }
    }
    void TearDown() override
    {
        if (started) {
            window.Close();
            qnui::Toolkit::Get().PumpPending();
        }
        m_App = nullptr;
        qnui::Toolkit::Get().Attach(nullptr);
    }
    // Opens the finished skin as the application's storage and makes the window.
    void Start()
    {
        skin.Finish();
        ASSERT_TRUE(app.InitStorgaeResource(skin.Path().c_str(), 0));
        m_App = &app;
        ASSERT_TRUE(window.CreateFromResource("Test", kWinX, kWinY, nullptr, 0));
        window.Show();
        started = true;
        qnui::Toolkit::Get().PumpPending();
    }
    template <typename T>
    T* Add(const char* name, uint8_t type)
    {
        const unsigned long id = window.AddControl(name, type);
        EXPECT_NE(id, CQNF_Window::None) << name << " error " << window.GetError();
        return id == CQNF_Window::None ? nullptr : static_cast<T*>(window.GetControl(id));
    }
    // Pointer actions at window-local points, each followed by the events' delivery.
    void MoveTo(int x, int y)
    {
        hp.MoveMouse({kWinX + x, kWinY + y});
        Pump();
    }
    void Press(int x, int y, uint8_t mods = 0)
    {
        MoveTo(x, y);
        hp.Press(1, mods);
        Pump();
    }
    void Release(uint8_t mods = 0)
    {
        hp.Release(1, mods);
        Pump();
    }
    void Click(int x, int y, uint8_t mods = 0)
    {
        Press(x, y, mods);
        Release(mods);
    }
    void Pump(uint32_t ms = 0) { qnui::Toolkit::Get().PumpFor(ms); }
    // Takes the recorded messages of one number.
    std::vector<Message> Take(unsigned short msg)
    {
        std::vector<Message> out;
        std::vector<Message> rest;
        for (const Message& m : window.messages) {
            (m.msg == msg ? out : rest).push_back(m);
        }
        window.messages = rest;
        return out;
    }
    uint32_t Pixel(int x, int y) const { return hp.Pixel(window.GetWindowHandle(), x, y); }

    plat::HeadlessPlatform hp;
    SkinStore skin;
    CQNF_App app;
    RecordingWindow window;
    bool started = false;
};

inline uint32_t Xrgb(qntRGBA8 c) { return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b; }

// An opaque hot zone over the whole rectangle.
inline void HotZone(SkinStore& skin, const std::string& key, qntRECT_s r)
{
    skin.Image(key, r, qntRGBA8{255, 0, 0, 255});
}

}  // namespace ctrltest
