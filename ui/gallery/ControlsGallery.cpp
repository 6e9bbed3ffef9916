#include "ui/gallery/ControlsGallery.h"

#include "core/ErrorManager.h"
#include "core/ErrorWords.h"

#include "platform/Headless.h"
#include "ui/App.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"
#include "ui/HeadlessPicture.h"
#include "ui/KeyCodes.h"
#include "ui/Toolkit.h"

#include <algorithm>
#include <cstring>

namespace qnui {

namespace {

struct Entry {
    const char* name;
    uint8_t type;
};

// In the order they are added: arrows before the bar that adopts them.
constexpr Entry kControls[] = {
    {"Gal_Close", qnctl::Button},      {"Gal_Push", qnctl::Button},          {"Gal_Repeat", qnctl::Button},
    {"Gal_Menu", qnctl::Button},       {"Gal_Accent", qnctl::Button},        {"Gal_Tool", qnctl::Button},
    {"Gal_Off", qnctl::Button},        {"Gal_Clicks", qnctl::StaticText},    {"Gal_CheckA", qnctl::CheckBox},
    {"Gal_CheckB", qnctl::CheckBox},   {"Gal_CheckOff", qnctl::CheckBox},    {"Gal_One", qnctl::RadioButton},
    {"Gal_Two", qnctl::RadioButton},   {"Gal_Three", qnctl::RadioButton},    {"Gal_Left", qnctl::RadioButton},
    {"Gal_Right", qnctl::RadioButton}, {"Gal_Value", qnctl::StaticText},     {"Gal_Angle", qnctl::StaticText},
    {"Gal_Progress", qnctl::Progress}, {"Gal_Slider", qnctl::Slider},        {"Gal_Dial", qnctl::Slider},
    {"Gal_Up", qnctl::Button},         {"Gal_Down", qnctl::Button},          {"Gal_Scroll", qnctl::ScrollBar},
    {"Gal_First", qnctl::StaticText},  {"Gal_Badge", qnctl::StaticImage},    {"Gal_Piece", qnctl::StaticImage},
    {"Gal_RulerTop", qnctl::Ruler},    {"Gal_RulerLeft", qnctl::Ruler},      {"Gal_Status", qnctl::StaticText},
};

constexpr qntRECT_s kRulerTop{40, 302, 420, 318};
constexpr qntRECT_s kRulerLeft{24, 318, 40, 402};

template <typename T>
T* As(CQNF_Control* c, uint8_t type)
{
    return c && c->GetType() == type ? static_cast<T*>(c) : nullptr;
}

}  // namespace

CQNF_Control* CControlsGallery::Find(const char* name) const
{
    for (unsigned long id : m_ids) {
        CQNF_Control* c = GetControl(id);
        if (c && std::strcmp(c->GetName(), name) == 0) {
            return c;
        }
    }
    return nullptr;
}

unsigned char CControlsGallery::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    m_info = AddFont("Info Font");
    m_small = AddFont("Small Font");
    for (const Entry& e : kControls) {
        const unsigned long id = AddControl(e.name, e.type);
        if (id == None) {
            return 0;
        }
        m_ids.push_back(id);
    }
    for (unsigned long id : m_ids) {
        if (auto* t = As<CQNF_CtrlStaticText>(GetControl(id), qnctl::StaticText)) {
            t->SetFont(GetFont(m_info));
        }
        if (auto* r = As<CQNF_CtrlRuler>(GetControl(id), qnctl::Ruler)) {
            r->SetFont(GetFont(m_small));
            QNF_RulerData d;
            d.insetAfter = 1;
            r->SetData(&d, 1);
        }
    }
    static_cast<CQNF_CtrlButton*>(Find("Gal_Repeat"))->SetPeriodicMode(1);
    static_cast<CQNF_CtrlButton*>(Find("Gal_Menu"))->SetMenuMode(1);
    Find("Gal_Off")->Enable(0);
    Find("Gal_CheckA")->SetCheck(1, 0);
    Find("Gal_CheckOff")->SetCheck(1, 0);
    Find("Gal_CheckOff")->Enable(0);
    Find("Gal_One")->SetCheck(1, 0);
    Find("Gal_Left")->SetCheck(1, 0);
    auto* scroll = static_cast<CQNF_CtrlScrollBar*>(Find("Gal_Scroll"));
    scroll->SetButtons(Find("Gal_Up")->GetControlID(), Find("Gal_Down")->GetControlID());
    scroll->SetInfo(100, 12);
    static_cast<CQNF_CtrlSlider*>(Find("Gal_Slider"))->SetValue(42, 1);
    static_cast<CQNF_CtrlSlider*>(Find("Gal_Dial"))->SetValue(90, 1);
    SetText("Gal_Clicks", "Push, hold Repeat, or press Menu");
    SetText("Gal_Status", "Ready.");
    return 1;
}

void CControlsGallery::SetText(const char* control, const std::string& text)
{
    if (auto* t = As<CQNF_CtrlStaticText>(Find(control), qnctl::StaticText)) {
        t->SetText(text.c_str(), 2, 2, 14);
        t->Redraw();
    }
}

void CControlsGallery::Say(const std::string& what)
{
    m_log.push_back(what);
    if (m_log.size() > 4) {
        m_log.erase(m_log.begin());
    }
    std::string text;
    for (const std::string& line : m_log) {
        text += line + "\n";
    }
    SetText("Gal_Status", text);
    if (onEvent) {
        onEvent(what);
    }
}

unsigned char CControlsGallery::OnCtrlMessage(unsigned short msg, unsigned long, char* name, unsigned char type,
                                              void* data)
{
    const std::string n = name ? name : "";
    if (msg == qnmsg::Clicked) {
        if (n == "Gal_Close") {
            Close();
            return 1;
        }
        if (type == qnctl::CheckBox) {
            Say(n + " " + std::to_string(data ? *static_cast<uint8_t*>(data) : 0));
            return 1;
        }
        if (type == qnctl::RadioButton) {
            Say("radio " + n);
            return 1;
        }
        if (n == "Gal_Push") {
            ++m_pushes;
        } else if (n == "Gal_Repeat") {
            ++m_repeats;
        } else if (n == "Gal_Menu") {
            ++m_menus;
        }
        SetText("Gal_Clicks", "Push " + std::to_string(m_pushes) + "   Repeat " + std::to_string(m_repeats) +
                                  "   Menu " + std::to_string(m_menus));
        Say("click " + n);
        return 1;
    }
    if ((msg == qnmsg::ValueChanged || msg == qnmsg::ValueTracking) && data) {
        const uint32_t v = *static_cast<uint32_t*>(data);
        if (n == "Gal_Slider") {
            SetText("Gal_Value", "Value: " + std::to_string(v));
            if (auto* p = As<CQNF_CtrlProgress>(Find("Gal_Progress"), qnctl::Progress)) {
                p->SetValue(double(v));
            }
            if (msg == qnmsg::ValueChanged) {
                Say("slider " + std::to_string(v));
            }
        } else if (n == "Gal_Dial") {
            SetText("Gal_Angle", "Angle: " + std::to_string(v) + "\xB0");
        } else if (n == "Gal_Scroll") {
            SetText("Gal_First", "First: " + std::to_string(v));
        }
        return 1;
    }
    return 1;
}

unsigned char CControlsGallery::OnMouseMove(short x, short y, unsigned char)
{
    // The rulers' markers follow the pointer across the rulers' panel.
    const bool inside = x >= kRulerTop.left && x < kRulerTop.right && y >= kRulerLeft.top && y < kRulerLeft.bottom;
    for (const char* name : {"Gal_RulerTop", "Gal_RulerLeft"}) {
        if (auto* r = As<CQNF_CtrlRuler>(Find(name), qnctl::Ruler)) {
            QNF_RulerData d = *r->GetData();
            const bool top = name[9] == 'T';
            d.marker = inside ? uint16_t(top ? x - kRulerTop.left : y - kRulerLeft.top) : 0xFFFF;
            r->SetData(&d, 1);
        }
    }
    return 0;
}

unsigned char CControlsGallery::OnKeyDown(unsigned char key, unsigned char)
{
    if (key == qnkey::Escape) {
        Close();
        return 1;
    }
    return 0;
}

void CControlsGallery::EnableAll(unsigned char on)
{
    for (unsigned long id : m_ids) {
        if (CQNF_Control* c = GetControl(id)) {
            c->Enable(on);
        }
    }
}

// ---------------------------------------------------------------------------

const std::vector<std::string>& ControlsGalleryScenes()
{
    static const std::vector<std::string> scenes = {"rest",    "hover",   "pressed", "pressed-out",
                                                    "checked", "dragged", "disabled"};
    return scenes;
}

bool SnapControlsGallery(const std::string& resourcePath, const std::string& scene, const std::string& pngPath,
                         std::string& error)
{
    const auto& scenes = ControlsGalleryScenes();
    if (std::find(scenes.begin(), scenes.end(), scene) == scenes.end()) {
        error = "unknown scene '" + scene + "'";
        return false;
    }
    constexpr int32_t kAt = 20, kDeskW = 640, kDeskH = 460;  // the window and a margin
    plat::HeadlessPlatform p;
    p.SetScreens({{0, 0, kDeskW, kDeskH}});
    Toolkit& tk = Toolkit::Get();
    tk.Attach(&p);
    CQNF_App app;
    CQNF_App* saved = m_App;
    m_App = &app;
    bool ok = false;
    {
        CControlsGallery w;
        if (!app.InitStorgaeResource(resourcePath.c_str(), 0)) {
            error = qnFileFailure(resourcePath, false, qnerr::FileNotOpened);
        } else if (!w.CreateFromResource(CQNF_String("Controls"), kAt, kAt, nullptr, 0)) {
            error = qnWindowNotMadeWords("the controls gallery", resourcePath, "Controls", w.GetError());
        } else {
            w.RenderRect(qnNullRect);
            w.Show();
            tk.PumpPending();
            auto at = [&](int32_t x, int32_t y) {
                p.MoveMouse({kAt + x, kAt + y});
                tk.PumpFor(10);
            };
            auto centre = [&](qntRECT_s r) { at((r.left + r.right) / 2, (r.top + r.bottom) / 2); };
            if (scene == "hover") {
                centre(controls::kPush);
            } else if (scene == "pressed") {
                centre(controls::kPush);
                p.Press();
                tk.PumpFor(10);
            } else if (scene == "pressed-out") {
                centre(controls::kPush);
                p.Press();
                at(controls::kPush.right + 20, controls::kPush.bottom + 30);
            } else if (scene == "checked") {
                for (qntRECT_s r : {controls::kCheckB, controls::kRadioTwo}) {
                    centre(r);
                    p.Press();
                    p.Release();
                    tk.PumpFor(10);
                }
                at(300, 360);  // over the rulers: their markers
            } else if (scene == "dragged") {
                at(controls::kSliderFrom + 97, controls::kSliderY);
                p.Press();
                at(controls::kSliderFrom + 184, controls::kSliderY + 3);
                p.Release();
                tk.PumpFor(10);
                centre(controls::kDown);
                p.Press();
                tk.PumpFor(700);
                p.Release();
                at(590, 410);
            } else if (scene == "disabled") {
                w.EnableAll(0);
            }
            tk.PumpPending();
            ok = SaveDesktopPNG(p, pngPath, error);
            if (p.Exists(w.GetWindowHandle())) {
                p.Release();
                w.Close();
            }
            tk.PumpPending();
        }
    }
    m_App = saved;
    tk.Attach(nullptr);
    return ok;
}

}  // namespace qnui
