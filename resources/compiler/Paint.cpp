#include "resources/compiler/Paint.h"

#include "resources/compiler/Error.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

namespace rc {

namespace {

struct Rgb {
    uint8_t r, g, b;
};

// The theme's palette.
constexpr Rgb kPanel{0x26, 0x28, 0x2c};
constexpr Rgb kCaption{0x1c, 0x1e, 0x21};
constexpr Rgb kEdge{0x44, 0x47, 0x4e};
constexpr Rgb kInset{0x1b, 0x1d, 0x20};
constexpr Rgb kGroup{0x2b, 0x2d, 0x32};
constexpr Rgb kLine{0x37, 0x3a, 0x40};
constexpr Rgb kText{0xe2, 0xe4, 0xe8};
constexpr Rgb kWhite{0xff, 0xff, 0xff};
constexpr Rgb kDim{0x9a, 0x9f, 0xa8};
constexpr Rgb kOff{0x62, 0x66, 0x6d};
constexpr Rgb kBtn{0x37, 0x3a, 0x40};
constexpr Rgb kBtnHi{0x44, 0x48, 0x50};
constexpr Rgb kBtnLo{0x2b, 0x2e, 0x33};
constexpr Rgb kBtnEdge{0x4b, 0x4f, 0x58};
constexpr Rgb kBtnEdgeHi{0x5d, 0x62, 0x6c};
constexpr Rgb kDisFill{0x2e, 0x30, 0x35};
constexpr Rgb kDisEdge{0x3a, 0x3d, 0x42};
constexpr Rgb kAccent{0x3d, 0x8e, 0xf0};
constexpr Rgb kAccHi{0x5c, 0xa2, 0xf6};
constexpr Rgb kAccLo{0x2c, 0x73, 0xcf};
constexpr Rgb kAccTint{0x27, 0x45, 0x6b};
constexpr Rgb kAccTintHi{0x2f, 0x55, 0x84};
constexpr Rgb kDanger{0xd6, 0x4d, 0x45};
constexpr Rgb kDangerLo{0xb0, 0x3c, 0x35};
constexpr Rgb kSelect{0x2d, 0x5a, 0x94};

constexpr double kTextSize = 12.0;
constexpr double kSmallSize = 10.5;
constexpr double kTitleSize = 12.5;

Rgb ParseColour(const std::string& s, Rgb fallback)
{
    if (s.size() != 7 || s[0] != '#')
        return fallback;
    const unsigned long v = std::strtoul(s.c_str() + 1, nullptr, 16);
    return {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

std::string Hex(Rgb c)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
    return buf;
}

void Set(cairo_t* cr, Rgb c, double a = 1.0) { cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, a); }

void RoundRect(cairo_t* cr, double x, double y, double w, double h, double r)
{
    r = std::min({r, w / 2, h / 2});
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 1.5 * M_PI);
    cairo_close_path(cr);
}

// Fill plus a one-pixel edge inside the box, aligned to the pixel grid.
void Panel(cairo_t* cr, Box b, double r, Rgb fill, const Rgb* edge)
{
    RoundRect(cr, b.x, b.y, b.w, b.h, r);
    Set(cr, fill);
    cairo_fill(cr);
    if (edge) {
        RoundRect(cr, b.x + 0.5, b.y + 0.5, b.w - 1, b.h - 1, r - 0.5);
        Set(cr, *edge);
        cairo_set_line_width(cr, 1);
        cairo_stroke(cr);
    }
}

// A cairo surface over a rectangle of the window, drawn in window coordinates.
class Canvas {
public:
    Canvas(int l, int t, int w, int h) : m_l(l), m_t(t), m_w(w), m_h(h)
    {
        if (w <= 0 || h <= 0)
            throw Error("empty picture");
        m_s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        m_cr = cairo_create(m_s);
        cairo_translate(m_cr, -l, -t);
    }
    explicit Canvas(Box b) : Canvas(b.x, b.y, b.w, b.h) {}
    ~Canvas()
    {
        cairo_destroy(m_cr);
        cairo_surface_destroy(m_s);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    cairo_t* cr() const { return m_cr; }

    // Straight (not premultiplied) planar RGBA.
    Pixmap Take()
    {
        cairo_surface_flush(m_s);
        Pixmap p(m_l, m_t, m_w, m_h);
        const uint8_t* data = cairo_image_surface_get_data(m_s);
        const int stride = cairo_image_surface_get_stride(m_s);
        const size_t n = size_t(m_w) * m_h;
        for (int y = 0; y < m_h; ++y) {
            const uint32_t* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * stride);
            for (int x = 0; x < m_w; ++x) {
                const uint32_t px = row[x];
                const unsigned a = px >> 24;
                const size_t i = size_t(y) * m_w + x;
                auto un = [a](unsigned v) { return a ? uint8_t(std::min(255u, (v * 255 + a / 2) / a)) : uint8_t(0); };
                p.planes[i] = un((px >> 16) & 255);
                p.planes[n + i] = un((px >> 8) & 255);
                p.planes[2 * n + i] = un(px & 255);
                p.planes[3 * n + i] = uint8_t(a);
            }
        }
        return p;
    }

private:
    int m_l, m_t, m_w, m_h;
    cairo_surface_t* m_s;
    cairo_t* m_cr;
};

// A picture of one colour whose alpha is 0: the toolkit draws text into the
// alpha plane of such skins, so their RGB is the text colour.
Pixmap ColourOnly(Box b, Rgb c)
{
    Pixmap p(b.x, b.y, b.w, b.h);
    const size_t n = size_t(b.w) * b.h;
    std::fill_n(p.planes.begin(), n, c.r);
    std::fill_n(p.planes.begin() + n, n, c.g);
    std::fill_n(p.planes.begin() + 2 * n, n, c.b);
    return p;
}

// A hot zone: only the first plane is read, as a mask above 128.
Pixmap FullMask(Box b)
{
    Pixmap p(b.x, b.y, b.w, b.h);
    std::fill(p.planes.begin(), p.planes.end(), 255);
    return p;
}

enum State { N, H, P, PO, D };

}  // namespace

struct Painter::Impl {
    FT_Library ft = nullptr;
    FT_Face faces[2] = {nullptr, nullptr};
    cairo_font_face_t* fonts[2] = {nullptr, nullptr};
    cairo_font_options_t* options = nullptr;
    std::string iconDir;
    std::map<std::string, std::string> svgs;

    Impl(const std::string& fontDir, const std::string& icons) : iconDir(icons)
    {
        if (FT_Init_FreeType(&ft))
            throw Error("FreeType did not start");
        const char* files[2] = {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"};
        for (int i = 0; i < 2; ++i) {
            const std::string path = fontDir + "/" + files[i];
            if (FT_New_Face(ft, path.c_str(), 0, &faces[i]))
                throw Error(path + ": cannot read the font");
            fonts[i] = cairo_ft_font_face_create_for_ft_face(faces[i], 0);
        }
        options = cairo_font_options_create();
        cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_FULL);
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    }
    ~Impl()
    {
        cairo_font_options_destroy(options);
        for (int i = 0; i < 2; ++i) {
            if (fonts[i])
                cairo_font_face_destroy(fonts[i]);
            if (faces[i])
                FT_Done_Face(faces[i]);
        }
        FT_Done_FreeType(ft);
    }

    void UseFont(cairo_t* cr, double size, bool bold)
    {
        cairo_set_font_face(cr, fonts[bold ? 1 : 0]);
        cairo_set_font_size(cr, size);
        cairo_set_font_options(cr, options);
    }

    double Width(cairo_t* cr, const std::string& s, double size, bool bold)
    {
        UseFont(cr, size, bold);
        cairo_text_extents_t e;
        cairo_text_extents(cr, s.c_str(), &e);
        return e.x_advance;
    }

    // Text whose line box is centred in [y, y + h).
    void Text(cairo_t* cr, double x, Box line, const std::string& s, Rgb c, double size = kTextSize,
              bool bold = false)
    {
        UseFont(cr, size, bold);
        cairo_font_extents_t fe;
        cairo_font_extents(cr, &fe);
        const double base = std::round(line.y + (line.h + fe.ascent - fe.descent) / 2);
        Set(cr, c);
        cairo_move_to(cr, std::round(x), base);
        cairo_show_text(cr, s.c_str());
    }

    void Centred(cairo_t* cr, Box b, const std::string& s, Rgb c, double size = kTextSize, bool bold = false)
    {
        Text(cr, b.x + (b.w - Width(cr, s, size, bold)) / 2, b, s, c, size, bold);
    }

    void Icon(cairo_t* cr, const std::string& name, double x, double y, Rgb c)
    {
        auto it = svgs.find(name);
        if (it == svgs.end()) {
            std::ifstream in(iconDir + "/" + name + ".svg");
            if (!in)
                throw Error(iconDir + "/" + name + ".svg: no such icon");
            std::stringstream ss;
            ss << in.rdbuf();
            it = svgs.emplace(name, ss.str()).first;
        }
        std::string svg = it->second;
        for (size_t p = svg.find("currentColor"); p != std::string::npos; p = svg.find("currentColor", p))
            svg.replace(p, 12, Hex(c));
        GError* err = nullptr;
        RsvgHandle* h = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &err);
        if (!h) {
            const std::string why = err ? err->message : "unknown";
            if (err)
                g_error_free(err);
            throw Error("icon '" + name + "': " + why);
        }
        RsvgRectangle vp{std::round(x), std::round(y), 16, 16};
        const gboolean ok = rsvg_handle_render_document(h, cr, &vp, &err);
        g_object_unref(h);
        if (!ok) {
            const std::string why = err ? err->message : "unknown";
            if (err)
                g_error_free(err);
            throw Error("icon '" + name + "': " + why);
        }
    }

    // Buttons and toggles share one drawing: a rounded key with text and/or
    // an icon. `on` marks the checked look of toggles.
    void Key(cairo_t* cr, const rc::Control& c, State s, bool on)
    {
        const Box b = c.box;
        const std::string style = c.Opt("style", "push");
        const std::string icon = c.Opt("icon");
        const bool flat = style == "icon" || style == "tool" || style == "close";
        Rgb fill = kBtn, edge = kBtnEdge, ink = kText;
        bool drawFill = true, drawEdge = true;
        if (style == "accent") {
            fill = s == H ? kAccHi : s == P ? kAccLo : kAccent;
            edge = s == P || s == PO ? kAccLo : fill;
            ink = kWhite;
            if (s == D) {
                fill = kDisFill;
                edge = kDisEdge;
                ink = kOff;
            }
        } else if (flat) {
            drawEdge = false;
            drawFill = s == H || s == P || s == PO || on;
            fill = s == P ? kBtnLo : kBtnHi;
            ink = s == D ? kOff : s == N ? kDim : kText;
            if (style == "close" && (s == H || s == P)) {
                fill = s == P ? kDangerLo : kDanger;
                ink = kWhite;
            }
            if (s == P)
                ink = style == "close" ? kWhite : kAccHi;
            if (on && s != D) {
                fill = s == H ? kAccTintHi : kAccTint;
                ink = kWhite;
            }
        } else {
            switch (s) {
            case N:
                break;
            case H:
                fill = kBtnHi;
                edge = kBtnEdgeHi;
                ink = kWhite;
                break;
            case P:
                fill = kBtnLo;
                edge = kAccent;
                break;
            case PO:
                edge = kAccent;
                break;
            case D:
                fill = kDisFill;
                edge = kDisEdge;
                ink = kOff;
                break;
            }
            if (on) {
                fill = s == D ? kDisFill : s == H ? kAccTintHi : s == P ? kAccLo : kAccTint;
                edge = s == D ? kDisEdge : kAccent;
                ink = s == D ? kOff : kWhite;
            }
        }
        const double radius = style == "arrow" ? 3 : 4;
        if (drawFill)
            Panel(cr, b, radius, fill, drawEdge ? &edge : nullptr);
        const bool menu = style == "menu";
        Box inner = b;
        if (menu) {
            inner.w -= 18;
            Icon(cr, "chevron-down", b.Right() - 21, b.y + (b.h - 16) / 2.0, ink);
        }
        if (!icon.empty() && c.text.empty()) {
            Icon(cr, icon, inner.x + (inner.w - 16) / 2.0, b.y + (b.h - 16) / 2.0, ink);
        } else if (!icon.empty()) {
            const double tw = Width(cr, c.text, kTextSize, false);
            const double x0 = inner.x + (inner.w - 16 - 6 - tw) / 2;
            Icon(cr, icon, x0, b.y + (b.h - 16) / 2.0, ink);
            Text(cr, x0 + 22, b, c.text, ink);
        } else if (!c.text.empty()) {
            Centred(cr, inner, c.text, ink, kTextSize, style == "accent");
        }
    }

    // Check box and radio marks with their label on the right.
    void Mark(cairo_t* cr, const rc::Control& c, State s, bool on, bool round)
    {
        const Box b = c.box;
        const double size = 14;
        const double mx = b.x + 1, my = b.y + std::floor((b.h - size) / 2);
        Rgb fill = kInset, edge = kBtnEdge, ink = kWhite;
        if (s == H)
            edge = kBtnEdgeHi;
        if (s == P || s == PO)
            edge = kAccent;
        if (on) {
            fill = s == H ? kAccHi : s == P ? kAccLo : kAccent;
            edge = fill;
        }
        if (s == D) {
            fill = on ? Rgb{0x3a, 0x46, 0x56} : kDisFill;
            edge = kDisEdge;
            ink = kOff;
        }
        if (round) {
            cairo_arc(cr, mx + size / 2, my + size / 2, size / 2, 0, 2 * M_PI);
            Set(cr, on ? kInset : fill);
            cairo_fill(cr);
            cairo_arc(cr, mx + size / 2, my + size / 2, size / 2 - (on ? 1.5 : 0.5), 0, 2 * M_PI);
            Set(cr, edge);
            cairo_set_line_width(cr, on ? 3 : 1);
            cairo_stroke(cr);
            if (on) {
                cairo_arc(cr, mx + size / 2, my + size / 2, 3, 0, 2 * M_PI);
                Set(cr, ink);
                cairo_fill(cr);
            }
        } else {
            Panel(cr, {int(mx), int(my), int(size), int(size)}, 3, fill, &edge);
            if (on)
                Icon(cr, "check", mx - 1, my - 1, ink);
        }
    }

    // Where a check box's or radio's mark sits in its rectangle; its label
    // is painted into the window's background to the right of it, so the
    // state images stay the size of the mark.
    static Box MarkBox(const rc::Control& c)
    {
        return {c.box.x, c.box.y + int(std::floor((c.box.h - 14) / 2.0)) - 1, 16, 16};
    }
};

Painter::Painter(const std::string& fontDir, const std::string& iconDir) : m(new Impl(fontDir, iconDir)) {}
Painter::~Painter() = default;

Pixmap Painter::Background(const Window& w)
{
    Canvas cv(0, 0, w.width, w.height);
    cairo_t* cr = cv.cr();
    Panel(cr, {0, 0, w.width, w.height}, 8, kPanel, &kEdge);
    // The caption strip is part of the panel too, so a window shown without
    // its caption layers still reads as one piece.
    cairo_save(cr);
    RoundRect(cr, 1, 1, w.width - 2, w.height - 2, 7.5);
    cairo_clip(cr);
    cairo_rectangle(cr, 0, 0, w.width, kCaptionHeight);
    Set(cr, kCaption);
    cairo_fill(cr);
    cairo_rectangle(cr, 0, kCaptionHeight - 1, w.width, 1);
    Set(cr, kLine);
    cairo_fill(cr);
    cairo_restore(cr);

    for (const Item& d : w.decor) {
        if (d.word == "group") {
            Panel(cr, d.box, 6, kGroup, &kLine);
            if (!d.text.empty())
                m->Text(cr, d.box.x + 12, {0, d.box.y + 6, 0, 16}, d.text, kDim, kSmallSize, true);
        } else if (d.word == "sep") {
            cairo_rectangle(cr, d.box.x, d.box.y, d.box.w, 1);
            Set(cr, kLine);
            cairo_fill(cr);
        } else if (d.word == "rect") {
            cairo_rectangle(cr, d.box.x - 1, d.box.y - 1, d.box.w + 2, d.box.h + 2);
            Set(cr, kLine);
            cairo_fill(cr);
            cairo_rectangle(cr, d.box.x, d.box.y, d.box.w, d.box.h);
            Set(cr, kInset);
            cairo_fill(cr);
        } else if (d.word == "label") {
            const bool small = d.Flag("small");
            const double size = small ? kSmallSize : d.Flag("title") ? kTitleSize + 2 : kTextSize;
            const bool bold = d.Flag("bold") || d.Flag("title");
            Rgb c = d.Flag("dim") ? kDim : d.Flag("accent") ? kAccHi : kText;
            c = ParseColour(d.Opt("color"), c);
            double x = d.box.x;
            if (d.Opt("align") == "right")
                x = d.box.x + std::atoi(d.Opt("w", "0").c_str()) - m->Width(cr, d.text, size, bold);
            // Label positions name the top of a 16-px line.
            m->Text(cr, x, {0, d.box.y, 0, 16}, d.text, c, size, bold);
        }
    }
    // Frames that belong under controls drawn by code, and the labels of
    // check boxes and radios.
    for (const rc::Control& c : w.controls) {
        const Box b = c.box;
        if ((c.kind == Kind::Check || c.kind == Kind::Radio) && c.Opt("style") != "toggle" && !c.text.empty())
            m->Text(cr, b.x + 22, b, c.text, kText);
        if (c.kind == Kind::Edit) {
            Panel(cr, {b.x - 1, b.y - 1, b.w + 2, b.h + 2}, 3, kInset, &kBtnEdge);
        } else if (c.kind == Kind::Progress && !c.Flag("bare")) {
            // A "bare" bar shows only while something covers its place.
            Panel(cr, b, b.h / 2.0, kInset, &kLine);
        } else if (c.kind == Kind::Ruler) {
            cairo_rectangle(cr, b.x, b.y, b.w, b.h);
            Set(cr, kInset);
            cairo_fill(cr);
            if (c.vertical)
                cairo_rectangle(cr, b.Right() - 1, b.y, 1, b.h);
            else
                cairo_rectangle(cr, b.x, b.Bottom() - 1, b.w, 1);
            Set(cr, kLine);
            cairo_fill(cr);
        }
    }
    return cv.Take();
}

Pixmap Painter::Caption(const Window& w, bool active)
{
    Canvas cv(0, 0, w.width, kCaptionHeight);
    cairo_t* cr = cv.cr();
    cairo_save(cr);
    RoundRect(cr, 0, 0, w.width, w.height, 8);
    cairo_clip(cr);
    cairo_rectangle(cr, 0, 0, w.width, kCaptionHeight - 1);
    Set(cr, kCaption);
    cairo_fill(cr);
    cairo_restore(cr);
    // The outline's top edge, drawn again over the caption.
    RoundRect(cr, 0.5, 0.5, w.width - 1, w.height - 1, 7.5);
    Set(cr, kEdge);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    RoundRect(cr, 14, 11, 10, 10, 2.5);
    Set(cr, active ? kAccent : kOff);
    cairo_fill(cr);
    m->Text(cr, 32, {0, 0, 0, kCaptionHeight}, w.title, active ? kText : kDim, kTitleSize, true);
    // A press where the caption's alpha is above 128 drags the window before
    // any control sees it: the caption has holes under its buttons. The
    // background below carries the same caption fill, so nothing shows.
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    for (const rc::Control& c : w.controls)
        if (c.box.y < kCaptionHeight) {
            cairo_rectangle(cr, c.box.x, c.box.y, c.box.w, c.box.h);
            cairo_fill(cr);
        }
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    return cv.Take();
}

Painter::SliderPath Painter::PathOf(const rc::Control& c)
{
    SliderPath p;
    const Box b = c.box;
    const long long range = c.vmax - c.vmin;
    const int n = int(std::min<long long>(std::llabs(range) + 1, 4096));
    if (c.Flag("dial")) {
        // Angle 0 points right and values grow counter-clockwise, as screen
        // angles do with y pointing down mirrored.
        const double cx = b.x + b.w / 2.0, cy = b.y + b.h / 2.0;
        const double r = std::min(b.w, b.h) / 2.0 - 8;
        for (int i = 0; i < n; ++i) {
            const double a = 2 * M_PI * i / n;
            p.points.push_back({int(std::lround(cx + r * std::cos(a))), int(std::lround(cy - r * std::sin(a)))});
        }
    } else {
        const int x0 = b.x + 7, x1 = b.Right() - 8, y = b.y + b.h / 2;
        for (int i = 0; i < n; ++i)
            p.points.push_back({n == 1 ? x0 : int(std::lround(x0 + double(x1 - x0) * i / (n - 1))), y});
    }
    p.hotX = p.points.front().first;
    p.hotY = p.points.front().second;
    return p;
}

Skin Painter::Control(const rc::Control& c)
{
    Skin skin;
    const Box b = c.box;
    auto paint = [&](Box area, auto&& draw) {
        Canvas cv(area);
        draw(cv.cr());
        return cv.Take();
    };
    switch (c.kind) {
    case Kind::Button: {
        const char* names[] = {"Normal", "Highlighted", "Pressed", "Pressed Mouse Out", "Disabled"};
        // A button that shares its place with others ("stacked") has no
        // Disabled picture: disabled, it shows Normal at the control's
        // disabled opacity, which its window sets to 0 to hide it.
        const int last = c.Flag("stacked") ? D - 1 : D;
        for (int s = N; s <= last; ++s)
            skin[names[s]] = paint(b, [&](cairo_t* cr) { m->Key(cr, c, State(s), false); });
        skin["Data"] = FullMask(b);
        break;
    }
    case Kind::Check: {
        const bool toggle = c.Opt("style") == "toggle";
        const char* names[] = {"Normal", "Highlighted", "Pressed", "Pressed Mouse Out", "Disabled"};
        const Box area = toggle ? b : Impl::MarkBox(c);
        for (int s = N; s <= D; ++s)
            for (int on = 1; on >= 0; --on) {
                // Pressed with the pointer outside falls back to Normal by itself.
                if (s == PO)
                    continue;
                skin[std::string(names[s]) + (on ? " On" : " Off")] = paint(area, [&](cairo_t* cr) {
                    if (toggle)
                        m->Key(cr, c, State(s), on);
                    else
                        m->Mark(cr, c, State(s), on, false);
                });
            }
        skin["Data"] = FullMask(b);
        break;
    }
    case Kind::Radio: {
        const bool toggle = c.Opt("style") == "toggle";
        const Box area = toggle ? b : Impl::MarkBox(c);
        auto draw = [&](State s, bool on) {
            return paint(area, [&](cairo_t* cr) {
                if (toggle)
                    m->Key(cr, c, s, on);
                else
                    m->Mark(cr, c, s, on, true);
            });
        };
        skin["Normal On"] = draw(N, true);
        skin["Normal Off"] = draw(N, false);
        skin["Disabled On"] = draw(D, true);
        skin["Disabled Off"] = draw(D, false);
        // Hover and press images serve both check states: they show the
        // radio as it will be after the click.
        skin["Highlighted"] = draw(H, true);
        skin["Pressed"] = draw(P, true);
        // Pressed with the pointer outside falls back to Normal Off by itself.
        skin["Data"] = FullMask(b);
        break;
    }
    case Kind::Slider: {
        const SliderPath path = PathOf(c);
        const bool dial = c.Flag("dial");
        const char* states[] = {"Normal", "Highlighted", "Pressed", "Disabled"};
        for (int s = 0; s < 4; ++s) {
            const Rgb groove = s == 3 ? kDisFill : kInset;
            const Rgb edge = s == 3 ? kDisEdge : s == 0 ? kLine : kBtnEdgeHi;
            const Box grooveBox = dial ? b
                                    : Box{path.points.front().first - 3, path.points.front().second - 2,
                                          path.points.back().first - path.points.front().first + 7, 5};
            skin[std::string("Background_") + states[s]] = paint(grooveBox, [&](cairo_t* cr) {
                if (dial) {
                    const double cx = b.x + b.w / 2.0, cy = b.y + b.h / 2.0;
                    const double r = std::min(b.w, b.h) / 2.0 - 8;
                    cairo_arc(cr, cx, cy, r + 4, 0, 2 * M_PI);
                    Set(cr, groove);
                    cairo_fill(cr);
                    cairo_arc(cr, cx, cy, r + 4, 0, 2 * M_PI);
                    Set(cr, edge);
                    cairo_set_line_width(cr, 1);
                    cairo_stroke(cr);
                    for (int q = 0; q < 4; ++q) {
                        const double a = q * M_PI / 2;
                        cairo_move_to(cr, cx + (r - 12) * std::cos(a), cy - (r - 12) * std::sin(a));
                        cairo_line_to(cr, cx + (r - 7) * std::cos(a), cy - (r - 7) * std::sin(a));
                    }
                    Set(cr, s == 3 ? kOff : kDim);
                    cairo_set_line_width(cr, 1.5);
                    cairo_stroke(cr);
                    cairo_arc(cr, cx, cy, 2, 0, 2 * M_PI);
                    cairo_fill(cr);
                } else {
                    const int x0 = path.points.front().first, x1 = path.points.back().first;
                    const int y = path.points.front().second;
                    Panel(cr, {x0 - 3, y - 2, x1 - x0 + 7, 5}, 2.5, groove, &edge);
                }
            });
            const int t = dial ? 10 : 14;
            const Box tb{path.hotX - t / 2, path.hotY - t / 2, t, t};
            skin[std::string("Thumb_") + states[s]] = paint(tb, [&](cairo_t* cr) {
                const double cx = path.hotX + 0.5 - (t % 2 ? 0 : 0.5), cy = path.hotY + 0.5 - (t % 2 ? 0 : 0.5);
                cairo_arc(cr, cx, cy, t / 2.0, 0, 2 * M_PI);
                Set(cr, s == 3 ? kOff : s == 2 ? kAccent : s == 1 ? kAccHi : kText);
                cairo_fill(cr);
                if (s == 2 || s == 1) {
                    cairo_arc(cr, cx, cy, t / 2.0 - 3.5, 0, 2 * M_PI);
                    Set(cr, kWhite);
                    cairo_fill(cr);
                }
            });
        }
        skin["Data_HotZone"] = dial ? paint(b, [&](cairo_t* cr) {
            cairo_arc(cr, b.x + b.w / 2.0, b.y + b.h / 2.0, std::min(b.w, b.h) / 2.0, 0, 2 * M_PI);
            cairo_set_source_rgb(cr, 1, 1, 1);
            cairo_fill(cr);
        })
                                    : FullMask(b);
        if (dial) {
            // Only the first plane counts, and only above 128: keep it binary.
            Pixmap& hz = skin["Data_HotZone"];
            for (size_t i = 0; i < hz.planes.size(); ++i)
                hz.planes[i] = hz.planes[i] > 128 ? 255 : 0;
        }
        break;
    }
    case Kind::Scroll: {
        const char* states[] = {"Normal", "Highlighted", "Pressed", "Disabled"};
        const int across = (c.vertical ? b.w : b.h) - 4;
        const int len = kThumbHead + kThumbTile + kThumbTail;
        const Box tb = c.vertical ? Box{b.x + 2, b.y, across, len} : Box{b.x, b.y + 2, len, across};
        for (int s = 0; s < 4; ++s) {
            skin[std::string("Background_") + states[s]] = paint(b, [&](cairo_t* cr) {
                Panel(cr, b, std::min(b.w, b.h) / 2.0, s == 3 ? kDisFill : kInset, s == 0 ? &kLine : &kEdge);
            });
            skin[std::string("Thumb_") + states[s]] = paint(tb, [&](cairo_t* cr) {
                const Rgb f = s == 3 ? kDisEdge : s == 2 ? kAccent : s == 1 ? Rgb{0x78, 0x7d, 0x87}
                                                                                : Rgb{0x5a, 0x5e, 0x66};
                RoundRect(cr, tb.x, tb.y, tb.w, tb.h, std::min(across / 2.0, 5.0));
                Set(cr, f);
                cairo_fill(cr);
            });
        }
        Pixmap data(tb.x, tb.y, tb.w, tb.h);
        const size_t n = size_t(tb.w) * tb.h;
        for (int i = 0; i < len; ++i) {
            // The first pixel of each row (vertical) or column marks the segment.
            const size_t at = c.vertical ? size_t(i) * tb.w : size_t(i);
            const int plane = i < kThumbHead ? 0 : i < kThumbHead + kThumbTile ? 2 : 1;
            data.planes[plane * n + at] = 255;
            data.planes[3 * n + at] = 255;
        }
        skin["Thumb_Data"] = data;
        break;
    }
    case Kind::List: {
        const Box items{b.x + 4, b.y + 4, b.w - 8, b.h - 8};
        // Highlighted and Working foregrounds would repeat Normal's text
        // colour; the list falls back to Normal by itself.
        const char* states[] = {"Normal", "Highlighted", "Working", "Disabled"};
        const Rgb edges[] = {kLine, kBtnEdge, kAccent, kDisEdge};
        for (int s = 0; s < 4; ++s)
            skin[std::string("Background_") + states[s]] =
                paint(b, [&](cairo_t* cr) { Panel(cr, b, 4, s == 3 ? kDisFill : kInset, &edges[s]); });
        skin["Foreground_Normal"] = ColourOnly(items, kText);
        skin["Foreground_Disabled"] = ColourOnly(items, kOff);
        // Bands are copied row for row from the item area's top.
        skin["Background_Selected"] = paint(items, [&](cairo_t* cr) {
            cairo_rectangle(cr, items.x, items.y, items.w, items.h);
            Set(cr, kSelect);
            cairo_fill(cr);
        });
        skin["Foreground_Selected"] = ColourOnly(items, kWhite);
        break;
    }
    case Kind::SText: {
        // Disabled falls back to Normal at the control's disabled opacity.
        skin["Normal"] = ColourOnly(b, ParseColour(c.Opt("color"), c.Flag("dim") ? kDim : kText));
        break;
    }
    case Kind::Ruler:
        skin["Normal"] = ColourOnly(b, kDim);
        break;
    case Kind::Progress: {
        skin["Normal"] = paint(b, [&](cairo_t* cr) {
            cairo_pattern_t* g = cairo_pattern_create_linear(b.x, 0, b.Right(), 0);
            cairo_pattern_add_color_stop_rgb(g, 0, kAccLo.r / 255.0, kAccLo.g / 255.0, kAccLo.b / 255.0);
            cairo_pattern_add_color_stop_rgb(g, 1, kAccHi.r / 255.0, kAccHi.g / 255.0, kAccHi.b / 255.0);
            RoundRect(cr, b.x + 1, b.y + 1, b.w - 2, b.h - 2, (b.h - 2) / 2.0);
            cairo_set_source(cr, g);
            cairo_fill(cr);
            cairo_pattern_destroy(g);
        });
        // Fill where level >= map: a ramp from 1 (so level 0 shows nothing) to 255.
        Pixmap map(b.x, b.y, b.w, b.h);
        const size_t n = size_t(b.w) * b.h;
        for (int y = 0; y < b.h; ++y)
            for (int x = 0; x < b.w; ++x)
                map.planes[size_t(y) * b.w + x] = uint8_t(1 + (b.w > 1 ? 254 * x / (b.w - 1) : 254));
        std::fill_n(map.planes.begin() + 3 * n, n, 255);
        skin["Data"] = map;
        break;
    }
    case Kind::Image: {
        auto one = [&](bool disabled) {
            return paint(b, [&](cairo_t* cr) {
                if (c.Flag("fill")) {
                    cairo_rectangle(cr, b.x, b.y, b.w, b.h);
                    Set(cr, ParseColour(c.Opt("color"), kPanel), std::atoi(c.Opt("alpha", "255").c_str()) / 255.0);
                    cairo_fill(cr);
                } else if (c.Flag("frame")) {
                    cairo_rectangle(cr, b.x + 0.5, b.y + 0.5, b.w - 1, b.h - 1);
                    Set(cr, ParseColour(c.Opt("color"), kBtnEdgeHi));
                    cairo_set_line_width(cr, 1);
                    cairo_stroke(cr);
                } else if (c.Flag("badge")) {
                    Panel(cr, b, b.h / 2.0, disabled ? kDisFill : kAccTint, disabled ? &kDisEdge : &kAccent);
                    m->Centred(cr, b, c.text, disabled ? kOff : kWhite, kSmallSize, true);
                } else if (c.Flag("light")) {
                    cairo_pattern_t* g = cairo_pattern_create_radial(b.x + b.w * 0.4, b.y + b.h * 0.4, 1,
                                                                     b.x + b.w / 2.0, b.y + b.h / 2.0, b.w / 2.0);
                    cairo_pattern_add_color_stop_rgb(g, 0, 1, 1, 0.9);
                    cairo_pattern_add_color_stop_rgb(g, 1, 0.95, 0.7, 0.2);
                    cairo_arc(cr, b.x + b.w / 2.0, b.y + b.h / 2.0, b.w / 2.0 - 0.5, 0, 2 * M_PI);
                    cairo_set_source(cr, g);
                    cairo_fill_preserve(cr);
                    cairo_pattern_destroy(g);
                    Set(cr, kCaption);
                    cairo_set_line_width(cr, 1);
                    cairo_stroke(cr);
                } else if (c.Flag("piece")) {
                    // A sample jigsaw piece: a square with one knob on each
                    // side, shaded so effects have something to work on.
                    const double s = std::min(b.w, b.h) * 0.56, k = s * 0.18;
                    const double x0 = b.x + (b.w - s) / 2, y0 = b.y + (b.h - s) / 2;
                    cairo_move_to(cr, x0, y0);
                    cairo_line_to(cr, x0 + s / 2 - k, y0);
                    cairo_arc(cr, x0 + s / 2, y0 - k * 0.6, k * 1.15, M_PI * 0.78, M_PI * 2.22);
                    cairo_line_to(cr, x0 + s, y0);
                    cairo_line_to(cr, x0 + s, y0 + s / 2 - k);
                    cairo_arc(cr, x0 + s + k * 0.6, y0 + s / 2, k * 1.15, M_PI * 1.28, M_PI * 2.72);
                    cairo_line_to(cr, x0 + s, y0 + s);
                    cairo_line_to(cr, x0 + s / 2 + k, y0 + s);
                    cairo_arc_negative(cr, x0 + s / 2, y0 + s - k * 0.6, k * 1.15, M_PI * 0.22, M_PI * 0.78);
                    cairo_line_to(cr, x0, y0 + s);
                    cairo_line_to(cr, x0, y0 + s / 2 + k);
                    cairo_arc(cr, x0 + k * 0.6, y0 + s / 2, k * 1.15, M_PI * 0.72, M_PI * 1.28);
                    cairo_close_path(cr);
                    cairo_pattern_t* g = cairo_pattern_create_linear(x0, y0, x0 + s, y0 + s);
                    cairo_pattern_add_color_stop_rgb(g, 0, 0.95, 0.62, 0.25);
                    cairo_pattern_add_color_stop_rgb(g, 0.5, 0.83, 0.33, 0.42);
                    cairo_pattern_add_color_stop_rgb(g, 1, 0.30, 0.36, 0.78);
                    cairo_set_source(cr, g);
                    cairo_fill(cr);
                    cairo_pattern_destroy(g);
                } else if (c.Flag("cells")) {
                    // Tiles behind the presets' icons, one per cell of a grid.
                    const int cols = std::atoi(c.Opt("cols", "4").c_str()), rows = std::atoi(c.Opt("rows", "2").c_str());
                    const int gap = std::atoi(c.Opt("gap", "8").c_str());
                    const double cw = (b.w - gap * (cols - 1)) / double(cols), ch = (b.h - gap * (rows - 1)) / double(rows);
                    for (int r = 0; r < rows; ++r)
                        for (int q = 0; q < cols; ++q)
                            Panel(cr, {int(b.x + q * (cw + gap)), int(b.y + r * (ch + gap)), int(cw), int(ch)}, 4,
                                  kInset, &kLine);
                } else if (c.Flag("layout")) {
                    // The auto-layout pictures: triangles or hexagons.
                    cairo_rectangle(cr, b.x, b.y, b.w, b.h);
                    Set(cr, kInset);
                    cairo_fill(cr);
                    cairo_save(cr);
                    cairo_rectangle(cr, b.x, b.y, b.w, b.h);
                    cairo_clip(cr);
                    const std::string kind = c.Opt("layout");
                    Set(cr, kAccHi);
                    cairo_set_line_width(cr, 1.2);
                    if (kind == "tri") {
                        // Rows of equilateral triangles: horizontals one
                        // height apart, diagonals at +-60 degrees through
                        // every side's end.
                        const double side = 26, hgt = side * std::sqrt(3.0) / 2, len = 2.0 * b.h;
                        const double y0 = b.y + 6;
                        for (double y = y0; y < b.Bottom(); y += hgt) {
                            cairo_move_to(cr, b.x, y);
                            cairo_line_to(cr, b.Right(), y);
                        }
                        for (double x = b.x - len; x < b.Right() + len; x += side) {
                            cairo_move_to(cr, x, y0);
                            cairo_line_to(cr, x + 0.5 * len, y0 + hgt / side * len);
                            cairo_move_to(cr, x, y0);
                            cairo_line_to(cr, x - 0.5 * len, y0 + hgt / side * len);
                        }
                    } else {
                        const bool flat = kind == "hex2";
                        const double r = 12, w = flat ? 1.5 * r : std::sqrt(3.0) * r, h = flat ? std::sqrt(3.0) * r : 1.5 * r;
                        for (int row = -1; row * h < b.h + h; ++row)
                            for (int col = -1; col * w < b.w + w; ++col) {
                                double cx = b.x + 6 + col * w, cy = b.y + 6 + row * h;
                                if (flat)
                                    cy += (col & 1) ? h / 2 : 0;
                                else
                                    cx += (row & 1) ? w / 2 : 0;
                                for (int v = 0; v <= 6; ++v) {
                                    const double a = M_PI / 3 * v + (flat ? 0 : M_PI / 6);
                                    const double px = cx + r * std::cos(a), py = cy + r * std::sin(a);
                                    if (v == 0)
                                        cairo_move_to(cr, px, py);
                                    else
                                        cairo_line_to(cr, px, py);
                                }
                            }
                    }
                    cairo_stroke(cr);
                    cairo_restore(cr);
                } else {
                    Panel(cr, b, 0, kInset, &kLine);
                }
            });
        };
        skin["Normal"] = one(false);
        if (c.Flag("badge"))
            skin["Disabled"] = one(true);
        break;
    }
    case Kind::Edit:
        break;
    }
    return skin;
}

}  // namespace rc
