// Every control of this toolkit's kinds that the resource file ships builds
// from its real skin, and shows it.
#include "platform/Headless.h"
#include "ui/App.h"
#include "ui/CtrlButton.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlSlider.h"
#include "ui/CtrlStatic.h"
#include "ui/Toolkit.h"
#include "ui/Window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

const std::string kResourceFile = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";
const std::string kExpected = std::string(TESSOLO_SOURCE_DIR) + "/resources/manifest/expected.txt";

}  // namespace

TEST(CtrlRealSkin, EveryShippedControlBuilds)
{
    if (!std::filesystem::exists(kResourceFile) || !std::filesystem::exists(kExpected)) {
        FAIL() << "no compiled resource file in this build";
    }
    const std::map<std::string, uint8_t> kinds = {{"button", qnctl::Button},    {"check", qnctl::CheckBox},
                                                  {"radio", qnctl::RadioButton}, {"slider", qnctl::Slider},
                                                  {"scroll", qnctl::ScrollBar},  {"stext", qnctl::StaticText},
                                                  {"image", qnctl::StaticImage}, {"progress", qnctl::Progress},
                                                  {"ruler", qnctl::Ruler}};
    plat::HeadlessPlatform hp;
    qnui::Toolkit::Get().Attach(&hp);
    {
        CQNF_App app;
        ASSERT_TRUE(app.InitStorgaeResource(kResourceFile.c_str(), 0));
        m_App = &app;
        CQNF_Window window;
        ASSERT_TRUE(window.CreateFromResource("Main", 0, 0, nullptr, 0));
        std::ifstream in(kExpected);
        std::string line;
        std::map<uint8_t, int> built;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string kind, name;
            words >> kind >> name;
            auto it = kinds.find(kind);
            if (it == kinds.end()) {
                continue;
            }
            const unsigned long id = window.AddControl(name.c_str(), it->second);
            ASSERT_NE(id, CQNF_Window::None) << kind << " " << name << ": error " << window.GetError();
            CQNF_Control* c = window.GetControl(id);
            EXPECT_EQ(c->GetType(), it->second);
            // Every visible kind has something to show; a slider sits on a point.
            if (it->second == qnctl::Slider) {
                EXPECT_GT(static_cast<CQNF_CtrlSlider*>(c)->GetPointCount(), 1u) << name;
            } else if (it->second != qnctl::ScrollBar) {
                EXPECT_FALSE(qnIsNullRect(c->GetRenderRect())) << kind << " " << name;
            }
            ++built[it->second];
        }
        EXPECT_EQ(built.size(), kinds.size());
        window.Close();
        m_App = nullptr;
    }
    qnui::Toolkit::Get().Attach(nullptr);
}
