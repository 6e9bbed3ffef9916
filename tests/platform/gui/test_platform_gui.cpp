// The GTK backend's desktop dialogs on a real X display (run under Xvfb,
// without a window manager unless a test starts one): the file dialogs
// list the caller's files only, under the caller's filter name, and open
// in the caller's folder over the caller's window; the alert opens over its
// window.
#include "platform/Backend.h"
#include "tests/need_program.h"

#include <gtest/gtest.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::unique_ptr<plat::Platform> g_platform;

// The desktop's list of recently used files, as another program's session
// left it: a file chooser that shows it shows files of other sessions.
std::string g_otherSessionsFile;
// The test's own folder, removed at the end.
std::string g_home;

void SeedRecentFiles()
{
    g_home = ::testing::TempDir() + "platform_gui_data_" + std::to_string(getpid());
    const std::string& home = g_home;
    std::filesystem::create_directories(home);
    g_otherSessionsFile = home + "/someone else's picture.png";
    std::ofstream(g_otherSessionsFile) << "not ours";
    std::ofstream(home + "/recently-used.xbel")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<xbel version=\"1.0\" xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\" "
           "xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
           "<bookmark href=\"file://" << g_otherSessionsFile << "\" added=\"2024-01-01T00:00:00Z\" "
           "modified=\"2024-01-01T00:00:00Z\" visited=\"2024-01-01T00:00:00Z\"><info><metadata "
           "owner=\"http://freedesktop.org\"><mime:mime-type type=\"image/png\"/><bookmark:applications>"
           "<bookmark:application name=\"viewer\" exec=\"viewer %u\" modified=\"2024-01-01T00:00:00Z\" "
           "count=\"1\"/></bookmark:applications></metadata></info></bookmark>\n</xbel>\n";
    setenv("XDG_DATA_HOME", home.c_str(), 1);
}

// A window manager on the test's display, for as long as the object lives.
class WindowManager {
public:
    WindowManager() : m_ready(g_home + "/openbox ready")
    {
        std::remove(m_ready.c_str());
        // It runs the start-up command once it manages the screen: windows
        // mapped before then may be lost.
        std::string prog = "openbox", flag = "--startup", cmd = "touch '" + m_ready + "'";
        char* argv[] = {prog.data(), flag.data(), cmd.data(), nullptr};
        if (posix_spawnp(&m_pid, "openbox", nullptr, nullptr, argv, environ) != 0)
            m_pid = 0;
    }
    ~WindowManager()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        std::remove(m_ready.c_str());
    }
    bool WaitUntilManaging() const
    {
        for (int i = 0; m_pid > 0 && i < 600; ++i) {
            if (std::filesystem::exists(m_ready))
                return true;
            g_usleep(50000);
        }
        return false;
    }

private:
    std::string m_ready;
    pid_t m_pid = 0;
};

class PlatformGui : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        SeedRecentFiles();
        std::string error;
        g_platform = plat::OpenGtk(error);
        ASSERT_TRUE(g_platform) << error;
    }
    static void TearDownTestSuite()
    {
        g_platform.reset();
        std::filesystem::remove_all(g_home);
    }

    // A window of the program, shown and active; 0 when none was made.
    static plat::WinId ShowWindow(const char* name, plat::Point at, uint16_t width, uint16_t height)
    {
        plat::WindowSpec window;
        window.name = name;
        window.pos = at;
        window.width = width;
        window.height = height;
        const plat::WinId w = g_platform->CreateWindow(window);
        if (w) {
            g_platform->Show(w);
            g_platform->Activate(w);
        }
        return w;
    }

    // Runs f from the dialog's own loop, once a visible window of the kind
    // is up (and ready says so, or ten seconds passed), with that window;
    // false when none came within a minute.
    struct WhenUp {
        GType type;
        std::function<void(GtkWindow*)> f;
        std::function<bool(GtkWindow*)> ready;
        int ticks = 0;
        int waited = 0;
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
            if (w->ready && !w->ready(found) && ++w->waited < 200)
                return G_SOURCE_CONTINUE;
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
                  },
                  {}};
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

// Reads an X window's place as the user sees it, once it is shown: a
// line KEY=VALUE each of xdotool's.
std::map<std::string, int> ReadGeometry(const std::string& file)
{
    std::map<std::string, int> read;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);)
        if (const size_t eq = line.find('='); eq != std::string::npos)
            read[line.substr(0, eq)] = std::atoi(line.c_str() + eq + 1);
    return read;
}

// Every label a dialog shows, as the user reads them.
void ShownLabels(GtkWidget* w, std::vector<std::string>& out)
{
    if (!gtk_widget_get_visible(w) || !gtk_widget_get_child_visible(w))
        return;
    if (GTK_IS_LABEL(w))
        out.push_back(gtk_label_get_text(GTK_LABEL(w)));
    if (GTK_IS_CONTAINER(w)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(w));
        for (GList* l = children; l; l = l->next)
            ShownLabels(GTK_WIDGET(l->data), out);
        g_list_free(children);
    }
}

TEST_F(PlatformGui, FileDialogsOpenInTheCallersFolderOverItsWindow)
{
    NEED_PROGRAM("openbox", "openbox");
    NEED_PROGRAM("xprop", "x11-utils");
    // The caller names a folder, or none (then the folder the program was
    // started in); the dialog is asked from a window near the screen's
    // top-left corner (where a dialog placed by nobody would also land)
    // and from one far from it; without a window manager, then with one.
    const std::string named = g_home + "/dialog folder";
    std::filesystem::create_directories(named);
    const std::string cwd = std::filesystem::current_path().string();
    const std::string geometry = g_home + "/chooser_geometry.txt";
    // A caller that names no window has the dialog over the active one.
    struct Case {
        bool save;
        bool folderNamed;
        plat::Point at;
        bool parentNamed = true;
    };
    const Case cases[] = {{false, false, {300, 250}}, {true, true, {900, 420}}, {false, true, {900, 420}},
                          {true, false, {300, 250}}, {false, true, {900, 420}, false}};
    std::unique_ptr<WindowManager> manager;
    for (const bool managed : {false, true}) {
        if (managed) {
            manager = std::make_unique<WindowManager>();
            ASSERT_TRUE(manager->WaitUntilManaging()) << "openbox did not start";
        }
        int n = 0;
        for (const Case& c : cases) {
            const std::string what = std::string(managed ? "with" : "without") + " a window manager, " +
                                     (c.save ? "save" : "open") + " dialog " + std::to_string(++n);
            const plat::WinId parent = ShowWindow("Chooser Parent", c.at, 860, 640);
            ASSERT_NE(parent, 0u);
            // Shown as the user sees it (with a window manager, taken in
            // and given its frame) before the user can ask anything of it.
            const std::string shown = "w=$(xdotool search --onlyvisible --name '^Chooser Parent$' | head -1); "
                                      "[ -n \"$w\" ]" +
                                      std::string(managed ? " && xprop -id $w _NET_FRAME_EXTENTS | grep -q =" : "");
            bool isShown = false;
            for (int i = 0; i < 600 && !isShown; ++i) {
                g_platform->WaitForEvents(50);
                isShown = std::system(("(" + shown + ") > /dev/null 2>&1").c_str()) == 0;
            }
            ASSERT_TRUE(isShown) << what << ": the window did not come";
            plat::FileDialogSpec ask;
            ask.title = "Chooser " + std::to_string(n) + (managed ? "m" : "u");
            ask.parent = c.parentNamed ? parent : 0;
            if (c.folderNamed)
                ask.folder = named;
            std::string folder = "(none)";
            std::vector<std::string> labels;
            std::remove(geometry.c_str());
            WhenUp up{GTK_TYPE_FILE_CHOOSER_DIALOG, [&](GtkWindow* d) {
                          if (gchar* f = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(d))) {
                              folder = f;
                              g_free(f);
                          }
                          ShownLabels(GTK_WIDGET(d), labels);
                          // Where the user sees it, read once it is on the
                          // screen; then the user closes it with Escape.
                          const std::string cmd = "a=$(xdotool search --sync --onlyvisible --name '^" + ask.title +
                                                  "$' | head -1); xdotool getwindowgeometry --shell $a > " +
                                                  geometry + ".part && mv " + geometry + ".part " + geometry +
                                                  "; xdotool windowfocus --sync $a key Escape";
                          EXPECT_EQ(std::system(("(" + cmd + ") > /dev/null 2>&1 &").c_str()), 0);
                      },
                      // The chooser names its folder once it has read it.
                      [](GtkWindow* d) {
                          gchar* f = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(d));
                          g_free(f);
                          return f != nullptr;
                      }};
            Watch(up);
            std::string path;
            plat::SaveChoice choice;
            const bool chosen = c.save ? g_platform->FileSaveDialog(ask, choice) : g_platform->FileOpenDialog(ask, path);
            ASSERT_TRUE(up.ran) << what << ": no dialog came";
            EXPECT_FALSE(chosen) << what;
            EXPECT_EQ(folder, c.folderNamed ? named : cwd) << what;
            for (const std::string& l : labels)
                EXPECT_NE(l, "Recent") << what << ": the desktop's recent files are offered";
            std::map<std::string, int> read = ReadGeometry(geometry);
            const int x = read["X"], y = read["Y"], w = read["WIDTH"], h = read["HEIGHT"];
            EXPECT_GT(w, 0) << what << ": the dialog's place was not read";
            // Centred over the window, as far as the screen lets it; a
            // window manager's title bar moves it a little.
            const plat::Rect r = g_platform->ContentRect(parent), s = g_platform->DesktopBounds();
            const int left = std::clamp((r.left + r.right - w) / 2, s.left, s.right - w);
            const int top = std::clamp((r.top + r.bottom - h) / 2, s.top, s.bottom - h);
            EXPECT_NEAR(x, left, 48) << what << ": window at " << c.at.x << "," << c.at.y << ", dialog at " << x
                                     << "," << y;
            EXPECT_NEAR(y, top, 48) << what << ": window at " << c.at.x << "," << c.at.y << ", dialog at " << x
                                    << "," << y;
            g_platform->DestroyWindow(parent);
        }
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
        const plat::WinId parent = ShowWindow("Alert Parent", at, 480, 360);
        ASSERT_NE(parent, 0u);
        // The user reads where the alert is, then answers it with Return.
        std::remove(geometry.c_str());
        WhenUp up{GTK_TYPE_MESSAGE_DIALOG, [&](GtkWindow*) {
                      const std::string cmd =
                          "d=$(xdotool search --onlyvisible --name '^Alert Parent$' | head -1); "
                          "for w in $(xdotool search --onlyvisible --classname test_platform_gui); do "
                          "[ \"$w\" != \"$d\" ] && a=$w; done; xdotool getwindowgeometry --shell $a > " + geometry +
                          "; xdotool windowfocus --sync $a key Return";
                      EXPECT_EQ(std::system(("(" + cmd + ") > /dev/null 2>&1 &").c_str()), 0);
                  },
                  {}};
        Watch(up);
        g_platform->Alert("Cannot write file...", "The disk is full.", c.named ? parent : 0);
        ASSERT_TRUE(up.ran) << "no alert came";
        std::map<std::string, int> read = ReadGeometry(geometry);
        const int x = read["X"], y = read["Y"], w = read["WIDTH"], h = read["HEIGHT"];
        ASSERT_GT(w, 0) << "the alert's place was not read";
        const plat::Rect r = g_platform->ContentRect(parent);
        EXPECT_NEAR(x + w / 2, (r.left + r.right) / 2, 4) << "window at " << at.x << "," << at.y << ": alert at " << x;
        EXPECT_NEAR(y + h / 2, (r.top + r.bottom) / 2, 4) << "window at " << at.x << "," << at.y << ": alert at " << y;
        g_platform->DestroyWindow(parent);
    }
    std::remove(geometry.c_str());
}

// The label of a window (or of any widget in it) that says text; null
// when none does.
GtkLabel* LabelSaying(GtkWidget* w, const std::string& text)
{
    if (GTK_IS_LABEL(w) && gtk_label_get_text(GTK_LABEL(w)) == text)
        return GTK_LABEL(w);
    GtkLabel* found = nullptr;
    if (GTK_IS_CONTAINER(w)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(w));
        for (GList* l = children; l && !found; l = l->next)
            found = LabelSaying(GTK_WIDGET(l->data), text);
        g_list_free(children);
    }
    return found;
}

// The box that refuses a chosen name, over its chooser on a display without
// a window manager (which would draw no title): its headline is drawn in
// the box, a name of 245 characters, broken inside, keeps the box within
// the screen, and what to do is said once (the reason comes as the command
// line words it, with its own advice).
TEST_F(PlatformGui, TheRefusalBoxShowsItsHeadlineAndKeepsALongNameOnTheScreen)
{
    // A long file name without a space: nowhere a line could end between
    // words, and no "/" in it to break after.
    std::string name = "/home/someone/Pictures/";
    for (int i = 0; name.size() < 230; ++i)
        name += "exported_puzzle_pieces_of_the_holiday_" + std::to_string(i) + "_";
    name += "pieces.png";
    ASSERT_GE(name.size(), 240u);
    plat::FileDialogSpec ask;
    ask.title = "Refusing Chooser";
    const std::string input = "/home/someone/Pictures/in.png";
    ask.refusal = [&name, &input](const std::string&) {
        return QnRefusal{name, "it would write over the input " + input + "; name another output"};
    };
    // The chooser takes a name; the box comes over it.
    const std::string typed = "zq refused.png";
    const std::string find = "a=$(xdotool search --sync --onlyvisible --name '^" + ask.title + "$' | head -1); ";
    // The name is typed, and once the chooser holds it, Return takes it: a
    // chooser may take the first Return for itself (completing the name),
    // so it is pressed again, a second apart, until a box is there.
    const auto boxMade = [] {
        GList* all = gtk_window_list_toplevels();
        bool made = false;
        for (GList* l = all; l; l = l->next)
            made |= GTK_IS_MESSAGE_DIALOG(l->data);
        g_list_free(all);
        return made;
    };
    WhenUp entered{GTK_TYPE_FILE_CHOOSER_DIALOG, [&](GtkWindow*) {
                       g_timeout_add(1000, +[](gpointer data) -> gboolean {
                           auto* made = static_cast<decltype(boxMade)*>(data);
                           if ((*made)())
                               return G_SOURCE_REMOVE;
                           EXPECT_EQ(std::system("xdotool key Return >/dev/null 2>&1"), 0);
                           return G_SOURCE_CONTINUE;
                       }, const_cast<void*>(static_cast<const void*>(&boxMade)));
                       EXPECT_EQ(std::system("xdotool key Return >/dev/null 2>&1"), 0);
                   },
                   [&typed](GtkWindow* d) {
                       gchar* name = gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(d));
                       const bool holds = name && typed == name;
                       g_free(name);
                       return holds;
                   }};
    WhenUp chooser{GTK_TYPE_FILE_CHOOSER_DIALOG, [&](GtkWindow*) {
                       EXPECT_EQ(std::system(("(" + find + "xdotool windowfocus --sync $a key ctrl+a type --delay 8 '" +
                                              typed + "') >/dev/null 2>&1 &").c_str()), 0);
                       Watch(entered);
                   },
                   // Once the chooser has read its folder.
                   [](GtkWindow* d) {
                       gchar* f = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(d));
                       g_free(f);
                       return f != nullptr;
                   }};
    // Once the box is gone, the chooser that stayed open is cancelled.
    WhenUp again{GTK_TYPE_FILE_CHOOSER_DIALOG,
                 [](GtkWindow* d) { gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL); },
                 [](GtkWindow*) {
                     GList* all = gtk_window_list_toplevels();
                     bool up = false;
                     for (GList* l = all; l; l = l->next)
                         up |= GTK_IS_MESSAGE_DIALOG(l->data) && gtk_widget_get_mapped(GTK_WIDGET(l->data));
                     g_list_free(all);
                     return !up;
                 }};
    struct Seen {
        std::string title;
        GdkRectangle box{}, headline{};
        int inked = 0, nameLines = 0, firstLine = 0;
        bool drawn = false;
        std::vector<std::string> texts;
    } seen;
    WhenUp box{GTK_TYPE_MESSAGE_DIALOG, [&](GtkWindow* d) {
                   GtkWidget* w = GTK_WIDGET(d);
                   GdkWindow* x = gtk_widget_get_window(w);
                   gdk_window_get_origin(x, &seen.box.x, &seen.box.y);
                   seen.box.width = gdk_window_get_width(x);
                   seen.box.height = gdk_window_get_height(x);
                   seen.title = gtk_window_get_title(d) ? gtk_window_get_title(d) : "";
                   // What the screen shows of the box, as X has it.
                   GdkPixbuf* shot = gdk_pixbuf_get_from_window(x, 0, 0, seen.box.width, seen.box.height);
                   if (const char* dir = std::getenv("TESSOLO_SNAPSHOT_DIR"); dir && *dir && shot)
                       gdk_pixbuf_save(shot, (std::string(dir) + "/platform_refusal_box.png").c_str(), "png",
                                       nullptr, nullptr);
                   if (GtkLabel* head = LabelSaying(w, plat::kRefusedSaveTitle); head && shot) {
                       int hx = 0, hy = 0;
                       gtk_widget_translate_coordinates(GTK_WIDGET(head), w, 0, 0, &hx, &hy);
                       seen.headline = {hx, hy, gtk_widget_get_allocated_width(GTK_WIDGET(head)),
                                        gtk_widget_get_allocated_height(GTK_WIDGET(head))};
                       // Pixels of the headline's place that differ from its
                       // corner's (the box's ground): its letters.
                       const int stride = gdk_pixbuf_get_rowstride(shot), n = gdk_pixbuf_get_n_channels(shot);
                       const guchar* px = gdk_pixbuf_get_pixels(shot);
                       const auto at = [&](int px_, int py_) { return px + py_ * stride + px_ * n; };
                       const guchar* ground = at(hx, hy);
                       for (int yy = hy; yy < hy + seen.headline.height && yy < seen.box.height; ++yy)
                           for (int xx = hx; xx < hx + seen.headline.width && xx < seen.box.width; ++xx)
                               seen.inked += std::abs(at(xx, yy)[0] - ground[0]) + std::abs(at(xx, yy)[1] - ground[1]) +
                                                 std::abs(at(xx, yy)[2] - ground[2]) >
                                             120;
                   }
                   if (GtkLabel* named = LabelSaying(w, name)) {
                       PangoLayout* layout = gtk_label_get_layout(named);
                       seen.nameLines = pango_layout_get_line_count(layout);
                       seen.firstLine = pango_layout_get_line_readonly(layout, 0)->length;
                   }
                   ShownLabels(w, seen.texts);
                   if (shot)
                       g_object_unref(shot);
                   // The user answers it with Return.
                   const std::string id = std::to_string(gdk_x11_window_get_xid(x));
                   EXPECT_EQ(std::system(("xdotool windowfocus --sync " + id + " key Return >/dev/null 2>&1 &").c_str()),
                             0);
                   Watch(again);
               },
               // Once it has been drawn.
               [&seen](GtkWindow* d) {
                   if (!seen.drawn && !g_object_get_data(G_OBJECT(d), "watched")) {
                       g_object_set_data(G_OBJECT(d), "watched", &seen);
                       g_signal_connect_after(d, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer s) -> gboolean {
                                                  static_cast<Seen*>(s)->drawn = true;
                                                  return FALSE;
                                              }),
                                              &seen);
                       gtk_widget_queue_draw(GTK_WIDGET(d));
                   }
                   return seen.drawn;
               }};
    Watch(chooser);
    Watch(box);
    plat::SaveChoice choice;
    EXPECT_FALSE(g_platform->FileSaveDialog(ask, choice));
    ASSERT_TRUE(chooser.ran && entered.ran && again.ran) << "the chooser did not come, or did not stay";
    ASSERT_TRUE(box.ran) << "no refusal box came";
    EXPECT_EQ(seen.title, plat::kRefusedSaveTitle);
    EXPECT_GT(seen.headline.width, 0) << "the headline is not in the box";
    EXPECT_GT(seen.inked, 40) << "the headline is not drawn";
    EXPECT_GE(seen.nameLines, 3) << "the name is not broken into lines";
    EXPECT_GT(seen.firstLine, 40) << "the name breaks after its first folder";
    const plat::Rect screen = g_platform->DesktopBounds();
    EXPECT_GE(seen.box.x, screen.left);
    EXPECT_LE(seen.box.x + seen.box.width, screen.right) << "the box is " << seen.box.width << " pixels wide";
    EXPECT_LE(seen.box.width, 1000) << "the box is wider than its text needs";
    // Why, without the command line's advice, and what to do, once.
    const auto says = [&seen](const std::string& text) {
        return std::count(seen.texts.begin(), seen.texts.end(), text);
    };
    EXPECT_EQ(says("It would write over the input " + input + "."), 1);
    EXPECT_EQ(says(plat::DescribeRefusal({name, "no"}, name).advice), 1);
    EXPECT_EQ(std::count_if(seen.texts.begin(), seen.texts.end(),
                            [](const std::string& t) { return t.find("another") != std::string::npos; }),
              1);
}

}  // namespace

namespace {

plat::MenuItem Item(const char* text)
{
    plat::MenuItem item;
    item.text = text;
    return item;
}

// Under a window manager a press that opens a menu gives its release to the
// menu; a move the manager makes afterwards must still reach the window's
// place, or every later click is taken for where the window was.
TEST_F(PlatformGui, AWindowMovedByTheManagerAfterAMenuIsWhereItWent)
{
    NEED_PROGRAM("openbox", "openbox");
    WindowManager manager;
    ASSERT_TRUE(manager.WaitUntilManaging()) << "openbox did not start";
    struct Presses : plat::EventSink {
        int count = 0;
        void Push(const plat::Event& e) override { count += e.kind == plat::Kind::MouseDown; }
    } presses;
    g_platform->SetSink(&presses);
    const plat::WinId w = ShowWindow("Moved Window", {300, 250}, 400, 300);
    ASSERT_NE(w, 0u);
    const auto pump = [](const std::function<bool()>& done) {
        for (int i = 0; i < 1200 && !done(); ++i)
            g_platform->WaitForEvents(50);
        return done();
    };
    const std::string find = "w=$(xdotool search --onlyvisible --name '^Moved Window$' | head -1); [ -n \"$w\" ]";
    ASSERT_TRUE(pump([&] {
        return std::system(("(" + find + " && xprop -id $w _NET_FRAME_EXTENTS | grep -q =) >/dev/null 2>&1").c_str()) == 0;
    })) << "the window did not come";
    const plat::Rect before = g_platform->ContentRect(w);
    const std::string inside = std::to_string(before.left + 100) + " " + std::to_string(before.top + 100);
    ASSERT_EQ(std::system(("xdotool mousemove " + inside + " mousedown 1").c_str()), 0);
    ASSERT_TRUE(pump([&] { return presses.count > 0; })) << "the press did not reach the window";
    // Once the menu is up, the button is let go and the menu dismissed.
    struct Release {
        int ticks = 0;
    } release;
    g_timeout_add(50, +[](gpointer data) -> gboolean {
        auto* r = static_cast<Release*>(data);
        GList* all = gtk_window_list_toplevels();
        bool up = false;
        for (GList* l = all; l; l = l->next)
            up |= gtk_window_get_window_type(GTK_WINDOW(l->data)) == GTK_WINDOW_POPUP &&
                  gtk_widget_get_mapped(GTK_WIDGET(l->data)) && GTK_IS_MENU(gtk_bin_get_child(GTK_BIN(l->data)));
        g_list_free(all);
        if (!up)
            return ++r->ticks < 1200;
        EXPECT_EQ(std::system("xdotool mouseup 1 sleep 0.2 key Escape >/dev/null 2>&1"), 0);
        return G_SOURCE_REMOVE;
    }, &release);
    EXPECT_EQ(g_platform->PopupMenu(w, {before.left + 250, before.top + 200}, {Item("Item")}), -1);
    ASSERT_EQ(std::system(("(" + find + " && xdotool windowmove $w 700 500) >/dev/null 2>&1").c_str()), 0);
    EXPECT_TRUE(pump([&] { return g_platform->ContentRect(w).left != before.left; }))
        << "the window is still taken to be at " << before.left << "," << before.top;
    // Where X has it.
    const std::string geometry = g_home + "/moved_geometry.txt";
    ASSERT_EQ(std::system(("(" + find + " && xdotool getwindowgeometry --shell $w > '" + geometry + "') 2>/dev/null").c_str()), 0);
    std::map<std::string, int> read = ReadGeometry(geometry);
    const plat::Rect after = g_platform->ContentRect(w);
    EXPECT_EQ(after.left, read["X"]);
    EXPECT_EQ(after.top, read["Y"]);
    EXPECT_EQ(g_platform->WindowAt({after.left + 200, after.top + 150}), w);
    g_platform->SetSink(nullptr);
    g_platform->DestroyWindow(w);
}

}  // namespace
