// Driving the real programs on an X display (a virtual one under xvfb-run)
// from outside, as a person does: tessolo-host started in a child process,
// windows found by their names, the mouse and keyboard through xdotool,
// pictures of windows taken with ImageMagick's import. Shared by the GUI
// tests and the journeys; the including target defines TESSOLO_HOST_FILE,
// TESSOLO_BUNDLE_DIR and TESSOLO_SOURCE_DIR.
#pragma once

#include "hostapp/RasterImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace guidrive {

inline const std::string kSample = std::string(TESSOLO_SOURCE_DIR) + "/samples/sample.png";

inline void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// What a command printed on its standard output.
inline std::string Capture(const std::string& cmd)
{
    std::string out;
    FILE* p = popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!p)
        return out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

// tessolo-host with the plug-in of bundle, in a child process; its standard
// error to errFile when one is named.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& bundle = TESSOLO_BUNDLE_DIR,
                   const std::string& errFile = "")
{
    std::vector<std::string> all = {TESSOLO_HOST_FILE, "--plugin", bundle + "/Tessolo.so"};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = fork();
    if (pid == 0) {
        if (!errFile.empty()) {
            const int fd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 || ::dup2(fd, 2) < 0)
                _exit(127);
        }
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// The exit code, or -1 when the child is still running after ms (then killed).
inline int WaitExit(pid_t pid, int ms)
{
    int status = 0;
    for (int waited = 0; waited < ms; waited += 50) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        Sleep(50);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

struct Geometry {
    std::string id;
    int x = 0, y = 0;
};

// Reads where the window g.id is into g.x and g.y; false when that cannot
// be read.
inline bool ReadPosition(Geometry& g)
{
    const std::string geo = Capture("xdotool getwindowgeometry --shell " + g.id);
    const size_t x = geo.find("X="), y = geo.find("Y=");
    if (x == std::string::npos || y == std::string::npos)
        return false;
    g.x = std::atoi(geo.c_str() + x + 2);
    g.y = std::atoi(geo.c_str() + y + 2);
    return true;
}

// The visible window with this title; an empty id when none came in time.
inline Geometry FindWindow(const std::string& title, int ms = 60000)
{
    Geometry g;
    for (int waited = 0; waited < ms; waited += 200) {
        const std::string ids = Capture("xdotool search --onlyvisible --name '^" + title + "$'");
        if (!ids.empty()) {
            g.id = ids.substr(0, ids.find('\n'));
            if (ReadPosition(g)) {
                // Let the first paint and the timers settle.
                Sleep(800);
                return g;
            }
        }
        Sleep(200);
    }
    return Geometry{};
}

inline void Click(const Geometry& g, int x, int y)
{
    const std::string cmd = "xdotool mousemove " + std::to_string(g.x + x) + " " + std::to_string(g.y + y) +
                            " sleep 0.3 click 1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

inline void Xdo(const std::string& args)
{
    ASSERT_EQ(std::system(("xdotool " + args).c_str()), 0) << args;
    Sleep(600);
}

// The screen as a PNG file in TESSOLO_SNAPSHOT_DIR (nothing without it).
inline void Snapshot(const char* name)
{
    const char* dir = std::getenv("TESSOLO_SNAPSHOT_DIR");
    if (!dir || !*dir)
        return;
    // A loaded machine may still be painting the window.
    Sleep(2000);
    if (std::system(("import -window root " + std::string(dir) + "/" + name).c_str()) != 0)
        ADD_FAILURE() << "no screenshot " << name;
}

inline std::string Temp(const char* name) { return ::testing::TempDir() + name; }

inline std::string UniqueFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tessolo_gui_XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

// A plug-in folder of its own in folder (its configuration, presets and
// last settings are written there): the bundle's plug-in and resource file.
inline void CopyBundle(const std::string& folder)
{
    for (const auto& f : std::filesystem::directory_iterator(TESSOLO_BUNDLE_DIR))
        if (f.path().extension() == ".so" || f.path().extension() == ".qns4")
            std::filesystem::copy(f.path(), folder + "/" + f.path().filename().string(),
                                  std::filesystem::copy_options::overwrite_existing);
}

// A plug-in folder of a test's own (see CopyBundle), removed at the end
// unless the test failed (what it wrote stays for a look): settings, presets
// and last settings never go to the build's plug-in folder, and no test sees
// another's.
struct PluginFolder {
    std::string path = UniqueFolder();
    PluginFolder()
    {
        EXPECT_FALSE(path.empty()) << "no temporary folder";
        if (!path.empty())
            CopyBundle(path);
    }
    ~PluginFolder()
    {
        if (!path.empty() && !::testing::Test::HasFailure())
            std::filesystem::remove_all(path);
    }
    PluginFolder(const PluginFolder&) = delete;
    PluginFolder& operator=(const PluginFolder&) = delete;
    std::string File(const std::string& name) const { return path + "/" + name; }
};

// A grab of the window as a picture; empty when import failed. import can
// wait for ever on a window destroyed while it reads it (a dialog that closed
// under a loaded machine), so it is given a bound; the callers wait in loops.
inline hostapp::RasterImage Grab(const Geometry& g, const std::string& file)
{
    hostapp::RasterImage img;
    std::string err;
    if (std::system(("timeout 20 import -window " + g.id + " " + file).c_str()) == 0)
        hostapp::ReadImageFile(file, img, err);
    return img;
}

// The screen as a picture.
inline hostapp::RasterImage GrabScreen(const std::string& file)
{
    hostapp::RasterImage img;
    std::string err;
    if (std::system(("import -window root " + file).c_str()) == 0)
        hostapp::ReadImageFile(file, img, err);
    return img;
}

// A rectangle of a window, right and bottom exclusive.
struct Area {
    int x0, y0, x1, y1;
};
// The main window's preview.
inline constexpr Area kMainPreview{26, 52, 706, 560};

// Pixels of area that differ by more than 8 in a colour plane between two
// grabs of one window; all of them when the grabs do not match in size.
inline size_t AreaDiff(const hostapp::RasterImage& a, const hostapp::RasterImage& b, Area r = kMainPreview)
{
    if (a.width != b.width || a.height != b.height || a.planes.size() < 3 || b.planes.size() < 3)
        return size_t(-1);
    size_t n = 0;
    for (int y = r.y0; y < std::min(r.y1, a.height); ++y)
        for (int x = r.x0; x < std::min(r.x1, a.width); ++x) {
            const size_t i = size_t(y) * a.width + x;
            for (int c = 0; c < 3; ++c)
                if (std::abs(a.planes[c][i] - b.planes[c][i]) > 8) {
                    ++n;
                    break;
                }
        }
    return n;
}

inline size_t PreviewDiff(const hostapp::RasterImage& a, const hostapp::RasterImage& b) { return AreaDiff(a, b); }

// Grabs the window until area matches ref (a window uncovered by a closing
// dialog or menu is painted again a little later on a loaded machine); the
// last difference.
inline size_t SettleLike(const Geometry& g, const hostapp::RasterImage& ref, const std::string& file, int ms = 60000,
                         Area area = kMainPreview)
{
    size_t diff = size_t(-1);
    for (int waited = 0; waited < ms; waited += 300) {
        diff = AreaDiff(ref, Grab(g, file), area);
        if (diff < 20)
            break;
        Sleep(300);
    }
    return diff;
}

// The window once painted and still: two grabs in a row alike, and an area
// that shows more than one colour; the last grab when that never came.
inline hostapp::RasterImage GrabSettled(const Geometry& g, const std::string& file, int ms = 60000,
                                        Area area = kMainPreview)
{
    hostapp::RasterImage last = Grab(g, file);
    for (int waited = 0; waited < ms; waited += 300) {
        Sleep(300);
        hostapp::RasterImage now = Grab(g, file);
        if (now.planes.size() >= 3 && AreaDiff(last, now, area) == 0) {
            // More than one colour: at least 1 pixel in 500 differs from the
            // first (a knife on a plain ground is enough).
            size_t varied = 0;
            const size_t first = size_t(area.y0) * now.width + area.x0;
            for (int y = area.y0; y < std::min(area.y1, now.height); ++y)
                for (int x = area.x0; x < std::min(area.x1, now.width); ++x) {
                    const size_t i = size_t(y) * now.width + x;
                    varied += now.planes[0][i] != now.planes[0][first] || now.planes[1][i] != now.planes[1][first] ||
                              now.planes[2][i] != now.planes[2][first];
                }
            if (varied > size_t((area.x1 - area.x0) * (area.y1 - area.y0) / 500))
                return now;
        }
        last = std::move(now);
    }
    return last;
}

// The window once area differs from ref in at least minDiff pixels (a
// loaded machine may take a while to show a change) and is still again; the
// last grab when the change never came.
inline hostapp::RasterImage GrabChanged(const Geometry& g, const hostapp::RasterImage& ref, const std::string& file,
                                        size_t minDiff, int ms = 180000, Area area = kMainPreview)
{
    for (int waited = 0; waited < ms; waited += 300) {
        const hostapp::RasterImage now = Grab(g, file);
        const size_t d = AreaDiff(ref, now, area);
        if (d != size_t(-1) && d >= minDiff)
            break;
        Sleep(300);
    }
    return GrabSettled(g, file, 30000, area);
}

// Waits until the screen within the window's area differs from before (a
// pop-up came, or went); false when it never did.
inline bool WaitScreenChange(const Geometry& g, int x0, int y0, int x1, int y1, const hostapp::RasterImage& before,
                             const std::string& file, int ms)
{
    for (int waited = 0; waited < ms; waited += 300) {
        const hostapp::RasterImage now = GrabScreen(file);
        if (now.width == before.width && now.height == before.height && now.planes.size() >= 3) {
            size_t n = 0;
            for (int y = g.y + y0; y < std::min(g.y + y1, now.height); ++y)
                for (int x = g.x + x0; x < std::min(g.x + x1, now.width); ++x) {
                    const size_t i = size_t(y) * now.width + x;
                    n += now.planes[0][i] != before.planes[0][i] || now.planes[1][i] != before.planes[1][i];
                }
            if (n > 50)
                return true;
        }
        Sleep(300);
    }
    return false;
}

// Waits until no visible window has this title; false when one still has.
inline bool WaitGone(const std::string& title, int ms)
{
    for (int waited = 0; waited < ms; waited += 200) {
        if (Capture("xdotool search --onlyvisible --name '^" + title + "$'").empty())
            return true;
        Sleep(200);
    }
    return false;
}

// Waits until path exists (a window that closed may still be writing its
// file on a loaded machine); false when it never came.
inline bool WaitFile(const std::string& path, int ms)
{
    for (int waited = 0; waited < ms; waited += 100) {
        if (std::filesystem::exists(path))
            return true;
        Sleep(100);
    }
    return std::filesystem::exists(path);
}

// An effect window takes its OK only while the main window renders no
// pieces (its OK and Cancel are disabled till then): once the main window's
// preview and the OK button have both been still for a few grabs in a row,
// OK is pressed once. False when the window did not go within ms.
inline bool PressOkOnceIdle(const Geometry& main, const Geometry& fx, const std::string& title, int okX, int okY,
                            const std::string& file, int ms = 120000)
{
    const Area ok{okX - 30, okY - 10, okX + 30, okY + 10};
    hostapp::RasterImage lastMain = Grab(main, file), lastFx = Grab(fx, file);
    for (int waited = 0, still = 0; waited < ms && still < 4; waited += 300) {
        Sleep(300);
        hostapp::RasterImage nowMain = Grab(main, file), nowFx = Grab(fx, file);
        still = AreaDiff(lastMain, nowMain) == 0 && AreaDiff(lastFx, nowFx, ok) == 0 ? still + 1 : 0;
        lastMain = std::move(nowMain);
        lastFx = std::move(nowFx);
    }
    Click(fx, okX, okY);
    return WaitGone(title, ms);
}

// Waits until the window is still: three grabs in a row, 300 ms apart,
// that differ in fewer than 30 pixels (a caret may blink).
inline void WaitStill(const Geometry& g, const std::string& file, int ms = 60000)
{
    const Area all{0, 0, 1 << 14, 1 << 14};
    hostapp::RasterImage last = Grab(g, file);
    for (int waited = 0, still = 0; waited < ms && still < 3; waited += 300) {
        Sleep(300);
        hostapp::RasterImage now = Grab(g, file);
        still = AreaDiff(last, now, all) < 30 ? still + 1 : 0;
        last = std::move(now);
    }
}

// Types a full path into a file dialog and confirms it with one Return,
// once the dialog shows the name still (a loaded machine may still be
// completing it in the background).
inline void ConfirmPath(const std::string& title, const std::string& typing)
{
    const Geometry dialog = FindWindow(title);
    ASSERT_FALSE(dialog.id.empty()) << title << " did not open";
    const std::string file = Temp("file_dialog.png");
    WaitStill(dialog, file);
    Xdo(typing);
    WaitStill(dialog, file);
    Xdo("key Return");
    if (WaitGone(title, 60000))
        return;
    Snapshot("gui_dialog_stuck.png");
    ADD_FAILURE() << title << " did not close";
}

// The open dialog given a full path in its location line (typing into the
// file list would search it).
inline void OpenPath(const std::string& title, const std::string& path)
{
    const Geometry dialog = FindWindow(title);
    ASSERT_FALSE(dialog.id.empty()) << title << " did not open";
    // Without a window manager a new window does not take the keyboard.
    Xdo("windowfocus --sync " + dialog.id);
    ConfirmPath(title, "key ctrl+l sleep 0.5 key ctrl+a type --delay 20 '" + path + "'");
}

// The save dialog given a full path as the name.
inline void SavePath(const std::string& title, const std::string& path)
{
    const Geometry dialog = FindWindow(title);
    ASSERT_FALSE(dialog.id.empty()) << title << " did not open";
    Xdo("windowfocus --sync " + dialog.id);
    ConfirmPath(title, "key ctrl+a type --delay 20 '" + path + "'");
}

// A grab of the window that could be read; an empty picture when none came
// within ms (a busy X server may refuse one now and then).
inline hostapp::RasterImage GrabValid(const Geometry& g, const std::string& file, int ms = 30000)
{
    for (int waited = 0; waited < ms; waited += 200) {
        hostapp::RasterImage img = Grab(g, file);
        if (img.planes.size() >= 3)
            return img;
        Sleep(200);
    }
    return {};
}

// Types a number into an edit line of the window and leaves it, which
// commits the value; (awayX, awayY) is a place of the window without a
// control. The keys go once the edit line shows that it has the focus; what
// the number changes is for the caller to wait for.
inline void TypeNumber(const Geometry& g, int x, int y, const char* digits, int awayX = 100, int awayY = 611)
{
    const std::string file = Temp("type_number.png");
    const Area edit{x - 20, y - 6, x + 20, y + 6};
    // Keys count once the edit line shows its caret or selection (a loaded
    // machine may still be handling the click). A click that the window
    // never took (it was not yet the focus window when the click came, or
    // another window lay over it) is made again, on the window raised and
    // where it is now; the digits are typed once, into the focused line only.
    const hostapp::RasterImage idle = GrabValid(g, file);
    ASSERT_GE(idle.planes.size(), 3u) << "no picture of the window " << g.id << " could be taken";
    bool focused = false;
    size_t most = 0;
    Geometry at = g;
    for (int attempt = 0; attempt < 4 && !focused; ++attempt) {
        // A program may place a window again after it first showed it.
        at = g;
        ReadPosition(at);
        // Without a window manager nothing keeps a window above another,
        // and a click does not give it the keyboard focus.
        ASSERT_EQ(std::system(("timeout 30 xdotool windowraise " + g.id + " windowfocus --sync " + g.id).c_str()), 0);
        Click(at, x, y);
        for (int waited = 0; waited < 30000 && !focused; waited += 200) {
            const size_t d = AreaDiff(idle, Grab(g, file), edit);
            if (d != size_t(-1))
                most = std::max(most, d);
            focused = d != size_t(-1) && d >= 10;
            if (!focused)
                Sleep(200);
        }
    }
    ASSERT_TRUE(focused) << "the edit line at " << x << "," << y << " did not take the focus (the window at "
                         << at.x << "," << at.y << ", first seen at " << g.x << "," << g.y << "; at most " << most
                         << " of its pixels changed)";
    // Digits as keys of the keyboard (typing them as text may remap a key
    // code first, and the first digit can get lost on the way).
    std::string cmd = "xdotool key End BackSpace BackSpace BackSpace BackSpace sleep 0.3 key --delay 120";
    for (const char* d = digits; *d; ++d)
        cmd += std::string(" ") + *d;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Click(at, awayX, awayY);
}

// The controls' rectangles as the skin's manifests lay them out, templates
// expanded: "window.control" (the first control of that name) and
// "window.control.kind" (the first of that kind, e.g. "edit") to its centre.
class Skin {
public:
    static const Skin& Get()
    {
        static const Skin skin;
        return skin;
    }
    // The centre of the control; a failure (and 0, 0) when the skin has none.
    std::pair<int, int> Centre(const std::string& window, const std::string& control,
                               const std::string& kind = "") const
    {
        const auto it = m_Centres.find(window + "." + control + (kind.empty() ? "" : "." + kind));
        if (it == m_Centres.end()) {
            ADD_FAILURE() << "no control " << control << " " << kind << " in window " << window;
            return {0, 0};
        }
        return it->second;
    }

private:
    // A sum like "372-40+2".
    static int Sum(const std::string& text)
    {
        int total = 0, sign = 1;
        size_t i = 0;
        while (i < text.size()) {
            if (text[i] == '+' || text[i] == '-') {
                sign = text[i++] == '-' ? -1 : 1;
                continue;
            }
            size_t used = 0;
            total += sign * std::stoi(text.substr(i), &used);
            i += used;
        }
        return total;
    }
    void Control(const std::string& window, const std::string& line)
    {
        std::istringstream words(line);
        std::string kind, name, rect;
        words >> kind >> name >> rect;
        std::vector<int> v;
        std::istringstream parts(rect);
        try {
            for (std::string p; std::getline(parts, p, ',');)
                v.push_back(Sum(p));
        } catch (const std::exception&) {
            return;  // a control without a name: its rectangle came second
        }
        if (v.size() != 4)
            return;
        const std::pair<int, int> centre{v[0] + v[2] / 2, v[1] + v[3] / 2};
        m_Centres.emplace(window + "." + name, centre);
        m_Centres.emplace(window + "." + name + "." + kind, centre);
    }
    Skin()
    {
        std::map<std::string, std::vector<std::string>> templates;
        for (const auto& f : std::filesystem::directory_iterator(std::string(TESSOLO_SOURCE_DIR) +
                                                                 "/resources/manifest")) {
            if (f.path().extension() != ".qnui")
                continue;
            std::ifstream in(f.path());
            std::string line, window;
            std::vector<std::string>* body = nullptr;
            while (std::getline(in, line)) {
                std::istringstream words(line);
                std::string first, name;
                words >> first >> name;
                if (first == "template") {
                    body = &templates[name];
                } else if (first == "end") {
                    body = nullptr;
                    window.clear();
                } else if (body) {
                    body->push_back(line);
                } else if (first == "window") {
                    window = name;
                } else if (first == "use" && !window.empty()) {
                    // "use NAME K=V ...": the template's lines with $K as V.
                    std::vector<std::pair<std::string, std::string>> values;
                    for (std::string kv; words >> kv;)
                        if (const size_t eq = kv.find('='); eq != std::string::npos)
                            values.emplace_back("$" + kv.substr(0, eq), kv.substr(eq + 1));
                    std::sort(values.begin(), values.end(),
                              [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
                    for (std::string t : templates[name]) {
                        for (const auto& [key, value] : values)
                            for (size_t at; (at = t.find(key)) != std::string::npos;)
                                t.replace(at, key.size(), value);
                        Control(window, t);
                    }
                } else if (!window.empty()) {
                    Control(window, line);
                }
            }
        }
    }
    std::map<std::string, std::pair<int, int>> m_Centres;
};

// A click on the named control of the window g, which the skin calls window.
inline void ClickControl(const Geometry& g, const std::string& window, const std::string& control,
                         const std::string& kind = "")
{
    const auto [x, y] = Skin::Get().Centre(window, control, kind);
    Click(g, x, y);
}

}  // namespace guidrive
