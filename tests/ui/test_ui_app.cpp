// The application object: resource storage, shortcut table, services and
// the application loop.
#include "UiTest.h"

#include "core/ZipBlock.h"
#include "ui/KeyCodes.h"

#include <fstream>

using namespace uitest;
namespace vk = qnkey::vk;

namespace {
constexpr uint8_t kF5 = 224;
}

class AppTest : public UiTest {};

TEST_F(AppTest, ShortcutMatrix)
{
    Resources([](qnui::ResourceWriter& w) {
        w.Shortcuts({{'S', true, 1, 0, 0, 101},
                     {'S', false, 1, 0, 1, 102},  // Control-Shift-S
                     {'1', true, 1, 1, 0, 103},   // Command-Option-1
                     {kF5, true, 0, 0, 0, 104},   // F5 with Command up
                     {'S', true, 1, 0, 0, 999}}); // shadowed by the first
    });
    struct Case {
        uint8_t key, control, option, shift, command;
        unsigned short want;
    } cases[] = {
        {'s', 0, 0, 0, 1, 101},     {'S', 0, 0, 0, 1, 101},    {'S', 1, 0, 0, 1, 65535},
        {'S', 0, 0, 1, 1, 65535},   {'S', 0, 0, 0, 0, 65535},  {'s', 1, 0, 1, 0, 102},
        {'s', 1, 0, 1, 1, 65535},   {'1', 0, 1, 0, 1, 103},    {'1', 0, 0, 0, 1, 65535},
        {kF5, 0, 0, 0, 0, 104},     {kF5, 0, 0, 0, 1, 65535},  {'T', 0, 0, 0, 1, 65535},
    };
    for (const Case& c : cases)
        EXPECT_EQ(app.GetAcceleratorCmd(c.key, c.control, c.option, c.shift, c.command), c.want)
            << "key " << int(c.key) << " ctl " << int(c.control) << " opt " << int(c.option) << " shift "
            << int(c.shift) << " cmd " << int(c.command);
}

TEST_F(AppTest, ShortcutTableSizeAndDamage)
{
    struct Case {
        const char* what;
        std::function<void(qnui::ResourceWriter&)> fill;
        unsigned long count;
    } cases[] = {
        {"220 bytes hold two records",
         [](qnui::ResourceWriter& w) {
             auto bytes = qnui::ShortcutBytes({{'A'}, {'B'}, {'C'}});
             bytes.resize(220);
             w.PackedBinary("UIResources>Accelerators", bytes);
         },
         2},
        {"a record that does not unpack gives an empty table",
         [](qnui::ResourceWriter& w) { w.Binary("UIResources>Accelerators", {1, 2, 3, 4}); }, 0},
        {"no record gives an empty table", [](qnui::ResourceWriter& w) { w.Folder("UIResources"); }, 0},
    };
    for (auto& c : cases) {
        CQNF_App fresh;
        std::remove(resPath.c_str());
        {
            CQNF_Storage s;
            ASSERT_TRUE(s.Open(CQNF_String(resPath.c_str()), 2));
            qnui::ResourceWriter w(s);
            c.fill(w);
            s.Close();
        }
        ASSERT_TRUE(fresh.InitStorgaeResource(resPath.c_str(), 0)) << c.what;
        unsigned long count = 99;
        fresh.GetAccelerators(count);
        EXPECT_EQ(count, c.count) << c.what;
        EXPECT_EQ(fresh.GetError(), 0) << c.what;
    }
}

TEST_F(AppTest, StorageOpeningFailures)
{
    EXPECT_EQ(app.GetStorage(), nullptr);
    EXPECT_FALSE(app.InitStorgaeResource((::testing::TempDir() + "no_such_file.qns4").c_str(), 0));
    EXPECT_NE(app.GetError(), 0);
    EXPECT_EQ(app.GetStorage(), nullptr);

    // The plug-in-resource form has nothing to read here.
    EXPECT_FALSE(app.InitStorgaeResource((unsigned char)0));
    EXPECT_EQ(app.GetError(), qnerr::NoResourceStorage);

    Resources([](qnui::ResourceWriter& w) { w.Shortcuts({{'A'}}); });
    // A damaged stamp fails the check when one is asked for.
    {
        std::fstream f(resPath, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(8);
        f.put('\x5a');
    }
    CQNF_App checked;
    EXPECT_FALSE(checked.InitStorgaeResource(resPath.c_str(), 1));
    EXPECT_EQ(checked.GetError(), qnerr::StorageStamp);
    CQNF_App unchecked;
    EXPECT_TRUE(unchecked.InitStorgaeResource(resPath.c_str(), 0));
    FSRef folder{::testing::TempDir()};
    const std::string name = resPath.substr(resPath.rfind('/') + 1);
    CQNF_App byName;
    EXPECT_TRUE(byName.InitStorgaeResource(name.c_str(), &folder, 0));
    EXPECT_NE(byName.GetStorage(), nullptr);
}

TEST_F(AppTest, MessageBoxCutsTo250AndOpensOverItsWindow)
{
    Resources([](qnui::ResourceWriter& r) { Background(r, "W", {0, 0, 200, 100}); });
    RecWindow w;
    OpenPlain(w);
    const std::string longText(300, 'x');
    CQNF_App::PlatformMessageBox(longText.c_str(), "Error!", nullptr);
    CQNF_App::PlatformMessageBox("short", longText.c_str(), &w);
    ASSERT_EQ(P.alerts.size(), 2u);
    EXPECT_EQ(P.alerts[0].text, std::string(250, 'x'));
    EXPECT_EQ(P.alerts[0].title, "Error!");
    EXPECT_EQ(P.alerts[0].parent, 0u);
    EXPECT_EQ(P.alerts[1].text, "short");
    EXPECT_EQ(P.alerts[1].title.size(), 250u);
    EXPECT_EQ(P.alerts[1].parent, w.GetWindowHandle());
    EXPECT_NE(w.GetWindowHandle(), 0u);
}

TEST_F(AppTest, ClipboardTextIsExactBytes)
{
    CQNF_String out("old");
    EXPECT_FALSE(CQNF_App::Clipboard_IsTextDataAvailable());
    EXPECT_FALSE(CQNF_App::Clipboard_GetText(out));
    EXPECT_TRUE(CQNF_App::Clipboard_SetText(CQNF_String("caf\xe9 au lait")));
    EXPECT_TRUE(CQNF_App::Clipboard_IsTextDataAvailable());
    ASSERT_TRUE(CQNF_App::Clipboard_GetText(out));
    EXPECT_STREQ(out.GetStr(), "caf\xe9 au lait");
    EXPECT_EQ(out.GetLength(), 12u);
    P.clipboard.clear();
    EXPECT_FALSE(CQNF_App::Clipboard_GetText(out)) << "empty text";
}

TEST_F(AppTest, TimingUnitsComparable)
{
    P.SetDoubleClickMs(420);
    EXPECT_EQ(CQNF_App::GetDoubleClickTime(), 420u);
    EXPECT_EQ(CQNF_App::GetCaretDelay(), 1060u);
    const uint32_t t0 = CQNF_App::GetPeriodicCounter();
    P.Advance(30);
    EXPECT_EQ(CQNF_App::GetPeriodicCounter() - t0, 30u);
}

namespace {
std::vector<qntAPPEVENT> g_appEvents;
void RecordAppEvent(const qntAPPEVENT& e) { g_appEvents.push_back(e); }
}  // namespace

TEST_F(AppTest, RunEndsOnlyWithItsOwnWindow)
{
    Resources([](qnui::ResourceWriter& w) {
        Background(w, "W", {0, 0, 200, 100});
        Background(w, "D", {0, 0, 80, 40});
    });
    RecWindow main, child, stray;
    ASSERT_TRUE(main.CreateFromResource(CQNF_String("W"), 10, 10, nullptr, 0));
    ASSERT_TRUE(child.CreateFromResource(CQNF_String("D"), 20, 20, &main, 0));
    ASSERT_TRUE(stray.CreateFromResource(CQNF_String("D"), 30, 30, nullptr, 0));
    app.SetMainWindow(&main);
    const plat::WinId mainId = main.GetWindowHandle();
    g_appEvents.clear();
    app.SetEventCallback(RecordAppEvent);
    int step = 0;
    P.Script([&] {
        step = 1;
        EXPECT_TRUE(main.GetAppLoopFlag());
        EXPECT_TRUE(app.IsEventHandlerInstalled());
        child.Close();  // a child's closing leaves the loop running
    });
    P.Script([&] {
        step = 2;
        stray.Close();  // so does a parentless window that does not run it
    });
    P.Script([&] {
        step = 3;
        main.SetFocus();  // shown (an update) and activated
    });
    P.Script([&] {
        step = 4;
        main.Close();
    });
    EXPECT_EQ(CQNF_App::DoAppSpecialModal(), 0);
    EXPECT_EQ(step, 4);
    EXPECT_FALSE(main.GetAppLoopFlag());
    EXPECT_EQ(qnui::Toolkit::Get().LoopDepth(), 0u);
    // The host heard the window update and the application's activation
    // while the loop ran, and nothing after it.
    std::vector<int> kinds;
    for (const auto& e : g_appEvents)
        kinds.push_back(e.kind);
    EXPECT_EQ(kinds, (std::vector<int>{qntAPPEVENT::WindowUpdate, qntAPPEVENT::Activated}));
    ASSERT_FALSE(g_appEvents.empty());
    EXPECT_EQ(g_appEvents.front().window, mainId);
}

TEST_F(AppTest, RunWithoutCallbackInstallsNoHandler)
{
    Resources([](qnui::ResourceWriter& w) { Background(w, "W", {0, 0, 50, 50}); });
    RecWindow main;
    ASSERT_TRUE(main.CreateFromResource(CQNF_String("W"), 10, 10, nullptr, 0));
    app.SetMainWindow(&main);
    bool installed = true;
    P.Script([&] {
        installed = app.IsEventHandlerInstalled();
        main.Close();
    });
    app.Run();
    EXPECT_FALSE(installed);
}

TEST_F(AppTest, LoopWithNothingToEndItFailsLoudly)
{
    Resources([](qnui::ResourceWriter& w) { Background(w, "W", {0, 0, 50, 50}); });
    RecWindow main;
    ASSERT_TRUE(main.CreateFromResource(CQNF_String("W"), 10, 10, nullptr, 0));
    app.SetMainWindow(&main);
    EXPECT_THROW(app.Run(), plat::LoopStuck);
    // With a timer ticking the loop never waits forever: the budget ends it.
    ASSERT_TRUE(main.SetTimer(10, 1));
    P.SetLoopBudget(50);
    EXPECT_THROW(app.Run(), plat::LoopStuck);
    EXPECT_GE(main.ticks.size(), 40u);
    EXPECT_EQ(qnui::Toolkit::Get().LoopDepth(), 0u);
}

TEST_F(AppTest, NoBackendFailsCleanly)
{
    Resources([](qnui::ResourceWriter& w) { Background(w, "W", {0, 0, 50, 50}); });
    qnui::Toolkit::Get().Attach(nullptr);
    RecWindow w;
    EXPECT_FALSE(w.CreateFromResource(CQNF_String("W"), 10, 10, nullptr, 0));
    EXPECT_EQ(w.GetError(), qnerr::WindowPlatform);
    EXPECT_FALSE(w.SetTimer(10, 1));
    EXPECT_EQ(w.DoModal(), -1);
    EXPECT_EQ(CQNF_App::PlatformMessageBox("t", "x", nullptr), -1);
    app.SetMainWindow(&w);
    EXPECT_EQ(app.Run(), 0);
}
