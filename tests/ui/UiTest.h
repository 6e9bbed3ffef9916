// Shared fixture of the toolkit tests: a headless backend attached to the
// toolkit, an application object as m_App, and resource files made on the
// spot.
#pragma once

#include "core/Storage.h"
#include "platform/Headless.h"
#include "ui/App.h"
#include "ui/Control.h"
#include "ui/Toolkit.h"
#include "ui/Window.h"
#include "ui/gallery/ResourceWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace uitest {

// A file name in the temporary folder that no other process running the
// same tests (another build, another checkout) uses at the same time.
inline std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "tessolo_" + std::to_string(::getpid()) + "_" + name;
}

inline qntRGBA8 Opaque(uint8_t r, uint8_t g, uint8_t b) { return {r, g, b, 255}; }

// Keeps external controls alive until the window base is gone (a base
// listed first is destroyed last).
struct ControlOwner {
    std::vector<std::unique_ptr<CQNF_Control>> owned;
};

// A window that records the handler calls it gets.
class RecWindow : public ControlOwner, public CQNF_Window {
public:
    // Adds an external control that lives as long as the window.
    template <class C>
    C* Own(C* c)
    {
        owned.emplace_back(c);
        EXPECT_NE(AddControl_External(c), CQNF_Window::None);
        return c;
    }

    std::vector<std::string> log;
    std::vector<std::pair<unsigned short, unsigned long>> messages;
    std::vector<unsigned short> ticks;
    std::function<void(unsigned short)> onTimer;
    unsigned char lDownAnswer = 0;
    unsigned char rDownAnswer = 0;
    unsigned char aboveAnswer = 1;

    void Note(const char* what, long a = 0, long b = 0)
    {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%s %ld %ld", what, a, b);
        log.emplace_back(buf);
    }
    size_t Count(const std::string& prefix) const
    {
        size_t n = 0;
        for (const auto& l : log)
            n += l.rfind(prefix, 0) == 0;
        return n;
    }

    unsigned char OnTimer(unsigned short id) override
    {
        ticks.push_back(id);
        if (onTimer)
            onTimer(id);
        return 1;
    }
    unsigned char OnLMouseDown(short x, short y, unsigned char) override
    {
        Note("LDown", x, y);
        return lDownAnswer;
    }
    unsigned char OnLMouseUp(short x, short y, unsigned char) override
    {
        Note("LUp", x, y);
        return 0;
    }
    unsigned char OnLMouseDoubleClick(short x, short y, unsigned char) override
    {
        Note("Double", x, y);
        return 0;
    }
    unsigned char OnLMouseTripleClick(short x, short y, unsigned char) override
    {
        Note("Triple", x, y);
        return 0;
    }
    unsigned char OnRMouseDown(short x, short y, unsigned char) override
    {
        Note("RDown", x, y);
        return rDownAnswer;
    }
    unsigned char OnContextMenu(short x, short y, unsigned char) override
    {
        Note("Context", x, y);
        return 1;
    }
    unsigned char OnMouseWheel(short, short, unsigned char, short d) override
    {
        Note("Wheel", d);
        return 1;
    }
    unsigned char OnKeyDown(unsigned char k, unsigned char m) override
    {
        Note("KeyDown", k, m);
        return 0;
    }
    unsigned char OnKeyChar(unsigned char k, unsigned char m) override
    {
        Note("KeyChar", k, m);
        return 0;
    }
    unsigned char OnAboveControl(unsigned long i) override
    {
        Note("Above", long(int32_t(i)));
        return aboveAnswer;
    }
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override
    {
        messages.emplace_back(msg, id);
        if (msg == qnmsg::PopupChoice && data)
            Note("Menu", *static_cast<unsigned short*>(data), type);
        else
            Note("Msg", msg, long(id));
        (void)name;
        return 1;
    }
};

// A control on a rectangle, recording what reaches it.
class RecControl : public CQNF_Control {
public:
    RecControl(qntRECT_s r, std::vector<std::string>* log, const char* tag, uint8_t type = 5)
        : m_r(r), m_log(log), m_tag(tag)
    {
        m_type = type;
    }
    unsigned char downAnswer = 1;
    unsigned char upAnswer = 1;
    unsigned char moveAnswer = 0;
    unsigned char wheelAnswer = 0;
    unsigned char keyAnswer = 0;
    std::vector<unsigned short> ticks;
    bool* deleted = nullptr;
    ~RecControl() override
    {
        if (deleted)
            *deleted = true;
    }
    void Note(const char* what) { m_log->push_back(m_tag + std::string(":") + what); }
    unsigned char PtAboveControl(short x, short y) override
    {
        return x >= m_r.left && x < m_r.right && y >= m_r.top && y < m_r.bottom;
    }
    unsigned char OnLMouseDown(short, short, unsigned char) override
    {
        Note("LDown");
        return downAnswer;
    }
    unsigned char OnLMouseUp(short, short, unsigned char) override
    {
        Note("LUp");
        return upAnswer;
    }
    unsigned char OnMouseMove(short, short, unsigned char) override
    {
        Note("Move");
        return moveAnswer;
    }
    unsigned char OnMouseWheel(short, short, unsigned char, short) override
    {
        Note("Wheel");
        return wheelAnswer;
    }
    unsigned char OnKeyDown(unsigned char, unsigned char) override
    {
        Note("KeyDown");
        return keyAnswer;
    }
    unsigned char OnKeyChar(unsigned char, unsigned char) override
    {
        Note("KeyChar");
        return keyAnswer;
    }
    unsigned char OnLMouseDoubleClick(short, short, unsigned char) override
    {
        Note("Double");
        return 0;
    }
    unsigned char OnTimer(unsigned short id) override
    {
        ticks.push_back(id);
        return 1;
    }

private:
    qntRECT_s m_r;
    std::vector<std::string>* m_log;
    std::string m_tag;
};

class UiTest : public ::testing::Test {
protected:
    plat::HeadlessPlatform P;
    CQNF_App app;
    std::string resPath;

    void SetUp() override
    {
        qnui::Toolkit::Get().Attach(&P);
        m_App = &app;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        resPath = TempPath(std::string("ui_") + info->test_suite_name() + "_" + info->name() + ".qns4");
    }
    void TearDown() override
    {
        m_App = nullptr;
        qnui::Toolkit::Get().Attach(nullptr);
        std::remove(resPath.c_str());
    }

    // Makes a resource file with the writer and opens it in the application.
    void Resources(const std::function<void(qnui::ResourceWriter&)>& fill)
    {
        {
            CQNF_Storage s;
            ASSERT_TRUE(s.Open(CQNF_String(resPath.c_str()), 2));
            qnui::ResourceWriter w(s);
            fill(w);
            ASSERT_TRUE(s.Close());
        }
        ASSERT_TRUE(app.InitStorgaeResource(resPath.c_str(), 0)) << app.GetError();
    }

    // An opaque window background of the rectangle, with a colour.
    static void Background(qnui::ResourceWriter& w, const std::string& name, qntRECT_s r,
                           qntRGBA8 c = {200, 100, 50, 255})
    {
        ASSERT_TRUE(w.Image("UIResources>Windows>" + name + ">Background", r, [c](int32_t, int32_t) { return c; }));
    }

    // A plain window "W" of 200 x 100 at (100, 100), shown and active.
    void OpenPlain(RecWindow& w, const char* name = "W", short x = 100, short y = 100, CQNF_Window* parent = nullptr)
    {
        ASSERT_TRUE(w.CreateFromResource(CQNF_String(name), x, y, parent, 0)) << w.GetError();
        w.SetFocus();
        qnui::Toolkit::Get().PumpPending();
    }

    void Pump(uint32_t ms = 0) { qnui::Toolkit::Get().PumpFor(ms); }
};

}  // namespace uitest
