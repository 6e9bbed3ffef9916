// What the painter's files share: the theme's palette and sizes, the drawing
// helpers, and the painter's fonts and icons (Painter::Impl).
#pragma once

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

namespace paint {


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
constexpr Rgb kDomeTop{0x3b, 0x3f, 0x47};

constexpr double kTextSize = 12.0;
constexpr double kSmallSize = 10.5;
constexpr double kTitleSize = 12.5;

inline Rgb ParseColour(const std::string& s, Rgb fallback)
{
    if (s.size() != 7 || s[0] != '#')
        return fallback;
    const unsigned long v = std::strtoul(s.c_str() + 1, nullptr, 16);
    return {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

inline std::string Hex(Rgb c)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
    return buf;
}

inline void Set(cairo_t* cr, Rgb c, double a = 1.0) { cairo_set_source_rgba(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0, a); }

inline void RoundRect(cairo_t* cr, double x, double y, double w, double h, double r)
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
inline void Panel(cairo_t* cr, Box b, double r, Rgb fill, const Rgb* edge)
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
inline Pixmap ColourOnly(Box b, Rgb c)
{
    Pixmap p(b.x, b.y, b.w, b.h);
    const size_t n = size_t(b.w) * b.h;
    std::fill_n(p.planes.begin(), n, c.r);
    std::fill_n(p.planes.begin() + n, n, c.g);
    std::fill_n(p.planes.begin() + 2 * n, n, c.b);
    return p;
}

// A hot zone: only the first plane is read, as a mask above 128.
inline Pixmap FullMask(Box b)
{
    Pixmap p(b.x, b.y, b.w, b.h);
    std::fill(p.planes.begin(), p.planes.end(), 255);
    return p;
}

enum State { N, H, P, PO, D };

}  // namespace paint

using namespace paint;

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

    // Check box and radio marks with their label on the right. The label is
    // part of each state's picture, so a disabled control's label dims with
    // its mark and a hidden control takes its label along.
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
        if (!c.text.empty())
            Text(cr, b.x + kLabelGap, b, c.text, s == D ? kOff : kText);
    }

    // Where a check box's or radio's state pictures lie: the mark alone, or
    // the whole rectangle when a label stands beside the mark. A label the
    // rectangle cannot hold would be cut off, so it stops the build.
    Box MarkArea(const rc::Control& c)
    {
        if (c.text.empty())
            return {c.box.x, c.box.y + int(std::floor((c.box.h - 14) / 2.0)) - 1, 16, 16};
        Canvas probe(0, 0, 1, 1);
        const double need = kLabelGap + Width(probe.cr(), c.text, kTextSize, false);
        if (need > c.box.w)
            throw Error("label '" + c.text + "' needs " + std::to_string(int(std::ceil(need))) +
                        " px, the rectangle is " + std::to_string(c.box.w) + " px wide");
        return c.box;
    }

    static constexpr int kLabelGap = 22;
};
}  // namespace rc
