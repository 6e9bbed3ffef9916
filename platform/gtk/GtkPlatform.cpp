// The GTK 3 backend on X11: its windows.
//
// Each toolkit window is an undecorated, app-paintable GtkWindow with a cairo
// RGB24 backing store: Blit writes into the store and queues a repaint, the
// "draw" signal paints the store, so exposes never need the toolkit. The
// outline is set as both the bounding and the input shape.
//
// The backend is one class (GtkBackend.h); its other services are in
// GtkInput.cpp, GtkDialogs.cpp, GtkMenus.cpp and GtkClipboard.cpp.
#include "platform/gtk/GtkBackend.h"

#include <cstdlib>
#include <string>

namespace plat {
namespace gtkbackend {

GtkPlatform::~GtkPlatform()
{
    while (!m_windows.empty())
        DestroyWindow(m_windows.begin()->first);
    if (m_cursor)
        g_object_unref(m_cursor);
    if (m_lastInput)
        gdk_event_free(m_lastInput);
}

void GtkPlatform::WaitForEvents(int32_t timeoutMs)
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

std::vector<Rect> GtkPlatform::ScreenWorkAreas()
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

Rect GtkPlatform::DesktopBounds()
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

WinId GtkPlatform::CreateWindow(const WindowSpec& spec)
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
    win->modal = spec.modal;
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
    if (spec.modal) {
        // Told so, a window manager keeps the focus on the dialog when the
        // window under it is clicked (a modal window of GTK's own would
        // also take the input of our other windows away from the toolkit).
        gtk_widget_realize(w);
        if (GdkWindow* g = gtk_widget_get_window(w))
            gdk_window_set_modal_hint(g, TRUE);
    }
    m_windows[win->id] = win;
    m_z.push_back(win->id);
    return win->id;
}

void GtkPlatform::DestroyWindow(WinId id)
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

void GtkPlatform::SetShape(WinId id, const uint8_t* mask, uint16_t width, uint16_t height, Point origin)
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

void GtkPlatform::Show(WinId id)
{
    if (Win* win = Find(id)) {
        gtk_widget_show(win->widget);
        gtk_window_move(GTK_WINDOW(win->widget), win->pos.x, win->pos.y);
        win->visible = true;
        Raise(id);
    }
}

void GtkPlatform::Hide(WinId id)
{
    if (Win* win = Find(id)) {
        gtk_widget_hide(win->widget);
        win->visible = false;
    }
}

bool GtkPlatform::IsVisible(WinId id)
{
    Win* win = Find(id);
    return win && win->visible;
}

void GtkPlatform::Activate(WinId id)
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

void GtkPlatform::LiftChildren(WinId parent)
{
    for (const auto& [cid, child] : m_windows)
        if (child->parent == parent && child->visible && cid != parent) {
            if (GdkWindow* g = gtk_widget_get_window(child->widget))
                gdk_window_raise(g);
            LiftChildren(cid);
        }
}

void GtkPlatform::Collapse(WinId id)
{
    if (Win* win = Find(id))
        gtk_window_iconify(GTK_WINDOW(win->widget));
}

void GtkPlatform::Move(WinId id, Point global)
{
    if (Win* win = Find(id)) {
        win->pos = global;
        gtk_window_move(GTK_WINDOW(win->widget), global.x, global.y);
    }
}

Rect GtkPlatform::ContentRect(WinId id)
{
    Win* win = Find(id);
    if (!win)
        return {};
    return {win->pos.x, win->pos.y, win->pos.x + win->width, win->pos.y + win->height};
}

WinId GtkPlatform::WindowAt(Point g)
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

void GtkPlatform::Blit(WinId id, const uint32_t* xrgb, uint32_t strideWords, Rect src, Point dst)
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

void GtkPlatform::Flush(WinId id, Rect)
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

GtkPlatform::Win* GtkPlatform::Find(WinId id)
{
    auto it = m_windows.find(id);
    return it == m_windows.end() ? nullptr : it->second;
}

GtkWindow* GtkPlatform::ParentOf(WinId id)
{
    Win* w = Find(id);
    return w ? GTK_WINDOW(w->widget) : nullptr;
}

// The topmost visible modal window that id is not, nor lies under in the
// line of parents; 0 when none.
WinId GtkPlatform::ModalAbove(WinId id)
{
    for (auto it = m_z.rbegin(); it != m_z.rend(); ++it) {
        Win* m = Find(*it);
        if (!m || !m->visible || !m->modal)
            continue;
        for (Win* w = Find(id); w; w = w->parent == w->id ? nullptr : Find(w->parent))
            if (w->id == m->id)
                return 0;
        return m->id;
    }
    return 0;
}

void GtkPlatform::Raise(WinId id)
{
    m_z.erase(std::remove(m_z.begin(), m_z.end(), id), m_z.end());
    m_z.push_back(id);
}

gboolean GtkPlatform::OnDraw(GtkWidget*, cairo_t* cr, gpointer data)
{
    auto* win = static_cast<Win*>(data);
    cairo_set_source_surface(cr, win->store, 0, 0);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    return TRUE;
}

gboolean GtkPlatform::OnMap(GtkWidget*, GdkEvent*, gpointer data)
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

gboolean GtkPlatform::OnConfigure(GtkWidget*, GdkEventConfigure* ev, gpointer data)
{
    auto* win = static_cast<Win*>(data);
    // Only while no move of ours is in flight can the platform's idea of
    // the place be newer than ours. A press whose release went elsewhere
    // (a menu opened on the press takes it) leaves the flag up with no
    // button held: the buttons as they are now tell, or a move the window
    // manager makes afterwards would never be seen.
    if (GdkWindow* g = gtk_widget_get_window(win->widget)) {
        gint x = 0, y = 0;
        gdk_window_get_origin(g, &x, &y);
        if (win->owner->m_buttonDown) {
            GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_window_get_display(g)));
            GdkModifierType held{};
            gdk_window_get_device_position(g, pointer, nullptr, nullptr, &held);
            win->owner->m_buttonDown = (held & (GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK)) != 0;
        }
        if (!win->owner->m_buttonDown)
            win->pos = {x, y};
    }
    (void)ev;
    return FALSE;
}

}  // namespace gtkbackend

std::unique_ptr<Platform> OpenGtk(std::string& error)
{
    static bool initialised = false;
    if (!initialised) {
        // Global positions, shapes and the pointer query need X11.
        gdk_set_allowed_backends("x11");
        setenv("NO_AT_BRIDGE", "1", 0);
        if (!gtk_init_check(nullptr, nullptr)) {
            const char* display = std::getenv("DISPLAY");
            error = display && *display ? std::string("cannot open the X display \"") + display + "\""
                                        : std::string("cannot open the X display (is DISPLAY set?)");
            return nullptr;
        }
        initialised = true;
    }
    return std::make_unique<gtkbackend::GtkPlatform>();
}

}  // namespace plat
