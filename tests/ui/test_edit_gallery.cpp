// The edit gallery headless, from its compiled resource file: the numeric
// field steps, the list scrolls by its bar, and the preview redraws quickly
// while its scroll bar's thumb is dragged and fully when it is let go.
#include "platform/Headless.h"
#include "ui/App.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlList.h"
#include "ui/CtrlScrollBar.h"
#include "ui/KeyCodes.h"
#include "ui/Toolkit.h"
#include "ui/gallery/EditGallery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// Built with the gallery's resource file only (the resource compiler makes it).
#ifdef TESSOLO_EDIT_GALLERY_FILE

namespace {

namespace eg = qnui::editgallery;

// Counts the preview's redraw notices on their way to the gallery.
class CountingGallery : public qnui::CEditGallery {
public:
    using qnui::CEditGallery::CEditGallery;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override
    {
        ++counts[msg];
        return qnui::CEditGallery::OnCtrlMessage(msg, id, name, type, data);
    }
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override
    {
        keys.push_back(key);
        return qnui::CEditGallery::OnKeyDown(key, mods);
    }
    std::map<unsigned short, int> counts;
    std::vector<unsigned char> keys;  // those that reached the window
};

class EditGalleryTest : public ::testing::Test {
protected:
    static constexpr int32_t kAt = 30;
    void SetUp() override
    {
        qnui::Toolkit::Get().Attach(&hp);
        ASSERT_TRUE(qnui::MakeGalleryPicture(picture, 3000, 2000));
        ASSERT_TRUE(app.InitStorgaeResource(TESSOLO_EDIT_GALLERY_FILE, 0));
        m_App = &app;
        w = std::make_unique<CountingGallery>(&picture);
        ASSERT_TRUE(w->CreateFromResource(CQNF_String("EditGallery"), kAt, kAt, nullptr, 0)) << w->GetError();
        w->onEvent = [this](const std::string& e) { events.push_back(e); };
        w->RenderRect(qnNullRect);
        w->Show();
        hp.Activate(w->GetWindowHandle());
        Pump();
    }
    void TearDown() override
    {
        if (w && hp.Exists(w->GetWindowHandle()))
            w->Close();
        Pump();
        w.reset();
        m_App = nullptr;
        qnui::Toolkit::Get().Attach(nullptr);
    }
    void Pump(uint32_t ms = 0) { qnui::Toolkit::Get().PumpFor(ms); }
    void MoveTo(int x, int y)
    {
        hp.MoveMouse({kAt + x, kAt + y});
        Pump();
    }
    CQNF_CtrlScrollBar* Bar(const char* name)
    {
        for (unsigned long i = 0; i < w->GetControlCount(); ++i)
            if (CQNF_Control* c = w->GetControl(i); c && std::strcmp(c->GetName(), name) == 0)
                return static_cast<CQNF_CtrlScrollBar*>(c);
        return nullptr;
    }

    plat::HeadlessPlatform hp;
    CQNF_App app;
    CQNF_Image picture;
    std::unique_ptr<CountingGallery> w;
    std::vector<std::string> events;
};

}  // namespace

TEST_F(EditGalleryTest, NumberStepsAndListScrolls)
{
    const qntRECT_s n = eg::kNumber;
    MoveTo((n.left + n.right) / 2, (n.top + n.bottom) / 2);
    hp.Press();
    hp.Release();
    Pump();
    hp.Key(qnkey::vk::One, '1');
    hp.Key(qnkey::vk::Two, '2');
    hp.Key(qnkey::vk::UpArrow, 0);
    Pump();
    EXPECT_STREQ(w->Number()->GetText().GetStr(), "13");
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "number 13");
    EXPECT_EQ(w->List()->GetItemsCount(), unsigned(eg::kItems));
    // While the number is edited it takes the wheel, wherever the pointer is.
    MoveTo(80, 300);
    hp.Wheel(-4);
    Pump();
    EXPECT_STREQ(w->Number()->GetText().GetStr(), "9");
    EXPECT_EQ(w->List()->GetModel().GetFirstVisible(), 0u);
    hp.Key(qnkey::vk::Return, 0);
    hp.Wheel(-4);
    Pump();
    EXPECT_GT(w->List()->GetModel().GetFirstVisible(), 0u);
    EXPECT_EQ(Bar("Gal_ListScroll")->GetPosition(), w->List()->GetModel().GetFirstVisible());
}

TEST_F(EditGalleryTest, ThumbDragRedrawsQuicklyThenFully)
{
    CQNF_CtrlScrollBar* bar = Bar("Gal_PreviewH");
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->IsEnabled());  // 750 wide at 1:4 in a 480 view
    const qntRECT_s t = bar->GetThumbRect();
    const int x = (t.left + t.right) / 2, y = (t.top + t.bottom) / 2;
    const int32_t before = w->Preview().GetOffset().x;
    w->counts.clear();
    MoveTo(x, y);
    hp.Press();
    Pump();
    MoveTo(x + 30, y);
    MoveTo(x + 60, y);
    EXPECT_GE(w->counts[qnmsg::PreviewQuickRedraw], 2);
    EXPECT_EQ(w->counts[qnmsg::PreviewFullRedraw], 0);
    hp.Release();
    Pump();
    EXPECT_EQ(w->counts[qnmsg::PreviewFullRedraw], 1);
    EXPECT_GT(w->Preview().GetOffset().x, before);
    EXPECT_EQ(int64_t(bar->GetPosition()), int64_t(w->Preview().GetOffset().x) + w->Preview().GetGeometry().MarginLeft());
}

// A focused field takes Esc and Return alike, in a window run as a dialog as
// in one that stays open: Esc gives the field back the text it had when it
// took the focus, Return keeps what was typed; either ends the edit and
// neither reaches the window. The next Esc, with no field focused, is the
// window's, which closes on it.
TEST_F(EditGalleryTest, EscAndReturnInAFieldEndTheEditAloneInEveryWindow)
{
    for (const bool modal : {false, true})
        for (const uint8_t key : {qnkey::Escape, qnkey::Return}) {
            SCOPED_TRACE(std::string(modal ? "dialog, " : "open window, ") +
                         (key == qnkey::Escape ? "Esc" : "Return"));
            if (!w || !hp.Exists(w->GetWindowHandle())) {
                w = std::make_unique<CountingGallery>(&picture);
                ASSERT_TRUE(w->CreateFromResource(CQNF_String("EditGallery"), kAt, kAt, nullptr, 0));
                w->Show();
                hp.Activate(w->GetWindowHandle());
                Pump();
            }
            const std::string before = w->Text()->GetText().GetStr();
            const qntRECT_s t = eg::kText;
            auto typeThenKey = [&] {
                MoveTo((t.left + t.right) / 2, (t.top + t.bottom) / 2);
                hp.Press();
                hp.Release();
                Pump();
                hp.Key(qnkey::vk::End, 0);
                hp.Key(qnkey::vk::One, '1');
                Pump();
                ASSERT_EQ(std::string(w->Text()->GetText().GetStr()), before + "1");
                w->keys.clear();
                hp.Key(key == qnkey::Escape ? qnkey::vk::Escape : qnkey::vk::Return, key == qnkey::Escape ? 27 : 13);
            };
            auto editEnded = [&] {
                Pump();
                ASSERT_TRUE(hp.Exists(w->GetWindowHandle())) << "the key closed the window";
                EXPECT_TRUE(w->keys.empty()) << "the key reached the window";
                EXPECT_FALSE(w->Text()->IsFocused());
                EXPECT_EQ(std::string(w->Text()->GetText().GetStr()), key == qnkey::Escape ? before : before + "1");
                hp.Key(qnkey::vk::Escape, 27);
            };
            if (modal) {
                hp.Script(typeThenKey);
                hp.Script(editEnded);
                w->DoModal();
                EXPECT_EQ(hp.ScriptLeft(), 0u);
            } else {
                typeThenKey();
                editEnded();
                Pump();
            }
            EXPECT_FALSE(hp.Exists(w->GetWindowHandle())) << "the second Esc did not reach the window";
        }
}

#endif  // TESSOLO_EDIT_GALLERY_FILE
