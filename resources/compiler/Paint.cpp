// Painting the theme's windows: the painter's set-up, window backgrounds,
// captions and slider paths; controls are painted in PaintControl.cpp.
#include "resources/compiler/Paint.h"
#include "resources/compiler/PaintInternal.h"

namespace rc {

namespace {

// The bevel's light zone: a dome seen from above, on which the window's ball
// marks the light. The centre is light from straight above, the rim light
// grazing the image. Centre and radius are those the window converts pointer
// positions with (a point X of the window is the pixel whose centre lies at
// X + 0.5), so the ball stands on the rim when the light lies on the horizon.
void LightDisc(cairo_t* cr, Box b)
{
    const double cx = (b.x + b.Right()) * 0.5 + 1.0 + 0.5;
    const double cy = (b.y + b.Bottom()) * 0.5 + 1.0 + 0.5;
    const double r = (std::min(b.w, b.h) + 3.0) * 0.5;
    // Lighter under the zenith, darker toward the horizon.
    cairo_pattern_t* dome = cairo_pattern_create_radial(cx, cy, 0, cx, cy, r);
    cairo_pattern_add_color_stop_rgb(dome, 0, kDomeTop.r / 255.0, kDomeTop.g / 255.0, kDomeTop.b / 255.0);
    cairo_pattern_add_color_stop_rgb(dome, 1, kInset.r / 255.0, kInset.g / 255.0, kInset.b / 255.0);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
    cairo_set_source(cr, dome);
    cairo_fill(cr);
    cairo_pattern_destroy(dome);
    // Guides: the four main directions, and the circle of 45 degrees
    // altitude, half way out.
    cairo_set_line_width(cr, 1);
    Set(cr, kLine);
    cairo_move_to(cr, cx - r + 2, cy);
    cairo_line_to(cr, cx + r - 2, cy);
    cairo_move_to(cr, cx, cy - r + 2);
    cairo_line_to(cr, cx, cy + r - 2);
    cairo_stroke(cr);
    cairo_arc(cr, cx, cy, r / 2, 0, 2 * M_PI);
    cairo_stroke(cr);
    // The horizon: two pixels across, one inside and one outside the radius.
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
    Set(cr, kBtnEdgeHi);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
}

}  // namespace

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
        } else if (d.word == "rect" && d.Flag("disc")) {
            LightDisc(cr, d.box);
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
    // Frames that belong under controls drawn by code.
    for (const rc::Control& c : w.controls) {
        const Box b = c.box;
        if (c.kind == Kind::Edit && !c.Flag("bare")) {
            // A "bare" field is hidden in some of its window's modes, where
            // a frame left under it would show as an empty box.
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
    // background below carries the same caption fill, so nothing shows. A
    // picture laid over the whole window ("cover") takes no press and leaves
    // the caption whole, to drag the window by.
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    for (const rc::Control& c : w.controls)
        if (c.box.y < kCaptionHeight && !c.Flag("cover")) {
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
        // One point per value. With more values than pixels several points
        // share a pixel, and the pointer takes the first of them: the points
        // are placed rounding down, so the last value alone stands on the
        // track's last pixel and a drag to the end reaches it.
        const int x0 = b.x + 7, x1 = b.Right() - 8, y = b.y + b.h / 2;
        for (int i = 0; i < n; ++i)
            p.points.push_back({n == 1 ? x0 : x0 + int((long long)(x1 - x0) * i / (n - 1)), y});
    }
    p.hotX = p.points.front().first;
    p.hotY = p.points.front().second;
    return p;
}
}  // namespace rc
