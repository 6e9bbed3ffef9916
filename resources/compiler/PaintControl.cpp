// Painting the theme's controls: the state images of each kind of control.
// Control() is one switch over the kinds of control.
#include "resources/compiler/Paint.h"
#include "resources/compiler/PaintInternal.h"

namespace rc {

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
        const Box area = toggle ? b : m->MarkArea(c);
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
        const Box area = toggle ? b : m->MarkArea(c);
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
        // A slider whose window fades it while disabled ("fade") has no
        // Disabled pictures: disabled, it shows Normal at the control's
        // disabled opacity.
        const int painted = c.Flag("fade") ? 3 : 4;
        for (int s = 0; s < painted; ++s) {
            const Rgb groove = s == 3 ? kDisFill : kInset;
            const Rgb edge = s == 3 ? kDisEdge : s == 0 ? kLine : kBtnEdgeHi;
            Box grooveBox = dial ? b
                              : Box{path.points.front().first - 3, path.points.front().second - 2,
                                    path.points.back().first - path.points.front().first + 7, 5};
            // A caption ("caption=X,Y" with the text) belongs to the slider's
            // background, so that it goes wherever the slider goes: a window
            // that hides the slider leaves no caption naming nothing.
            Box caption = c.caption;
            if (caption.h) {
                Canvas probe(0, 0, 1, 1);
                caption.w = int(std::ceil(m->Width(probe.cr(), c.text, kTextSize, false))) + 2;
                const int l = std::min(grooveBox.x, caption.x), t = std::min(grooveBox.y, caption.y);
                const int r = std::max(grooveBox.Right(), caption.Right());
                const int bt = std::max(grooveBox.Bottom(), caption.Bottom());
                grooveBox = Box{l, t, r - l, bt - t};
            }
            skin[std::string("Background_") + states[s]] = paint(grooveBox, [&](cairo_t* cr) {
                if (caption.h)
                    m->Text(cr, caption.x, {0, caption.y, 0, 16}, c.text, kDim);
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
                } else if (c.Flag("piece") || c.Flag("overlay")) {
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
                    if (c.Flag("overlay")) {
                        // The picture an image overlay lays over that piece:
                        // bright diagonal stripes, so its opacity shows.
                        cairo_clip(cr);
                        Set(cr, ParseColour("#2a9d8f", kAccent));
                        cairo_paint(cr);
                        Set(cr, ParseColour("#f4e285", kWhite));
                        cairo_set_line_width(cr, s / 14);
                        for (double d = -b.h; d < b.w + b.h; d += s / 6) {
                            cairo_move_to(cr, b.x + d, b.y);
                            cairo_line_to(cr, b.x + d - b.h, b.Bottom());
                        }
                        cairo_stroke(cr);
                    } else {
                        cairo_pattern_t* g = cairo_pattern_create_linear(x0, y0, x0 + s, y0 + s);
                        cairo_pattern_add_color_stop_rgb(g, 0, 0.95, 0.62, 0.25);
                        cairo_pattern_add_color_stop_rgb(g, 0.5, 0.83, 0.33, 0.42);
                        cairo_pattern_add_color_stop_rgb(g, 1, 0.30, 0.36, 0.78);
                        cairo_set_source(cr, g);
                        cairo_fill(cr);
                        cairo_pattern_destroy(g);
                    }
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
                        const bool flat = kind == "hex-flat";
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
