#include "resources/compiler/Compile.h"
#include "resources/compiler/Paint.h"

#include <map>
#include <set>

namespace rc {

namespace {

struct Linter {
    const Manifest& m;
    std::vector<std::string> out;

    void Say(const Where& w, const std::string& what) { out.push_back(w.Tell() + ": " + what); }

    void Inside(const Window& win, const Item& it, const std::string& what)
    {
        const Box& b = it.box;
        if (b.w <= 0 || b.h <= 0)
            Say(it.where, what + " is empty");
        else if (b.x < 0 || b.y < 0 || b.Right() > win.width || b.Bottom() > win.height)
            Say(it.where, what + " lies outside window '" + win.name + "' (" + std::to_string(win.width) + "x" +
                              std::to_string(win.height) + ")");
    }

    void Slider(const Control& c)
    {
        if (c.vmin < 0 || c.vmax > 0xFFFFFFFFll || c.vmin > c.vmax) {
            Say(c.where, "slider '" + c.name + "' needs 0 <= A <= B < 2^32");
            return;
        }
        if (c.vmax - c.vmin + 1 > 4096) {
            Say(c.where, "slider '" + c.name + "' has more than 4096 positions");
            return;
        }
        const auto path = Painter::PathOf(c);
        const auto [fx, fy] = path.points.front();
        const auto [lx, ly] = path.points.back();
        const int d2 = (fx - lx) * (fx - lx) + (fy - ly) * (fy - ly);
        // The toolkit takes a path whose ends are closer than sqrt(3) for a dial.
        if (c.Flag("dial") && d2 >= 3)
            Say(c.where, "dial '" + c.name + "' does not close: its ends are " + std::to_string(d2) +
                             " px^2 apart");
        if (!c.Flag("dial") && path.points.size() > 1 && d2 < 3)
            Say(c.where, "slider '" + c.name + "' is too short: the toolkit would take it for a dial");
        if (c.Flag("dial") && (c.box.w < 40 || c.box.h < 40))
            Say(c.where, "dial '" + c.name + "' needs at least 40x40");
        if (!c.Flag("dial") && c.box.w < 24)
            Say(c.where, "slider '" + c.name + "' needs a track of at least 24 px");
    }

    void Run()
    {
        std::set<std::string> fonts;
        for (const FontDef& f : m.fonts) {
            if (!fonts.insert(f.name).second)
                Say(f.where, "font '" + f.name + "' defined twice");
            if (f.px < 4 || f.px > 120)
                Say(f.where, "font '" + f.name + "' size must be 4..120 px");
            if (f.first < 0 || f.last > 255 || f.first > f.last)
                Say(f.where, "font '" + f.name + "' code range must lie in 0..255, first <= last");
        }
        std::set<std::string> windows, rects;
        std::map<std::string, Where> perFolder;  // "folder>name"
        std::set<std::pair<std::string, std::string>> present;  // (word, name)
        for (const Window& win : m.windows) {
            if (!windows.insert(win.name).second)
                Say(win.where, "window '" + win.name + "' defined twice");
            present.insert({"window", win.name});
            if (win.width < 64 || win.height < 48 || win.width > kScreenWidth || win.height > kScreenHeight)
                Say(win.where, "window '" + win.name + "' must be between 64x48 and the 1366x768 screen");
            for (const Item& d : win.decor)
                if (d.word != "label")
                    Inside(win, d, d.word);
                else if (d.box.x < 0 || d.box.y < 0 || d.box.x >= win.width || d.box.y + 16 > win.height)
                    Say(d.where, "label lies outside window '" + win.name + "'");
            for (const Item& r : win.rects) {
                Inside(win, r, "rect '" + r.name + "'");
                if (!rects.insert(r.name).second)
                    Say(r.where, "rect '" + r.name + "' defined twice");
                present.insert({"rect", r.name});
            }
            std::map<int, int> groups;
            for (const Control& c : win.controls) {
                const std::string what = std::string(KindWord(c.kind)) + " '" + c.name + "'";
                Inside(win, c, what);
                const std::string key = std::string(KindFolder(c.kind)) + ">" + c.name;
                if (auto it = perFolder.find(key); it != perFolder.end())
                    Say(c.where, what + " already defined in '" + KindFolder(c.kind) + "' at " + it->second.Tell());
                else
                    perFolder.emplace(key, c.where);
                present.insert({KindWord(c.kind), c.name});
                if (c.kind == Kind::Radio) {
                    // 255 is every other control's group: NotifyGroup would
                    // uncheck the window's check boxes.
                    if (c.group < 0 || c.group > 254)
                        Say(c.where, what + " group must be 0..254");
                    ++groups[c.group];
                }
                if (c.kind == Kind::Slider)
                    Slider(c);
                if (c.kind == Kind::Scroll) {
                    const int len = c.vertical ? c.box.h : c.box.w;
                    if (Painter::kThumbHead + Painter::kThumbTail >= len)
                        Say(c.where, what + " track is shorter than its thumb's head and tail");
                    if ((c.vertical ? c.box.w : c.box.h) < 8)
                        Say(c.where, what + " is thinner than 8 px");
                }
                if (c.kind == Kind::List && (c.box.w < 24 || c.box.h < 24))
                    Say(c.where, what + " needs at least 24x24");
            }
            for (const Control& c : win.controls)
                if (c.kind == Kind::Radio && groups[c.group] < 2)
                    Say(c.where, "radio '" + c.name + "' is alone in group " + std::to_string(c.group));
        }
        for (const FontDef& f : m.fonts)
            present.insert({"font", f.name});
        for (const Expected& e : m.expected)
            if (!present.count({e.word, e.name}))
                Say(e.where, "missing " + e.word + " '" + e.name + "'");
        if (m.help.size() > kMaxHelpEntries)
            Say(Where{"help", 0}, "the help menu holds at most 10 entries");
        std::map<std::string, size_t> combos;
        for (size_t i = 0; i < m.shortcuts.size(); ++i) {
            const Shortcut& s = m.shortcuts[i];
            const std::string combo = std::to_string(s.main) + std::to_string(s.command_key) + std::to_string(s.option) +
                                      std::to_string(s.shift) + char(s.key);
            if (auto it = combos.find(combo); it != combos.end())
                Say(m.shortcutWhere[i], "shortcut '" + s.label + "' uses the keys of line " +
                                            std::to_string(m.shortcutWhere[it->second].line));
            else
                combos.emplace(combo, i);
        }
        for (const Shape& s : m.shapes)
            if (s.name.empty() || s.name.size() > 63 || s.nodes.empty() || s.nodes.size() > kMaxShapeNodes)
                Say(Where{"shape", 0}, "shape '" + s.name + "' needs a name of 1..63 characters and 1..64 nodes");
    }
};

}  // namespace

std::vector<std::string> Lint(const Manifest& m)
{
    Linter l{m, {}};
    l.Run();
    return l.out;
}

}  // namespace rc
