// The GTK 3 backend on X11.
//
// Each toolkit window is an undecorated, app-paintable GtkWindow with a cairo
// RGB24 backing store: Blit writes into the store and queues a repaint, the
// "draw" signal paints the store, so exposes never need the toolkit. The
// outline is set as both the bounding and the input shape. Native input is
// turned into plat::Event records for the toolkit's queue; while a native
// dialog or menu runs, input to our windows is not passed on.
//
// Kept as one file: it is one backend class, private to this file, whose
// methods and signal handlers all share its window table and input state.
#include "platform/Backend.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

namespace plat {
namespace {

// Positional X key codes (evdev + 8) of a standard keyboard to the virtual
// key codes the toolkit uses.
uint8_t VKeyOfHardware(uint16_t code)
{
    static const struct {
        uint16_t x;
        uint8_t vk;
    } kMap[] = {
        {10, 18}, {11, 19}, {12, 20}, {13, 21}, {14, 23}, {15, 22}, {16, 26}, {17, 28}, {18, 25}, {19, 29},
        {20, 27}, {21, 24}, {24, 12}, {25, 13}, {26, 14}, {27, 15}, {28, 17}, {29, 16}, {30, 32}, {31, 34},
        {32, 31}, {33, 35}, {34, 33}, {35, 30}, {38, 0},  {39, 1},  {40, 2},  {41, 3},  {42, 5},  {43, 4},
        {44, 38}, {45, 40}, {46, 37}, {47, 41}, {48, 39}, {49, 50}, {51, 42}, {52, 6},  {53, 7},  {54, 8},
        {55, 9},  {56, 11}, {57, 45}, {58, 46}, {59, 43}, {60, 47}, {61, 44}, {65, 49},
    };
    for (const auto& m : kMap)
        if (m.x == code)
            return m.vk;
    return kNoKey;
}

// Keys known by their meaning rather than their place.
uint8_t VKeyOfKeyval(guint keyval, uint8_t& ch)
{
    switch (keyval) {
    case GDK_KEY_Up: return 126;
    case GDK_KEY_Down: return 125;
    case GDK_KEY_Left: return 123;
    case GDK_KEY_Right: return 124;
    case GDK_KEY_BackSpace: return 51;
    case GDK_KEY_Return: return 36;
    case GDK_KEY_KP_Enter: return 76;
    case GDK_KEY_Escape: return 53;
    case GDK_KEY_Delete: return 117;
    case GDK_KEY_End: return 119;
    case GDK_KEY_Home: return 115;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab: return 48;
    case GDK_KEY_Page_Up: ch = 11; return 116;
    case GDK_KEY_Page_Down: ch = 12; return 121;
    case GDK_KEY_KP_Add: return 69;
    case GDK_KEY_KP_Subtract: return 78;
    case GDK_KEY_F1: return 122;
    case GDK_KEY_F2: return 120;
    case GDK_KEY_F3: return 99;
    case GDK_KEY_F4: return 118;
    case GDK_KEY_F5: return 96;
    case GDK_KEY_F6: return 97;
    case GDK_KEY_F7: return 98;
    case GDK_KEY_F8: return 100;
    case GDK_KEY_F9: return 101;
    case GDK_KEY_F10: return 109;
    case GDK_KEY_F11: return 103;
    case GDK_KEY_F12: return 111;
    default: return kNoKey;
    }
}

uint8_t ModsOf(guint state)
{
    uint8_t m = 0;
    if (state & GDK_MOD1_MASK)
        m |= mods::Option;
    if (state & GDK_SHIFT_MASK)
        m |= mods::Shift;
    if (state & (GDK_SUPER_MASK | GDK_MOD4_MASK))
        m |= mods::Control;
    if (state & GDK_CONTROL_MASK)
        m |= mods::Command;
    return m;
}

std::string ToUtf8(const std::string& latin1)
{
    gchar* s = g_convert(latin1.data(), gssize(latin1.size()), "UTF-8", "ISO-8859-1", nullptr, nullptr, nullptr);
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

std::string ToLatin1(const char* utf8)
{
    gchar* s = g_convert_with_fallback(utf8, -1, "ISO-8859-1", "UTF-8", "?", nullptr, nullptr, nullptr);
    std::string out = s ? s : "";
    g_free(s);
    return out;
}

class GtkPlatform final : public Platform {
public:
    GtkPlatform() = default;
    ~GtkPlatform() override
    {
        while (!m_windows.empty())
            DestroyWindow(m_windows.begin()->first);
        if (m_cursor)
            g_object_unref(m_cursor);
        if (m_lastInput)
            gdk_event_free(m_lastInput);
    }

    void SetSink(EventSink* sink) override { m_sink = sink; }

    uint32_t NowMs() override { return uint32_t(g_get_monotonic_time() / 1000); }

    void WaitForEvents(int32_t timeoutMs) override
    {
        if (timeoutMs == 0) {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            return;
        }
        bool timedOut = false;
        guint source = 0;
        if (timeoutMs > 0)
            source = g_timeout_add(
                guint(timeoutMs),
                [](gpointer flag) -> gboolean {
                    *static_cast<bool*>(flag) = true;
                    return G_SOURCE_REMOVE;
                },
                &timedOut);
        const uint64_t before = m_pushed;
        while (m_pushed == before && !timedOut)
            g_main_context_iteration(nullptr, TRUE);
        if (source && !timedOut)
            g_source_remove(source);
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }

    std::vector<Rect> ScreenWorkAreas() override
    {
        std::vector<Rect> out;
        GdkDisplay* d = gdk_display_get_default();
        GdkMonitor* primary = gdk_display_get_primary_monitor(d);
        const int n = gdk_display_get_n_monitors(d);
        for (int i = 0; i < n; ++i) {
            GdkMonitor* m = gdk_display_get_monitor(d, i);
            GdkRectangle r;
            gdk_monitor_get_workarea(m, &r);
            Rect rect{r.x, r.y, r.x + r.width, r.y + r.height};
            if (m == primary || (!primary && i == 0))
                out.insert(out.begin(), rect);
            else
                out.push_back(rect);
        }
        return out;
    }

    Rect DesktopBounds() override
    {
        GdkDisplay* d = gdk_display_get_default();
        Rect b;
        const int n = gdk_display_get_n_monitors(d);
        for (int i = 0; i < n; ++i) {
            GdkRectangle r;
            gdk_monitor_get_geometry(gdk_display_get_monitor(d, i), &r);
            Rect rect{r.x, r.y, r.x + r.width, r.y + r.height};
            if (i == 0)
                b = rect;
            b.left = std::min(b.left, rect.left);
            b.top = std::min(b.top, rect.top);
            b.right = std::max(b.right, rect.right);
            b.bottom = std::max(b.bottom, rect.bottom);
        }
        return b;
    }

    WinId CreateWindow(const WindowSpec& spec) override
    {
        if (!spec.width || !spec.height)
            return 0;
        auto* win = new Win;
        win->owner = this;
        win->id = m_next++;
        win->width = spec.width;
        win->height = spec.height;
        win->pos = spec.pos;
        win->parent = spec.parent;
        win->store = cairo_image_surface_create(CAIRO_FORMAT_RGB24, spec.width, spec.height);
        if (cairo_surface_status(win->store) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(win->store);
            delete win;
            return 0;
        }
        GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        win->widget = w;
        gtk_window_set_title(GTK_WINDOW(w), ToUtf8(spec.name).c_str());
        gtk_window_set_decorated(GTK_WINDOW(w), FALSE);
        gtk_window_set_resizable(GTK_WINDOW(w), FALSE);
        gtk_widget_set_app_paintable(w, TRUE);
        gtk_widget_set_size_request(w, spec.width, spec.height);
        gtk_window_set_default_size(GTK_WINDOW(w), spec.width, spec.height);
        gtk_window_move(GTK_WINDOW(w), spec.pos.x, spec.pos.y);
        if (spec.modal)
            gtk_window_set_type_hint(GTK_WINDOW(w), GDK_WINDOW_TYPE_HINT_DIALOG);
        if (Win* parent = Find(spec.parent))
            gtk_window_set_transient_for(GTK_WINDOW(w), GTK_WINDOW(parent->widget));
        gtk_widget_add_events(w, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                     GDK_SCROLL_MASK | GDK_KEY_PRESS_MASK | GDK_KEY_RELEASE_MASK |
                                     GDK_STRUCTURE_MASK | GDK_FOCUS_CHANGE_MASK);
        g_signal_connect(w, "draw", G_CALLBACK(OnDraw), win);
        g_signal_connect(w, "button-press-event", G_CALLBACK(OnButton), win);
        g_signal_connect(w, "button-release-event", G_CALLBACK(OnButton), win);
        g_signal_connect(w, "motion-notify-event", G_CALLBACK(OnMotion), win);
        g_signal_connect(w, "scroll-event", G_CALLBACK(OnScroll), win);
        g_signal_connect(w, "key-press-event", G_CALLBACK(OnKey), win);
        g_signal_connect(w, "key-release-event", G_CALLBACK(OnKey), win);
        g_signal_connect(w, "focus-in-event", G_CALLBACK(OnFocus), win);
        g_signal_connect(w, "focus-out-event", G_CALLBACK(OnFocus), win);
        g_signal_connect(w, "map-event", G_CALLBACK(OnMap), win);
        g_signal_connect(w, "configure-event", G_CALLBACK(OnConfigure), win);
        g_signal_connect(w, "delete-event", G_CALLBACK(gtk_true), nullptr);
        m_windows[win->id] = win;
        m_z.push_back(win->id);
        return win->id;
    }

    void DestroyWindow(WinId id) override
    {
        Win* win = Find(id);
        if (!win)
            return;
        m_windows.erase(id);
        m_z.erase(std::remove(m_z.begin(), m_z.end(), id), m_z.end());
        gtk_widget_destroy(win->widget);
        cairo_surface_destroy(win->store);
        const WinId parent = win->parent;
        delete win;
        if (m_active == id) {
            // Without a window manager nobody hands the focus back: the
            // window that opened this one takes it, as window managers do.
            if (Win* p = Find(parent); p && p->visible)
                Activate(parent);
            else
                SetActive(0);
        }
    }

    void SetShape(WinId id, const uint8_t* mask, uint16_t width, uint16_t height, Point origin) override
    {
        Win* win = Find(id);
        if (!win)
            return;
        win->mask.assign(size_t(win->width) * win->height, 0);
        cairo_region_t* region = cairo_region_create();
        for (int32_t y = 0; y < height; ++y) {
            int32_t x = 0;
            while (x < width) {
                while (x < width && !mask[size_t(y) * width + x])
                    ++x;
                const int32_t start = x;
                while (x < width && mask[size_t(y) * width + x])
                    ++x;
                if (x > start) {
                    cairo_rectangle_int_t r{start + origin.x, y + origin.y, x - start, 1};
                    cairo_region_union_rectangle(region, &r);
                    for (int32_t k = start; k < x; ++k) {
                        const int32_t wx = k + origin.x, wy = y + origin.y;
                        if (wx >= 0 && wy >= 0 && wx < win->width && wy < win->height)
                            win->mask[size_t(wy) * win->width + wx] = 1;
                    }
                }
            }
        }
        gtk_widget_shape_combine_region(win->widget, region);
        gtk_widget_input_shape_combine_region(win->widget, region);
        cairo_region_destroy(region);
    }

    void Show(WinId id) override
    {
        if (Win* win = Find(id)) {
            gtk_widget_show(win->widget);
            gtk_window_move(GTK_WINDOW(win->widget), win->pos.x, win->pos.y);
            win->visible = true;
            Raise(id);
        }
    }

    void Hide(WinId id) override
    {
        if (Win* win = Find(id)) {
            gtk_widget_hide(win->widget);
            win->visible = false;
        }
    }

    bool IsVisible(WinId id) override
    {
        Win* win = Find(id);
        return win && win->visible;
    }

    void Activate(WinId id) override
    {
        Win* win = Find(id);
        if (!win)
            return;
        gtk_window_present_with_time(GTK_WINDOW(win->widget), GDK_CURRENT_TIME);
        if (GdkWindow* g = gtk_widget_get_window(win->widget))
            gdk_window_focus(g, GDK_CURRENT_TIME);
        win->visible = true;
        Raise(id);
        // A window manager keeps a window's own children (the knife editor
        // over the main window) above it; with none, presenting the parent
        // would bury them, so lift them back ourselves.
        if (NoWindowManager(win->widget))
            LiftChildren(id);
        SetActive(id);
    }

    void LiftChildren(WinId parent)
    {
        for (const auto& [cid, child] : m_windows)
            if (child->parent == parent && child->visible && cid != parent) {
                if (GdkWindow* g = gtk_widget_get_window(child->widget))
                    gdk_window_raise(g);
                LiftChildren(cid);
            }
    }

    void Collapse(WinId id) override
    {
        if (Win* win = Find(id))
            gtk_window_iconify(GTK_WINDOW(win->widget));
    }

    void Move(WinId id, Point global) override
    {
        if (Win* win = Find(id)) {
            win->pos = global;
            gtk_window_move(GTK_WINDOW(win->widget), global.x, global.y);
        }
    }

    Rect ContentRect(WinId id) override
    {
        Win* win = Find(id);
        if (!win)
            return {};
        return {win->pos.x, win->pos.y, win->pos.x + win->width, win->pos.y + win->height};
    }

    WinId WindowAt(Point g) override
    {
        for (auto it = m_z.rbegin(); it != m_z.rend(); ++it) {
            Win* w = Find(*it);
            if (!w || !w->visible)
                continue;
            const int32_t x = g.x - w->pos.x, y = g.y - w->pos.y;
            if (x < 0 || y < 0 || x >= w->width || y >= w->height)
                continue;
            if (w->mask.empty() || w->mask[size_t(y) * w->width + x])
                return *it;
        }
        return 0;
    }

    WinId ActiveWindow() override { return m_active; }

    void Blit(WinId id, const uint32_t* xrgb, uint32_t strideWords, Rect src, Point dst) override
    {
        Win* win = Find(id);
        if (!win || !xrgb)
            return;
        cairo_surface_flush(win->store);
        uint8_t* data = cairo_image_surface_get_data(win->store);
        const int stride = cairo_image_surface_get_stride(win->store);
        int32_t minX = INT32_MAX, minY = INT32_MAX, maxX = INT32_MIN, maxY = INT32_MIN;
        for (int32_t y = src.top; y < src.bottom; ++y) {
            const int32_t dy = dst.y + y - src.top;
            if (dy < 0 || dy >= win->height)
                continue;
            auto* row = reinterpret_cast<uint32_t*>(data + size_t(dy) * stride);
            for (int32_t x = src.left; x < src.right; ++x) {
                const int32_t dx = dst.x + x - src.left;
                if (dx < 0 || dx >= win->width)
                    continue;
                row[dx] = xrgb[size_t(y) * strideWords + x] & 0xFFFFFFu;
                minX = std::min(minX, dx);
                maxX = std::max(maxX, dx);
                minY = std::min(minY, dy);
                maxY = std::max(maxY, dy);
            }
        }
        if (minX > maxX)
            return;
        cairo_surface_mark_dirty_rectangle(win->store, minX, minY, maxX - minX + 1, maxY - minY + 1);
        gtk_widget_queue_draw_area(win->widget, minX, minY, maxX - minX + 1, maxY - minY + 1);
    }

    void Flush(WinId id, Rect) override
    {
        Win* win = Find(id);
        if (!win)
            return;
        if (GdkWindow* g = gtk_widget_get_window(win->widget)) {
            G_GNUC_BEGIN_IGNORE_DEPRECATIONS
            gdk_window_process_updates(g, FALSE);
            G_GNUC_END_IGNORE_DEPRECATIONS
        }
        gdk_display_flush(gdk_display_get_default());
    }

    Point PointerGlobal() override
    {
        GdkDisplay* d = gdk_display_get_default();
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(d));
        gint x = 0, y = 0;
        gdk_device_get_position(pointer, nullptr, &x, &y);
        return {x, y};
    }

    uint32_t KeyState() override
    {
        GdkDisplay* d = gdk_display_get_default();
        uint32_t state = ModsOf(gdk_keymap_get_modifier_state(gdk_keymap_get_for_display(d)));
        Display* x = GDK_DISPLAY_XDISPLAY(d);
        char keys[32];
        XQueryKeymap(x, keys);
        const KeyCode space = XKeysymToKeycode(x, XK_space);
        if (space && (keys[space / 8] & (1 << (space % 8))))
            state |= mods::Space;
        return state;
    }

    uint32_t DoubleClickMs() override { return uint32_t(SettingInt("gtk-double-click-time", 400)); }
    // GTK gives the whole blink cycle; the caret changes twice in it.
    uint32_t CaretBlinkMs() override { return uint32_t(SettingInt("gtk-cursor-blink-time", 1200) / 2); }

    void SetCursor(int32_t id) override
    {
        if (id == m_cursorId)
            return;
        m_cursorId = id;
        // The application's cursors by id from 128: panning (both ways,
        // none, vertical, horizontal), zoom out and in, the navigator, no
        // piece, the arrow, a hidden piece, dragging a column or row
        // splitter, inserting and deleting one, a see-through piece, moving
        // a node, rotating.
        static const char* const kAppCursors[] = {
            "all-scroll", "grab",       "ns-resize",  "ew-resize", "zoom-out", "zoom-in",     "move",
            "default",    "default",    "cell",       "col-resize", "row-resize", "copy",     "not-allowed",
            "crosshair",  "move",       "grabbing"};
        const char* name = "default";
        if (id == 1)
            name = "text";
        else if (id >= 128 && id < 128 + int32_t(std::size(kAppCursors)))
            name = kAppCursors[id - 128];
        if (m_cursor)
            g_object_unref(m_cursor);
        m_cursor = gdk_cursor_new_from_name(gdk_display_get_default(), name);
        if (!m_cursor)
            m_cursor = gdk_cursor_new_from_name(gdk_display_get_default(), "default");
        for (auto& [wid, w] : m_windows)
            if (GdkWindow* g = gtk_widget_get_window(w->widget))
                gdk_window_set_cursor(g, m_cursor);
    }

    bool ClipboardHasText() override
    {
        return gtk_clipboard_wait_is_text_available(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    }

    bool ClipboardGetText(std::string& latin1) override
    {
        gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
        if (!text)
            return false;
        latin1 = ToLatin1(text);
        g_free(text);
        return true;
    }

    bool ClipboardSetText(const std::string& latin1) override
    {
        const std::string utf8 = ToUtf8(latin1);
        gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), utf8.c_str(), gint(utf8.size()));
        return true;
    }

    void Beep() override { gdk_display_beep(gdk_display_get_default()); }

    int Alert(const std::string& title, const std::string& text, WinId parent) override
    {
        NativeScope scope(*this);
        GtkWidget* d = gtk_message_dialog_new(ParentOf(parent), GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_OK,
                                              "%s", ToUtf8(title).c_str());
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s", ToUtf8(text).c_str());
        GuardKeys(d);
        const int r = gtk_dialog_run(GTK_DIALOG(d));
        gtk_widget_destroy(d);
        return r;
    }

    bool ScrollArrowsAtBothEnds() override { return true; }

    bool PickColor(uint16_t rgb[3]) override
    {
        NativeScope scope(*this);
        GtkWidget* d = gtk_color_chooser_dialog_new("Choose a Colour", ParentOf(m_active));
        gtk_window_set_modal(GTK_WINDOW(d), TRUE);
        GuardKeys(d);
        gtk_color_chooser_set_use_alpha(GTK_COLOR_CHOOSER(d), FALSE);
        const GdkRGBA start{rgb[0] / 65535.0, rgb[1] / 65535.0, rgb[2] / 65535.0, 1.0};
        gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(d), &start);
        // The editor opens on the colour itself (the palette would select its
        // own first swatch), with its hex field to type one.
        g_object_set(d, "show-editor", TRUE, nullptr);
        const bool ok = gtk_dialog_run(GTK_DIALOG(d)) == GTK_RESPONSE_OK;
        if (ok) {
            GdkRGBA chosen{};
            gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(d), &chosen);
            const double v[3] = {chosen.red, chosen.green, chosen.blue};
            for (int c = 0; c < 3; ++c)
                rgb[c] = uint16_t(std::lround(std::clamp(v[c], 0.0, 1.0) * 65535.0));
        }
        gtk_widget_destroy(d);
        return ok;
    }

    int PopupMenu(WinId id, Point global, const std::vector<MenuItem>& items) override
    {
        Win* win = Find(id);
        if (!win || !gtk_widget_get_window(win->widget))
            return -1;
        NativeScope scope(*this);
        GtkWidget* menu = gtk_menu_new();
        struct State {
            GMainLoop* loop;
            int chosen = -1;
        } state{g_main_loop_new(nullptr, FALSE)};
        for (size_t i = 0; i < items.size(); ++i) {
            const MenuItem& it = items[i];
            GtkWidget* item = nullptr;
            if (it.separator) {
                item = gtk_separator_menu_item_new();
            } else {
                const std::string label = ToUtf8(it.text);
                item = it.checked ? gtk_check_menu_item_new_with_label(label.c_str())
                                  : gtk_menu_item_new_with_label(label.c_str());
                if (it.checked)
                    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(item), TRUE);
                gtk_widget_set_sensitive(item, !it.disabled);
                if (!it.key.empty()) {
                    guint mods = 0;
                    if (it.cmd)
                        mods |= GDK_CONTROL_MASK;
                    if (it.shift)
                        mods |= GDK_SHIFT_MASK;
                    if (it.option)
                        mods |= GDK_MOD1_MASK;
                    guint key = gdk_unicode_to_keyval(guchar(it.key[0]));
                    if (GtkWidget* child = gtk_bin_get_child(GTK_BIN(item)); child && GTK_IS_ACCEL_LABEL(child))
                        gtk_accel_label_set_accel(GTK_ACCEL_LABEL(child), key, GdkModifierType(mods));
                }
                g_object_set_data(G_OBJECT(item), "tessolo-index", GINT_TO_POINTER(int(i)));
                g_signal_connect(item, "activate", G_CALLBACK(+[](GtkWidget* w, gpointer s) {
                                     static_cast<State*>(s)->chosen =
                                         GPOINTER_TO_INT(g_object_get_data(G_OBJECT(w), "tessolo-index"));
                                 }),
                                 &state);
            }
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
        }
        gtk_widget_show_all(menu);
        g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkWidget*, gpointer s) {
                             g_main_loop_quit(static_cast<State*>(s)->loop);
                         }),
                         &state);
        GdkRectangle at{global.x - win->pos.x, global.y - win->pos.y, 1, 1};
        // The toolkit handles input after GTK delivered it, so the press or
        // key that asked for the menu is handed over as its trigger: the
        // menu needs it to take the pointer and keyboard grab.
        gtk_menu_popup_at_rect(GTK_MENU(menu), gtk_widget_get_window(win->widget), &at, GDK_GRAVITY_NORTH_WEST,
                               GDK_GRAVITY_NORTH_WEST, m_lastInput);
        if (gtk_widget_get_visible(menu))
            g_main_loop_run(state.loop);
        // An item's activation follows the menu's deactivation.
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        g_main_loop_unref(state.loop);
        gtk_widget_destroy(menu);
        return state.chosen;
    }

    bool FileOpenDialog(const FileDialogSpec& spec, std::string& path) override
    {
        NativeScope scope(*this);
        GtkWidget* d = gtk_file_chooser_dialog_new(spec.title.empty() ? "Open" : ToUtf8(spec.title).c_str(),
                                                   ParentOf(spec.parent), GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
                                                   GTK_RESPONSE_CANCEL, "_Open", GTK_RESPONSE_ACCEPT, nullptr);
        Prepare(d, spec);
        if (spec.filter) {
            GtkFileFilter* f = gtk_file_filter_new();
            gtk_file_filter_set_name(f, "Files");
            gtk_file_filter_add_custom(
                f, GTK_FILE_FILTER_DISPLAY_NAME,
                +[](const GtkFileFilterInfo* info, gpointer s) -> gboolean {
                    auto* sp = static_cast<const FileDialogSpec*>(s);
                    return info->display_name && sp->filter(ToLatin1(info->display_name));
                },
                const_cast<FileDialogSpec*>(&spec), nullptr);
            gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(d), f);
        }
        bool ok = false;
        if (gtk_dialog_run(GTK_DIALOG(d)) == GTK_RESPONSE_ACCEPT) {
            if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d))) {
                path = name;
                g_free(name);
                ok = true;
            }
        }
        gtk_widget_destroy(d);
        return ok;
    }

    bool FileSaveDialog(const FileDialogSpec& spec, SaveChoice& choice) override
    {
        NativeScope scope(*this);
        GtkWidget* d = gtk_file_chooser_dialog_new(spec.title.empty() ? "Save" : ToUtf8(spec.title).c_str(),
                                                   ParentOf(spec.parent), GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel",
                                                   GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr);
        Prepare(d, spec);
        gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(d), TRUE);
        if (!spec.proposedName.empty())
            gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(d), ToUtf8(spec.proposedName).c_str());
        bool ok = false;
        if (gtk_dialog_run(GTK_DIALOG(d)) == GTK_RESPONSE_ACCEPT) {
            if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d))) {
                gchar* dir = g_path_get_dirname(name);
                gchar* base = g_path_get_basename(name);
                choice.folder = dir;
                choice.name = base;
                // The chooser asked before it let an existing name through.
                choice.replaceConfirmed = g_file_test(name, G_FILE_TEST_EXISTS);
                g_free(dir);
                g_free(base);
                g_free(name);
                ok = true;
            }
        }
        gtk_widget_destroy(d);
        return ok;
    }

    bool OpenURL(const std::string& url) override
    {
        GError* error = nullptr;
        const bool ok = g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error);
        if (error)
            g_error_free(error);
        return ok;
    }

private:
    struct Win {
        GtkPlatform* owner = nullptr;
        WinId id = 0;
        WinId parent = 0;
        GtkWidget* widget = nullptr;
        cairo_surface_t* store = nullptr;
        uint16_t width = 0, height = 0;
        Point pos;
        bool visible = false;
        std::vector<uint8_t> mask;
        std::vector<guint16> keysDown;
    };

    // Input to our windows is held back while a native dialog or menu runs.
    struct NativeScope {
        explicit NativeScope(GtkPlatform& p) : p(p) { ++p.m_native; }
        ~NativeScope() { --p.m_native; }
        GtkPlatform& p;
    };

    Win* Find(WinId id)
    {
        auto it = m_windows.find(id);
        return it == m_windows.end() ? nullptr : it->second;
    }

    GtkWindow* ParentOf(WinId id)
    {
        Win* w = Find(id);
        return w ? GTK_WINDOW(w->widget) : nullptr;
    }

    // A dialog hands each key to its focus widget, which may have been shown
    // by the key before (Ctrl+L brings a file chooser's location line) but
    // not yet realised: the layout that realises it waits for the next frame,
    // and on a loaded machine the key's release or the next key comes first.
    // GTK then drops the key with a critical warning; the widget is realised
    // here first, so that it takes the key.
    static void GuardKeys(GtkWidget* dialog)
    {
        auto realiseFocus = +[](GtkWidget* w, GdkEventKey*, gpointer) -> gboolean {
            GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(w));
            if (!focus || gtk_widget_get_realized(focus))
                return FALSE;
            if (gtk_widget_get_realized(w) && gtk_widget_get_visible(focus))
                gtk_widget_realize(focus);
            // A focus widget that cannot be realised gets no key (as GTK would
            // do, but quietly).
            return !gtk_widget_get_realized(focus);
        };
        g_signal_connect(dialog, "key-press-event", G_CALLBACK(realiseFocus), nullptr);
        g_signal_connect(dialog, "key-release-event", G_CALLBACK(realiseFocus), nullptr);
    }

    void Prepare(GtkWidget* d, const FileDialogSpec& spec)
    {
        GuardKeys(d);
        if (!spec.folder.empty())
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(d), spec.folder.c_str());
    }

    static int SettingInt(const char* name, int fallback)
    {
        gint v = fallback;
        if (GtkSettings* s = gtk_settings_get_default())
            g_object_get(s, name, &v, nullptr);
        return v > 0 ? v : fallback;
    }

    void Raise(WinId id)
    {
        m_z.erase(std::remove(m_z.begin(), m_z.end(), id), m_z.end());
        m_z.push_back(id);
    }

    void KeepInput(const GdkEvent* ev)
    {
        if (m_lastInput)
            gdk_event_free(m_lastInput);
        m_lastInput = gdk_event_copy(ev);
    }

    void Send(Event e)
    {
        e.timeMs = NowMs();
        ++m_pushed;
        if (m_sink)
            m_sink->Push(e);
    }

    void SetActive(WinId id)
    {
        if (m_active == id)
            return;
        const WinId old = m_active;
        m_active = id;
        for (const Event& e : FocusChange(old, Find(old) != nullptr, id))
            Send(e);
    }

    static Event Pointer(Kind kind, const Win* win, double xRoot, double yRoot, guint state)
    {
        Event e;
        e.kind = kind;
        e.win = win->id;
        e.global = {int32_t(std::lround(xRoot)), int32_t(std::lround(yRoot))};
        e.mods = ModsOf(state);
        return e;
    }

    static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data)
    {
        auto* win = static_cast<Win*>(data);
        cairo_set_source_surface(cr, win->store, 0, 0);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        return TRUE;
    }

    static gboolean OnButton(GtkWidget*, GdkEventButton* ev, gpointer data)
    {
        auto* win = static_cast<Win*>(data);
        // Double and triple presses are counted by the toolkit itself.
        if (ev->type != GDK_BUTTON_PRESS && ev->type != GDK_BUTTON_RELEASE)
            return TRUE;
        if (win->owner->m_native)
            return FALSE;
        // With no window manager a press focuses nothing: the one window
        // that drops presses while it is not active (the main one) would
        // stay deaf once a dialog that had the focus closed. The press
        // focuses its window first, as a click-to-focus manager does.
        if (ev->type == GDK_BUTTON_PRESS && win->owner->m_active != win->id && NoWindowManager(win->widget))
            win->owner->Activate(win->id);
        Event e = Pointer(ev->type == GDK_BUTTON_PRESS ? Kind::MouseDown : Kind::MouseUp, win, ev->x_root, ev->y_root,
                          ev->state);
        e.button = ev->button == 1 ? 1 : ev->button == 3 ? 2 : ev->button == 2 ? 3 : uint8_t(ev->button);
        win->owner->m_buttonDown = ev->type == GDK_BUTTON_PRESS;
        win->owner->KeepInput(reinterpret_cast<GdkEvent*>(ev));
        win->owner->Send(e);
        return TRUE;
    }

    static bool NoWindowManager(GtkWidget* w)
    {
        GdkScreen* s = gtk_widget_get_screen(w);
        return s && GDK_IS_X11_SCREEN(s) && !std::strcmp(gdk_x11_screen_get_window_manager_name(s), "unknown");
    }

    static gboolean OnMotion(GtkWidget*, GdkEventMotion* ev, gpointer data)
    {
        auto* win = static_cast<Win*>(data);
        if (win->owner->m_native)
            return FALSE;
        const bool drag = ev->state & (GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK);
        win->owner->Send(Pointer(drag ? Kind::MouseDragged : Kind::MouseMoved, win, ev->x_root, ev->y_root, ev->state));
        return TRUE;
    }

    static gboolean OnScroll(GtkWidget*, GdkEventScroll* ev, gpointer data)
    {
        auto* win = static_cast<Win*>(data);
        if (win->owner->m_native)
            return FALSE;
        int16_t delta = 0;
        switch (ev->direction) {
        case GDK_SCROLL_UP:
        case GDK_SCROLL_LEFT: delta = 1; break;
        case GDK_SCROLL_DOWN:
        case GDK_SCROLL_RIGHT: delta = -1; break;
        default: {
            gdouble dx = 0, dy = 0;
            gdk_event_get_scroll_deltas(reinterpret_cast<GdkEvent*>(ev), &dx, &dy);
            delta = int16_t(dy < 0 ? 1 : dy > 0 ? -1 : 0);
        }
        }
        if (!delta)
            return TRUE;
        Event e = Pointer(Kind::MouseWheel, win, ev->x_root, ev->y_root, ev->state);
        e.wheel = delta;
        win->owner->Send(e);
        return TRUE;
    }

    static gboolean OnKey(GtkWidget*, GdkEventKey* ev, gpointer data)
    {
        auto* win = static_cast<Win*>(data);
        if (win->owner->m_native || ev->is_modifier)
            return FALSE;
        uint8_t ch = 0;
        uint8_t vk = VKeyOfKeyval(ev->keyval, ch);
        if (vk == kNoKey)
            vk = VKeyOfHardware(ev->hardware_keycode);
        if (!ch) {
            const gunichar u = gdk_keyval_to_unicode(ev->keyval);
            ch = u < 256 ? uint8_t(u) : 0;
        }
        auto& down = win->keysDown;
        const auto at = std::find(down.begin(), down.end(), ev->hardware_keycode);
        Event e;
        if (ev->type == GDK_KEY_PRESS) {
            e.kind = at == down.end() ? Kind::KeyDown : Kind::KeyRepeat;
            if (at == down.end())
                down.push_back(ev->hardware_keycode);
        } else {
            e.kind = Kind::KeyUp;
            if (at != down.end())
                down.erase(at);
        }
        e.win = win->id;
        e.global = win->owner->PointerGlobal();
        if (ev->type == GDK_KEY_PRESS)
            win->owner->KeepInput(reinterpret_cast<GdkEvent*>(ev));
        e.mods = ModsOf(ev->state);
        e.vkey = vk;
        e.ch = ch;
        win->owner->Send(e);
        return TRUE;
    }

    static gboolean OnFocus(GtkWidget*, GdkEventFocus* ev, gpointer data)
    {
        auto* win = static_cast<Win*>(data);
        GtkPlatform* p = win->owner;
        win->keysDown.clear();
        if (ev->in)
            p->SetActive(win->id);
        else if (p->m_active == win->id)
            p->SetActive(0);
        return FALSE;
    }

    static gboolean OnMap(GtkWidget*, GdkEvent*, gpointer data)
    {
        auto* win = static_cast<Win*>(data);
        if (GdkWindow* g = gtk_widget_get_window(win->widget); g && win->owner->m_cursor)
            gdk_window_set_cursor(g, win->owner->m_cursor);
        Event e;
        e.kind = Kind::WinDraw;
        e.win = win->id;
        e.dirty = {0, 0, win->width, win->height};
        win->owner->Send(e);
        return FALSE;
    }

    static gboolean OnConfigure(GtkWidget*, GdkEventConfigure* ev, gpointer data)
    {
        auto* win = static_cast<Win*>(data);
        // Only while no move of ours is in flight can the platform's idea of
        // the place be newer than ours.
        if (GdkWindow* g = gtk_widget_get_window(win->widget)) {
            gint x = 0, y = 0;
            gdk_window_get_origin(g, &x, &y);
            if (!win->owner->m_buttonDown)
                win->pos = {x, y};
        }
        (void)ev;
        return FALSE;
    }

    EventSink* m_sink = nullptr;
    std::map<WinId, Win*> m_windows;
    std::vector<WinId> m_z;
    WinId m_next = 1;
    WinId m_active = 0;
    uint64_t m_pushed = 0;
    int m_native = 0;
    bool m_buttonDown = false;
    GdkCursor* m_cursor = nullptr;
    int32_t m_cursorId = -1;
    GdkEvent* m_lastInput = nullptr;  // the last press or key, as a menu's trigger
};

}  // namespace

std::unique_ptr<Platform> OpenGtk(std::string& error)
{
    static bool initialised = false;
    if (!initialised) {
        // Global positions, shapes and the pointer query need X11.
        gdk_set_allowed_backends("x11");
        setenv("NO_AT_BRIDGE", "1", 0);
        if (!gtk_init_check(nullptr, nullptr)) {
            error = "cannot open the X display (is DISPLAY set?)";
            return nullptr;
        }
        initialised = true;
    }
    return std::make_unique<GtkPlatform>();
}

}  // namespace plat
