#include "resources/compiler/Manifest.h"

#include "resources/compiler/Error.h"

#include "core/ErrorManager.h"
#include "core/ErrorWords.h"
#include "core/StdFile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace rc {

const char* KindWord(Kind k)
{
    static const char* words[] = {"button", "check", "radio", "slider", "edit", "list",
                                  "scroll", "stext", "image", "progress", "ruler"};
    return words[int(k)];
}

const char* KindFolder(Kind k)
{
    static const char* folders[] = {"Buttons", "Check Boxes", "Radio Buttons", "Sliders", "Edits", "Lists",
                                    "Scroll Bars", "Static Texts", "Static Images", "Progresses",
                                    "Static Images"};
    return folders[int(k)];
}

namespace {

bool KindOf(const std::string& word, Kind& k)
{
    for (int i = 0; i <= int(Kind::Ruler); ++i)
        if (word == KindWord(Kind(i))) {
            k = Kind(i);
            return true;
        }
    return false;
}

struct Token {
    std::string text;
    bool quoted = false;
};

std::vector<Token> Tokenize(const std::string& line, const Where& where)
{
    std::vector<Token> out;
    size_t i = 0;
    while (i < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
            continue;
        }
        if (line[i] == '#')
            break;
        Token t;
        if (line[i] == '"') {
            const size_t end = line.find('"', i + 1);
            if (end == std::string::npos)
                throw Error(where.Tell() + ": unterminated text");
            t.text = line.substr(i + 1, end - i - 1);
            t.quoted = true;
            i = end + 1;
        } else {
            const size_t start = i;
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                ++i;
            t.text = line.substr(start, i - start);
        }
        out.push_back(t);
    }
    return out;
}

// A whole number, or a sum such as "216+26" (templates offset their rows).
long long Number(const std::string& s, const Where& where)
{
    long long total = 0;
    const char* p = s.c_str();
    if (!*p)
        throw Error(where.Tell() + ": a number is missing");
    while (*p) {
        char* end = nullptr;
        const long long v = std::strtoll(p, &end, 10);
        if (end == p || (*end && *end != '+' && *end != '-'))
            throw Error(where.Tell() + ": '" + s + "' is not a whole number");
        total += v;
        p = *end == '+' ? end + 1 : end;
    }
    return total;
}

std::vector<std::string> Split(const std::string& s, char sep)
{
    std::vector<std::string> out;
    std::string cur;
    std::istringstream in(s);
    while (std::getline(in, cur, sep))
        out.push_back(cur);
    return out;
}

Box ParseBox(const std::string& s, const Where& where, size_t parts)
{
    const auto f = Split(s, ',');
    if (f.size() != parts)
        throw Error(where.Tell() + ": '" + s + "' should be " + (parts == 4 ? "X,Y,W,H" : "X,Y"));
    Box b;
    b.x = int(Number(f[0], where));
    b.y = int(Number(f[1], where));
    if (parts > 2)
        b.w = int(Number(f[2], where));
    if (parts > 3)
        b.h = int(Number(f[3], where));
    return b;
}

bool IsRange(const std::string& s) { return s.find("..") != std::string::npos && !s.empty() && s[0] != '.'; }

class Parser {
public:
    Manifest m;

    void File(const std::string& path)
    {
        m.files.push_back(path);
        // A folder, FIFO or device is refused before it is opened: a FIFO
        // would keep the build waiting.
        if (const std::string why = qnRegularFileProblem(path); !why.empty())
            throw Error(why);
        std::ifstream in(path);
        if (!in)
            throw Error(qnFileFailure(path, false, qnerr::FileNotOpened));
        std::stringstream ss;
        ss << in.rdbuf();
        Text(ss.str(), path, Dir(path));
    }

    void Text(const std::string& text, const std::string& name, const std::string& dir)
    {
        std::istringstream in(text);
        std::string line;
        Where where{name, 0};
        while (std::getline(in, line)) {
            ++where.line;
            Line(line, where, dir);
        }
        if (m_template)
            throw Error(name + ": template '" + m_templateName + "' has no end");
    }

    void Finish()
    {
        if (m_window)
            throw Error(m_window->where.Tell() + ": window '" + m_window->name + "' has no end");
    }

private:
    static std::string Dir(const std::string& path)
    {
        const size_t cut = path.rfind('/');
        return cut == std::string::npos ? "." : path.substr(0, cut);
    }

    void Line(const std::string& line, const Where& where, const std::string& dir)
    {
        if (m_template) {
            auto toks = Tokenize(line, where);
            if (!toks.empty() && toks[0].text == "end" && !toks[0].quoted) {
                m_template = false;
                return;
            }
            m_templates[m_templateName].push_back({line, where});
            return;
        }
        auto toks = Tokenize(line, where);
        if (toks.empty())
            return;
        const std::string& w = toks[0].text;
        if (w == "include") {
            Need(toks, 2, where, "include FILE");
            File(dir + "/" + toks[1].text);
        } else if (w == "template") {
            Need(toks, 2, where, "template NAME");
            m_template = true;
            m_templateName = toks[1].text;
            m_templates[m_templateName].clear();
        } else if (w == "use") {
            Use(toks, where, dir);
        } else if (w == "font") {
            Font(toks, where, dir);
        } else if (w == "window") {
            WindowStart(toks, where);
        } else if (w == "end") {
            if (!m_window)
                throw Error(where.Tell() + ": 'end' outside a window");
            m_window = nullptr;
        } else if (w == "accel") {
            Accel(toks, where);
        } else if (w == "help") {
            Help(toks, where);
        } else if (w == "shape") {
            ShapeLine(toks, where);
        } else if (w == "expect") {
            Need(toks, 2, where, "expect FILE");
            Expect(dir + "/" + toks[1].text);
        } else if (w == "icons") {
            Need(toks, 2, where, "icons DIR");
            m.iconDir = dir + "/" + toks[1].text;
        } else {
            if (!m_window)
                throw Error(where.Tell() + ": '" + w + "' outside a window");
            WindowLine(toks, where);
        }
    }

    static void Need(const std::vector<Token>& t, size_t n, const Where& where, const char* form)
    {
        if (t.size() < n)
            throw Error(where.Tell() + ": expected '" + form + "'");
    }

    void Use(const std::vector<Token>& toks, const Where& where, const std::string& dir)
    {
        Need(toks, 2, where, "use NAME P=VALUE");
        auto it = m_templates.find(toks[1].text);
        if (it == m_templates.end())
            throw Error(where.Tell() + ": no template '" + toks[1].text + "'");
        // Longest names first, so "$R" never eats the start of "$RG".
        std::vector<std::pair<std::string, std::string>> vars;
        for (size_t i = 2; i < toks.size(); ++i) {
            const size_t eq = toks[i].text.find('=');
            if (eq == std::string::npos)
                throw Error(where.Tell() + ": '" + toks[i].text + "' should be VAR=VALUE");
            vars.emplace_back("$" + toks[i].text.substr(0, eq), toks[i].text.substr(eq + 1));
        }
        std::sort(vars.begin(), vars.end(), [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
        const auto lines = it->second;  // a copy: a used template may define templates
        for (const auto& [text, at] : lines) {
            std::string s = text;
            for (const auto& [var, value] : vars)
                for (size_t p = s.find(var); p != std::string::npos; p = s.find(var, p + value.size()))
                    s.replace(p, var.size(), value);
            if (s.find('$') != std::string::npos && s.find('$') < s.find('#'))
                throw Error(at.Tell() + ": template variable left unset (used at " + where.Tell() + ")");
            Where w2{at.file + " (used at " + where.Tell() + ")", at.line};
            Line(s, w2, dir);
        }
    }

    void Font(const std::vector<Token>& t, const Where& where, const std::string& dir)
    {
        Need(t, 4, where, "font \"NAME\" FILE PX [FIRST..LAST]");
        FontDef f;
        f.name = t[1].text;
        f.file = dir + "/" + t[2].text;
        f.px = unsigned(Number(t[3].text, where));
        if (t.size() > 4) {
            const auto r = Split(t[4].text, '.');
            if (r.size() != 3 || !r[1].empty())
                throw Error(where.Tell() + ": code range should be FIRST..LAST");
            f.first = int(Number(r[0], where));
            f.last = int(Number(r[2], where));
        }
        f.where = where;
        m.fonts.push_back(f);
    }

    void WindowStart(const std::vector<Token>& t, const Where& where)
    {
        if (m_window)
            throw Error(where.Tell() + ": window '" + m_window->name + "' has no end");
        Need(t, 3, where, "window NAME WxH \"Title\"");
        Window win;
        win.name = t[1].text;
        const size_t x = t[2].text.find('x');
        if (x == std::string::npos)
            throw Error(where.Tell() + ": size should be WxH");
        win.width = int(Number(t[2].text.substr(0, x), where));
        win.height = int(Number(t[2].text.substr(x + 1), where));
        if (t.size() > 3)
            win.title = t[3].text;
        win.where = where;
        m.windows.push_back(win);
        m_window = &m.windows.back();
    }

    // Options, flags and the text after the positional part of a line.
    static void Rest(Item& it, const std::vector<Token>& t, size_t from)
    {
        for (size_t i = from; i < t.size(); ++i) {
            if (t[i].quoted) {
                it.text = t[i].text;
                continue;
            }
            const size_t eq = t[i].text.find('=');
            if (eq == std::string::npos)
                it.opts[t[i].text] = "1";
            else
                it.opts[t[i].text.substr(0, eq)] = t[i].text.substr(eq + 1);
        }
    }

    void WindowLine(const std::vector<Token>& t, const Where& where)
    {
        const std::string& w = t[0].text;
        Item it;
        it.word = w;
        it.where = where;
        if (w == "label") {
            Need(t, 3, where, "label X,Y \"text\"");
            it.box = ParseBox(t[1].text, where, 2);
            Rest(it, t, 2);
            m_window->decor.push_back(it);
            return;
        }
        if (w == "sep") {
            Need(t, 2, where, "sep X,Y,W");
            it.box = ParseBox(t[1].text, where, 3);
            it.box.h = 1;
            Rest(it, t, 2);
            m_window->decor.push_back(it);
            return;
        }
        if (w == "group") {
            Need(t, 2, where, "group X,Y,W,H");
            it.box = ParseBox(t[1].text, where, 4);
            Rest(it, t, 2);
            m_window->decor.push_back(it);
            return;
        }
        if (w == "rect") {
            Need(t, 3, where, "rect NAME X,Y,W,H");
            it.name = t[1].text;
            it.box = ParseBox(t[2].text, where, 4);
            Rest(it, t, 3);
            m_window->rects.push_back(it);
            if (it.Flag("inset") || it.Flag("disc"))
                m_window->decor.push_back(it);
            return;
        }
        Control c;
        if (!KindOf(w, c.kind))
            throw Error(where.Tell() + ": unknown statement '" + w + "'");
        Need(t, 3, where, "KIND NAME X,Y,W,H ...");
        c.word = w;
        c.where = where;
        c.name = t[1].text;
        c.box = ParseBox(t[2].text, where, 4);
        size_t from = 3;
        if (c.kind == Kind::Slider) {
            if (t.size() < 4 || !IsRange(t[3].text))
                throw Error(where.Tell() + ": slider '" + c.name + "' needs a value range A..B");
            const size_t dots = t[3].text.find("..");
            c.vmin = Number(t[3].text.substr(0, dots), where);
            c.vmax = Number(t[3].text.substr(dots + 2), where);
            from = 4;
        }
        Rest(c, t, from);
        if (c.kind == Kind::Slider && c.opts.count("caption")) {
            if (c.text.empty())
                throw Error(where.Tell() + ": slider '" + c.name + "' has a caption place but no \"text\"");
            c.caption = ParseBox(c.Opt("caption"), where, 2);
            c.caption.h = 16;
        }
        if (c.kind == Kind::Scroll || c.kind == Kind::Ruler) {
            if (c.Flag("v") == c.Flag("h"))
                throw Error(where.Tell() + ": " + w + " '" + c.name + "' needs exactly one of v or h");
            c.vertical = c.Flag("v");
        }
        if (c.kind == Kind::Radio) {
            if (!c.opts.count("group"))
                throw Error(where.Tell() + ": radio '" + c.name + "' needs group=G");
            c.group = int(Number(c.Opt("group"), where));
        }
        m_window->controls.push_back(c);
    }

    static uint8_t KeyCode(const std::string& k, const Where& where)
    {
        if (k.size() == 1) {
            const unsigned char ch = static_cast<unsigned char>(k[0]);
            if (std::isalpha(ch))
                return uint8_t(std::toupper(ch));
            if (std::isgraph(ch))
                return ch;
        }
        if ((k.size() == 2 || k.size() == 3) && k[0] == 'F') {
            const long long n = Number(k.substr(1), where);
            if (n >= 1 && n <= 12)
                return uint8_t(219 + n);  // F1..F12 are 220..231
        }
        if (k == "Plus")
            return '+';
        throw Error(where.Tell() + ": unknown key '" + k + "'");
    }

    void Accel(const std::vector<Token>& t, const Where& where)
    {
        Need(t, 3, where, "accel COMMAND KEYS \"label\"");
        Shortcut s;
        s.command = uint16_t(Number(t[1].text, where));
        s.command_key = false;
        bool main = false;
        const auto parts = Split(t[2].text, '+');
        for (size_t i = 0; i + 1 < parts.size(); ++i) {
            const std::string& p = parts[i];
            if (p == "Cmd" && !main)
                s.command_key = main = true;
            else if (p == "Ctrl" && !main)
                main = true;
            else if (p == "Opt" && !s.option)
                s.option = true;
            else if (p == "Shift" && !s.shift)
                s.shift = true;
            else
                throw Error(where.Tell() + ": bad modifier '" + p + "' in '" + t[2].text + "'");
        }
        if (parts.empty())
            throw Error(where.Tell() + ": a shortcut needs Cmd or Ctrl");
        s.key = KeyCode(parts.back(), where);
        // Without Cmd or Ctrl a shortcut needs Shift or Opt, or a function
        // key: a plain key is for typing.
        s.main = main;
        if (!main && !s.shift && !s.option && !(s.key >= 220 && s.key <= 231))
            throw Error(where.Tell() + ": a shortcut needs Cmd or Ctrl, or Shift or Opt");
        if (t.size() > 3)
            s.label = t[3].text;
        m.shortcuts.push_back(s);
        m.shortcutWhere.push_back(where);
    }

    void Help(const std::vector<Token>& t, const Where& where)
    {
        if (t.size() == 2 && t[1].text == "---") {
            m.help.push_back({"---", "---"});
            return;
        }
        Need(t, 3, where, "help \"title\" \"url\"");
        m.help.push_back({t[1].text, t[2].text});
    }

    void ShapeLine(const std::vector<Token>& t, const Where& where)
    {
        Need(t, 2, where, "shape \"name\" U,H,S ...");
        Shape s;
        s.name = t[1].text;
        for (size_t i = 2; i < t.size(); ++i) {
            const auto f = Split(t[i].text, ',');
            if (f.size() != 3)
                throw Error(where.Tell() + ": node '" + t[i].text + "' should be U,H,S");
            ShapeNode n;
            n.u = std::strtof(f[0].c_str(), nullptr);
            n.h = std::strtof(f[1].c_str(), nullptr);
            n.s = std::strtof(f[2].c_str(), nullptr);
            s.nodes.push_back(n);
        }
        m.shapes.push_back(s);
    }

    void Expect(const std::string& path)
    {
        m.files.push_back(path);
        if (const std::string why = qnRegularFileProblem(path); !why.empty())
            throw Error(why);
        std::ifstream in(path);
        if (!in)
            throw Error(path + ": cannot read the expected list");
        std::string line;
        Where where{path, 0};
        while (std::getline(in, line)) {
            ++where.line;
            auto toks = Tokenize(line, where);
            if (toks.empty())
                continue;
            if (toks.size() != 2)
                throw Error(where.Tell() + ": expected 'KIND NAME'");
            m.expected.push_back({toks[0].text, toks[1].text, where});
        }
    }

    Window* m_window = nullptr;
    bool m_template = false;
    std::string m_templateName;
    std::map<std::string, std::vector<std::pair<std::string, Where>>> m_templates;
};

}  // namespace

Manifest ParseManifest(const std::string& path)
{
    Parser p;
    p.File(path);
    p.Finish();
    return std::move(p.m);
}

Manifest ParseManifestText(const std::string& text, const std::string& name, const std::string& dir)
{
    Parser p;
    p.Text(text, name, dir);
    p.Finish();
    return std::move(p.m);
}

}  // namespace rc
