// Every control shows a change the moment a setter makes it: after the call,
// with no event in between, the window's pixels are what a full render of
// the window gives, and that differs from what was on the screen before.
// A setter that only changes the layer (or only the model) leaves the
// screen showing the previous state, which the first check catches; one
// that changes nothing that can be seen fails the second.
//
// The windows are the two galleries, headless, built from their compiled
// resource files, so every control type is skinned as in a real window.
#include "controls_gallery_resource.h"
#include "imaging/Image.h"
#include "platform/Headless.h"
#include "ui/App.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlList.h"
#include "ui/CtrlPreview.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"
#include "ui/Toolkit.h"
#include "ui/gallery/ControlsGallery.h"
#include "ui/gallery/EditGallery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

template <typename T>
T* Named(CQNF_Window& w, const char* name)
{
    for (unsigned long i = 0; i < w.GetControlCount(); ++i) {
        CQNF_Control* c = w.GetControl(i);
        if (c && std::strcmp(c->GetName(), name) == 0)
            return static_cast<T*>(c);
    }
    ADD_FAILURE() << "no control " << name;
    return nullptr;
}

using Step = std::function<void(CQNF_Window&)>;

struct Row {
    const char* what;
    Step prepare;  // brings the control to a state the change differs from; may be empty
    Step change;   // the one setter call
};

class ShowsChange : public ::testing::Test {
protected:
    void SetUp() override { qnui::Toolkit::Get().Attach(&hp); }
    void TearDown() override
    {
        m_App = nullptr;
        qnui::Toolkit::Get().Attach(nullptr);
    }

    std::vector<uint32_t> Screen(const CQNF_Window& w)
    {
        uint16_t width = 0, height = 0;
        const std::vector<uint32_t>* fb = hp.Framebuffer(w.GetWindowHandle(), width, height);
        return fb ? *fb : std::vector<uint32_t>{};
    }

    // Plays one row in a fresh window made by make.
    void Play(const Row& row, const std::function<std::unique_ptr<CQNF_Window>()>& make)
    {
        SCOPED_TRACE(row.what);
        std::unique_ptr<CQNF_Window> w = make();
        ASSERT_TRUE(w);
        w->RenderRect(qnNullRect);
        w->Show();
        qnui::Toolkit::Get().PumpPending();
        if (row.prepare) {
            row.prepare(*w);
            qnui::Toolkit::Get().PumpPending();
        }
        const std::vector<uint32_t> before = Screen(*w);
        row.change(*w);
        const std::vector<uint32_t> after = Screen(*w);
        w->RenderRect(qnNullRect);
        w->UpdateRect(qnNullRect);
        const std::vector<uint32_t> full = Screen(*w);
        ASSERT_FALSE(before.empty());
        size_t stale = 0, changed = 0;
        for (size_t i = 0; i < full.size(); ++i) {
            stale += after[i] != full[i];
            changed += before[i] != full[i];
        }
        EXPECT_EQ(stale, 0u) << "pixels still showing the previous state";
        EXPECT_GT(changed, 0u) << "the change shows nothing";
        w->Close();
        qnui::Toolkit::Get().PumpPending();
    }

    plat::HeadlessPlatform hp;
    CQNF_App app;
};

unsigned long FontOf(CQNF_Window& w, const char* name) { return w.AddFont(name); }

TEST_F(ShowsChange, EverySetterOfEveryControlType)
{
    using Btn = CQNF_CtrlButton;
    using Txt = CQNF_CtrlStaticText;
    using Img = CQNF_CtrlStaticImage;
    using Sld = CQNF_CtrlSlider;
    using Bar = CQNF_CtrlScrollBar;
    using Prg = CQNF_CtrlProgress;
    using Rul = CQNF_CtrlRuler;
    const std::vector<Row> controls = {
        // static text
        {"text SetText", nullptr, [](CQNF_Window& w) { Named<Txt>(w, "Gal_Value")->SetText("Result: 7 layers"); }},
        {"text SetText placed", nullptr,
         [](CQNF_Window& w) { Named<Txt>(w, "Gal_Value")->SetText("Moved", 30, 3, 14); }},
        {"text SetText after SetOpacity", nullptr,
         [](CQNF_Window& w) {
             Named<Txt>(w, "Gal_Value")->SetOpacity(255);
             Named<Txt>(w, "Gal_Value")->SetText("Result: 1 layer");
         }},
        {"text SetFont",
         [](CQNF_Window& w) { Named<Txt>(w, "Gal_Value")->SetText("Value: 42", 2, 2, 14); },
         [](CQNF_Window& w) { Named<Txt>(w, "Gal_Value")->SetFont(w.GetFont(FontOf(w, "Small Font"))); }},
        {"text AddTab",
         [](CQNF_Window& w) { Named<Txt>(w, "Gal_Value")->SetText("A\tB", 2, 2, 14); },
         [](CQNF_Window& w) { Named<Txt>(w, "Gal_Value")->AddTab(90); }},
        {"text RemoveAllTabs",
         [](CQNF_Window& w) {
             Named<Txt>(w, "Gal_Value")->AddTab(90);
             Named<Txt>(w, "Gal_Value")->SetText("A\tB", 2, 2, 14);
         },
         [](CQNF_Window& w) { Named<Txt>(w, "Gal_Value")->RemoveAllTabs(); }},
        {"text SetOpacity", nullptr, [](CQNF_Window& w) { Named<Txt>(w, "Gal_Value")->SetOpacity(60); }},
        {"text Enable", nullptr, [](CQNF_Window& w) { Named<Txt>(w, "Gal_Value")->Enable(0); }},
        {"text SetDisabledOpacity", [](CQNF_Window& w) { Named<Txt>(w, "Gal_Value")->Enable(0); },
         [](CQNF_Window& w) { Named<Txt>(w, "Gal_Value")->SetDisabledOpacity(0); }},
        // static image and ruler
        {"image SetOpacity", nullptr, [](CQNF_Window& w) { Named<Img>(w, "Gal_Badge")->SetOpacity(90); }},
        {"image Enable", nullptr, [](CQNF_Window& w) { Named<Img>(w, "Gal_Badge")->Enable(0); }},
        {"image SetDisabledOpacity", [](CQNF_Window& w) { Named<Img>(w, "Gal_Badge")->Enable(0); },
         [](CQNF_Window& w) { Named<Img>(w, "Gal_Badge")->SetDisabledOpacity(0); }},
        {"ruler SetData", nullptr,
         [](CQNF_Window& w) {
             QNF_RulerData d = *Named<Rul>(w, "Gal_RulerTop")->GetData();
             d.firstCoord += 37;
             d.marker = 100;
             Named<Rul>(w, "Gal_RulerTop")->SetData(&d, 1);
         }},
        {"ruler SetFont", nullptr,
         [](CQNF_Window& w) { Named<Rul>(w, "Gal_RulerTop")->SetFont(w.GetFont(FontOf(w, "Info Font"))); }},
        // progress
        {"progress SetValue", nullptr, [](CQNF_Window& w) { Named<Prg>(w, "Gal_Progress")->SetValue(90.0); }},
        {"progress SetMinMax", nullptr, [](CQNF_Window& w) { Named<Prg>(w, "Gal_Progress")->SetMinMax(0.0, 50.0); }},
        {"progress Visible", nullptr, [](CQNF_Window& w) { Named<Prg>(w, "Gal_Progress")->Visible(0); }},
        // buttons, check boxes, radio buttons
        {"button Enable", nullptr, [](CQNF_Window& w) { Named<Btn>(w, "Gal_Push")->Enable(0); }},
        {"button SetState", nullptr, [](CQNF_Window& w) { Named<Btn>(w, "Gal_Push")->SetState(Btn::StPressed); }},
        {"button SetDisabledOpacity to 0", nullptr,
         [](CQNF_Window& w) { Named<Btn>(w, "Gal_Off")->SetDisabledOpacity(0); }},
        {"button SetDisabledOpacity from 0", [](CQNF_Window& w) { Named<Btn>(w, "Gal_Off")->SetDisabledOpacity(0); },
         [](CQNF_Window& w) { Named<Btn>(w, "Gal_Off")->SetDisabledOpacity(80); }},
        {"check box SetCheck", nullptr, [](CQNF_Window& w) { Named<Btn>(w, "Gal_CheckB")->SetCheck(1, 0); }},
        {"check box SetCheck disabled", nullptr,
         [](CQNF_Window& w) { Named<Btn>(w, "Gal_CheckOff")->SetCheck(0, 0); }},
        {"check box Enable", nullptr, [](CQNF_Window& w) { Named<Btn>(w, "Gal_CheckA")->Enable(0); }},
        {"radio SetCheck", nullptr, [](CQNF_Window& w) { Named<Btn>(w, "Gal_Two")->SetCheck(1, 0); }},
        {"radio SetCheck off", nullptr, [](CQNF_Window& w) { Named<Btn>(w, "Gal_One")->SetCheck(0, 0); }},
        {"radio Enable", nullptr, [](CQNF_Window& w) { Named<Btn>(w, "Gal_One")->Enable(0); }},
        // slider
        {"slider SetValue", nullptr, [](CQNF_Window& w) { Named<Sld>(w, "Gal_Slider")->SetValue(80, 0); }},
        {"slider SetValueD", nullptr, [](CQNF_Window& w) { Named<Sld>(w, "Gal_Slider")->SetValueD(0, 10, 1, 0); }},
        {"slider SetPtPos", nullptr, [](CQNF_Window& w) { Named<Sld>(w, "Gal_Slider")->SetPtPos(3, 0); }},
        {"slider Enable", nullptr, [](CQNF_Window& w) { Named<Sld>(w, "Gal_Slider")->Enable(0); }},
        {"slider SetDisabledOpacity", [](CQNF_Window& w) { Named<Sld>(w, "Gal_Slider")->Enable(0); },
         [](CQNF_Window& w) { Named<Sld>(w, "Gal_Slider")->SetDisabledOpacity(0); }},
        // scroll bar
        {"scroll bar SetInfo", nullptr, [](CQNF_Window& w) { Named<Bar>(w, "Gal_Scroll")->SetInfo(20, 10); }},
        {"scroll bar SetPosition", nullptr, [](CQNF_Window& w) { Named<Bar>(w, "Gal_Scroll")->SetPosition(50); }},
        {"scroll bar StepMore", nullptr, [](CQNF_Window& w) { Named<Bar>(w, "Gal_Scroll")->StepMore(); }},
        {"scroll bar PageMore", nullptr, [](CQNF_Window& w) { Named<Bar>(w, "Gal_Scroll")->PageMore(); }},
        {"scroll bar Enable", nullptr, [](CQNF_Window& w) { Named<Bar>(w, "Gal_Scroll")->Enable(0); }},
        {"scroll bar SetDisabledOpacity", [](CQNF_Window& w) { Named<Bar>(w, "Gal_Scroll")->Enable(0); },
         [](CQNF_Window& w) { Named<Bar>(w, "Gal_Scroll")->SetDisabledOpacity(0); }},
    };

    const std::string resource = ::testing::TempDir() + "tessolo_shows_change_" + std::to_string(::getpid()) + ".qns4";
    std::string error;
    ASSERT_TRUE(ctrltest::BuildControlsGallery(resource, error)) << error;
    ASSERT_TRUE(app.InitStorgaeResource(resource.c_str(), 0));
    m_App = &app;
    for (const Row& row : controls) {
        Play(row, [] {
            auto w = std::make_unique<qnui::CControlsGallery>();
            return w->CreateFromResource(CQNF_String("Controls"), 20, 20, nullptr, 0) ? std::move(w) : nullptr;
        });
    }
    m_App = nullptr;
    std::remove(resource.c_str());

#ifdef TESSOLO_EDIT_GALLERY_FILE
    using Edt = CQNF_CtrlEditLine;
    using Lst = CQNF_CtrlList;
    using Pvw = CQNF_CtrlPreview;
    auto preview = [](CQNF_Window& w) -> Pvw& { return static_cast<qnui::CEditGallery&>(w).Preview(); };
    const std::vector<Row> edits = {
        // edit line
        {"edit SetText", nullptr, [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->SetText("Shape 12", 0); }},
        {"edit SetSelection", [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->SetFocus(1); },
         [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->SetSelection(2, 6); }},
        {"edit SetCaretPos",
         [](CQNF_Window& w) {
             Named<Edt>(w, "Gal_Text")->SetFocus(1);
             Named<Edt>(w, "Gal_Text")->SetSelection(-1, -1);
         },
         [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->SetCaretPos(5); }},
        {"edit SelectAll",
         [](CQNF_Window& w) {
             Named<Edt>(w, "Gal_Text")->SetFocus(1);
             Named<Edt>(w, "Gal_Text")->SetSelection(-1, -1);
         },
         [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->SelectAll(); }},
        {"edit SetColors", nullptr,
         [](CQNF_Window& w) {
             qntRGBA8 c[10];
             for (qntRGBA8& one : c)
                 one = qntRGBA8{1, 0, 0, 0};  // keeps the colour
             c[0] = qntRGBA8{200, 30, 30, 255};
             c[5] = qntRGBA8{20, 220, 20, 255};
             Named<Edt>(w, "Gal_Text")->SetColors(c);
         }},
        {"edit SetOptions text offset", nullptr,
         [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->SetOptions(0, 1, 0, 0, 9, 1); }},
        {"edit SetFont", nullptr,
         [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->SetFont(w.GetFont(FontOf(w, "Small Font"))); }},
        {"edit Visible", nullptr, [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->Visible(0); }},
        {"edit SetVisibility", nullptr, [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->SetVisibility(0); }},
        {"edit Enable", nullptr, [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->Enable(0); }},
        {"edit SetDisabledOpacity", [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->Enable(0); },
         [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->SetDisabledOpacity(0); }},
        {"edit SetFocus", nullptr, [](CQNF_Window& w) { Named<Edt>(w, "Gal_Text")->SetFocus(1); }},
        // list
        {"list AddItem", [](CQNF_Window& w) { Named<Lst>(w, "Gal_List")->RemoveAllItems(1, 0); },
         [](CQNF_Window& w) { Named<Lst>(w, "Gal_List")->AddItem("First", 0, nullptr, 0); }},
        {"list SetItem", nullptr,
         [](CQNF_Window& w) {
             CQNF_String text("Renamed");
             Named<Lst>(w, "Gal_List")->SetItem(0, &text, nullptr, nullptr, 1);
         }},
        {"list RemoveAllItems", nullptr, [](CQNF_Window& w) { Named<Lst>(w, "Gal_List")->RemoveAllItems(1, 0); }},
        {"list SelectItems", nullptr,
         [](CQNF_Window& w) { Named<Lst>(w, "Gal_List")->SelectItems(2, 3, 1, 0, 0, 1, 0); }},
        {"list RemoveSelection",
         [](CQNF_Window& w) { Named<Lst>(w, "Gal_List")->SelectItems(2, 3, 1, 0, 0, 1, 0); },
         [](CQNF_Window& w) { Named<Lst>(w, "Gal_List")->RemoveSelection(1, 0); }},
        {"list SetOptions", nullptr,
         [](CQNF_Window& w) {
             Named<Lst>(w, "Gal_List")->SetOptions(1, 1, 24, 20, 3,
                                                    Named<Bar>(w, "Gal_ListScroll")->GetControlID());
         }},
        {"list Enable", nullptr, [](CQNF_Window& w) { Named<Lst>(w, "Gal_List")->Enable(0); }},
        {"list SetDisabledOpacity", [](CQNF_Window& w) { Named<Lst>(w, "Gal_List")->Enable(0); },
         [](CQNF_Window& w) { Named<Lst>(w, "Gal_List")->SetDisabledOpacity(0); }},
        // preview (its offset, mask and colours are drawn by the owner's DoRedraw)
        {"preview SetZoom", nullptr, [preview](CQNF_Window& w) { preview(w).SetZoom(5, -1, -1, 1, 0); }},
        {"preview ZoomOut", nullptr, [preview](CQNF_Window& w) { preview(w).ZoomOut(-1, -1); }},
    };
    CQNF_Image picture;
    ASSERT_TRUE(qnui::MakeGalleryPicture(picture, 1600, 1000));
    ASSERT_TRUE(app.InitStorgaeResource(TESSOLO_EDIT_GALLERY_FILE, 0));
    m_App = &app;
    for (const Row& row : edits) {
        Play(row, [&picture] {
            auto w = std::make_unique<qnui::CEditGallery>(&picture);
            return w->CreateFromResource(CQNF_String("EditGallery"), 20, 20, nullptr, 0) ? std::move(w) : nullptr;
        });
    }
#endif
}

}  // namespace
