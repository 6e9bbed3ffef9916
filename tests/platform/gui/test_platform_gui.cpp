// The GTK backend's desktop dialogs on a real X display without a window
// manager (run under Xvfb): the file dialogs list the caller's files only,
// under the caller's filter name, and the alert opens over its window.
#include "platform/Backend.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::unique_ptr<plat::Platform> g_platform;

class PlatformGui : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::string error;
        g_platform = plat::OpenGtk(error);
        ASSERT_TRUE(g_platform) << error;
    }
    static void TearDownTestSuite() { g_platform.reset(); }

    // Runs f from the dialog's own loop, once a visible window of the kind
    // is up, with that window; false when none came within a minute.
    struct WhenUp {
        GType type;
        std::function<void(GtkWindow*)> f;
        int ticks = 0;
        bool ran = false;
    };
    static guint Watch(WhenUp& w)
    {
        return g_timeout_add(50, +[](gpointer data) -> gboolean {
            auto* w = static_cast<WhenUp*>(data);
            GList* all = gtk_window_list_toplevels();
            GtkWindow* found = nullptr;
            for (GList* l = all; l; l = l->next)
                if (G_TYPE_CHECK_INSTANCE_TYPE(l->data, w->type) && gtk_widget_get_mapped(GTK_WIDGET(l->data)))
                    found = GTK_WINDOW(l->data);
            g_list_free(all);
            if (!found)
                return ++w->ticks < 1200;
            w->ran = true;
            w->f(found);
            return G_SOURCE_REMOVE;
        }, &w);
    }
};

TEST_F(PlatformGui, FileDialogsListOnlyTheCallersFiles)
{
    struct Kind {
        const char* what;
        bool save;
    };
    for (const Kind k : {Kind{"open", false}, Kind{"save", true}}) {
        plat::FileDialogSpec ask;
        ask.title = std::string("Export ") + k.what;
        ask.filter = [](const std::string& name) { return name.size() > 4 && name.ends_with(".eps"); };
        ask.filterName = "Encapsulated PostScript (.eps)";
        std::string name;
        std::vector<std::string> listed;
        WhenUp up{GTK_TYPE_FILE_CHOOSER_DIALOG, [&](GtkWindow* d) {
                      GtkFileChooser* chooser = GTK_FILE_CHOOSER(d);
                      if (GtkFileFilter* f = gtk_file_chooser_get_filter(chooser)) {
                          name = gtk_file_filter_get_name(f);
                          for (const char* file : {"knives.eps", "layout.qntd", "photo.png"}) {
                              GtkFileFilterInfo info{};
                              info.contains = GTK_FILE_FILTER_DISPLAY_NAME;
                              info.display_name = file;
                              if (gtk_file_filter_filter(f, &info))
                                  listed.push_back(file);
                          }
                      }
                      gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
                  }};
        Watch(up);
        std::string path;
        plat::SaveChoice choice;
        const bool chosen = k.save ? g_platform->FileSaveDialog(ask, choice) : g_platform->FileOpenDialog(ask, path);
        ASSERT_TRUE(up.ran) << k.what << ": no dialog came";
        EXPECT_FALSE(chosen) << k.what;
        EXPECT_EQ(name, ask.filterName) << k.what;
        EXPECT_EQ(listed, std::vector<std::string>{"knives.eps"}) << k.what;
    }
}

TEST_F(PlatformGui, AlertOpensCentredOverItsWindow)
{
    // Its window at either end of the screen, named or (an error the
    // engine reports) the active one: the alert follows it.
    const std::string geometry = ::testing::TempDir() + "alert_geometry_" + std::to_string(getpid()) + ".txt";
    struct Case {
        plat::Point at;
        bool named;
    };
    for (const Case c : {Case{{40, 60}, true}, Case{{760, 600}, true}, Case{{700, 80}, false}}) {
        const plat::Point at = c.at;
        plat::WindowSpec window;
        window.name = "Alert Parent";
        window.pos = at;
        window.width = 480;
        window.height = 360;
        const plat::WinId parent = g_platform->CreateWindow(window);
        ASSERT_NE(parent, 0u);
        g_platform->Show(parent);
        g_platform->Activate(parent);
        // The user reads where the alert is, then answers it with Return.
        std::remove(geometry.c_str());
        WhenUp up{GTK_TYPE_MESSAGE_DIALOG, [&](GtkWindow*) {
                      const std::string cmd =
                          "d=$(xdotool search --onlyvisible --name '^Alert Parent$' | head -1); "
                          "for w in $(xdotool search --onlyvisible --classname test_platform_gui); do "
                          "[ \"$w\" != \"$d\" ] && a=$w; done; xdotool getwindowgeometry --shell $a > " + geometry +
                          "; xdotool windowfocus --sync $a key Return";
                      EXPECT_EQ(std::system(("(" + cmd + ") > /dev/null 2>&1 &").c_str()), 0);
                  }};
        Watch(up);
        g_platform->Alert("Cannot write file...", "The disk is full.", c.named ? parent : 0);
        ASSERT_TRUE(up.ran) << "no alert came";
        std::map<std::string, int> read;
        std::ifstream in(geometry);
        for (std::string line; std::getline(in, line);)
            if (const size_t eq = line.find('='); eq != std::string::npos)
                read[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
        const int x = read["X"], y = read["Y"], w = read["WIDTH"], h = read["HEIGHT"];
        ASSERT_GT(w, 0) << "the alert's place was not read";
        const plat::Rect r = g_platform->ContentRect(parent);
        EXPECT_NEAR(x + w / 2, (r.left + r.right) / 2, 4) << "window at " << at.x << "," << at.y << ": alert at " << x;
        EXPECT_NEAR(y + h / 2, (r.top + r.bottom) / 2, 4) << "window at " << at.x << "," << at.y << ": alert at " << y;
        g_platform->DestroyWindow(parent);
    }
    std::remove(geometry.c_str());
}

}  // namespace
