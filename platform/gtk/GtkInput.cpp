// The GTK backend's input: native key, button, motion, wheel and focus
// events turned into plat::Event records for the toolkit's queue (while a
// native dialog or menu runs, input to our windows is not passed on), the
// pointer, the keyboard state and the cursors.
#include "platform/gtk/GtkBackend.h"

namespace plat {
namespace gtkbackend {

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

Point GtkPlatform::PointerGlobal()
{
    GdkDisplay* d = gdk_display_get_default();
    GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(d));
    gint x = 0, y = 0;
    gdk_device_get_position(pointer, nullptr, &x, &y);
    return {x, y};
}

uint32_t GtkPlatform::KeyState()
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

void GtkPlatform::SetCursor(int32_t id)
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

int GtkPlatform::SettingInt(const char* name, int fallback)
{
    gint v = fallback;
    if (GtkSettings* s = gtk_settings_get_default())
        g_object_get(s, name, &v, nullptr);
    return v > 0 ? v : fallback;
}

void GtkPlatform::KeepInput(const GdkEvent* ev)
{
    if (m_lastInput)
        gdk_event_free(m_lastInput);
    m_lastInput = gdk_event_copy(ev);
}

// A dialog or menu of the desktop takes the releases of keys whose press
// came to one of our windows (Ctrl+S opens the save dialog on the press of
// S), and without a window manager no focus change follows its close that
// would tell: the held keys are asked of the keyboard itself.
void GtkPlatform::ForgetReleasedKeys()
{
    if (m_keysDown.empty())
        return;
    char keys[32];
    XQueryKeymap(GDK_DISPLAY_XDISPLAY(gdk_display_get_default()), keys);
    std::erase_if(m_keysDown, [&keys](guint16 code) { return code > 255 || !(keys[code / 8] & (1 << (code % 8))); });
}

void GtkPlatform::Send(Event e)
{
    e.timeMs = NowMs();
    ++m_pushed;
    if (m_sink)
        m_sink->Push(e);
}

void GtkPlatform::SetActive(WinId id)
{
    if (m_active == id)
        return;
    const WinId old = m_active;
    m_active = id;
    for (const Event& e : FocusChange(old, Find(old) != nullptr, id))
        Send(e);
}

Event GtkPlatform::Pointer(Kind kind, const Win* win, double xRoot, double yRoot, guint state)
{
    Event e;
    e.kind = kind;
    e.win = win->id;
    e.global = {int32_t(std::lround(xRoot)), int32_t(std::lround(yRoot))};
    e.mods = ModsOf(state);
    return e;
}

gboolean GtkPlatform::OnButton(GtkWidget*, GdkEventButton* ev, gpointer data)
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
    // focuses its window first, as a click-to-focus manager does; but
    // while a modal dialog is up over it, the dialog keeps the focus and
    // comes to the front.
    if (ev->type == GDK_BUTTON_PRESS && NoWindowManager(win->widget)) {
        const WinId modal = win->owner->ModalAbove(win->id);
        const WinId target = modal ? modal : win->id;
        if (win->owner->m_active != target)
            win->owner->Activate(target);
    }
    Event e = Pointer(ev->type == GDK_BUTTON_PRESS ? Kind::MouseDown : Kind::MouseUp, win, ev->x_root, ev->y_root,
                      ev->state);
    e.button = ev->button == 1 ? 1 : ev->button == 3 ? 2 : ev->button == 2 ? 3 : uint8_t(ev->button);
    win->owner->m_buttonDown = ev->type == GDK_BUTTON_PRESS;
    win->owner->KeepInput(reinterpret_cast<GdkEvent*>(ev));
    win->owner->Send(e);
    return TRUE;
}

bool GtkPlatform::NoWindowManager(GtkWidget* w)
{
    GdkScreen* s = gtk_widget_get_screen(w);
    return s && GDK_IS_X11_SCREEN(s) && !std::strcmp(gdk_x11_screen_get_window_manager_name(s), "unknown");
}

gboolean GtkPlatform::OnMotion(GtkWidget*, GdkEventMotion* ev, gpointer data)
{
    auto* win = static_cast<Win*>(data);
    if (win->owner->m_native)
        return FALSE;
    const bool drag = ev->state & (GDK_BUTTON1_MASK | GDK_BUTTON2_MASK | GDK_BUTTON3_MASK);
    win->owner->Send(Pointer(drag ? Kind::MouseDragged : Kind::MouseMoved, win, ev->x_root, ev->y_root, ev->state));
    return TRUE;
}

gboolean GtkPlatform::OnScroll(GtkWidget*, GdkEventScroll* ev, gpointer data)
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

// The virtual key of Shift, Ctrl, Alt and their kin pressed or released
// alone, matching ModsOf (Ctrl is the command key, Super the control key);
// any other modifier counts as Shift.
uint8_t VKeyOfModifier(guint keyval)
{
    switch (keyval) {
    case GDK_KEY_Shift_R: return 60;
    case GDK_KEY_Control_L:
    case GDK_KEY_Control_R: return 55;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Meta_L: return 58;
    case GDK_KEY_Alt_R:
    case GDK_KEY_Meta_R:
    case GDK_KEY_ISO_Level3_Shift: return 61;
    case GDK_KEY_Super_L:
    case GDK_KEY_Super_R: return 59;
    case GDK_KEY_Caps_Lock: return 57;
    default: return 56;
    }
}

gboolean GtkPlatform::OnKey(GtkWidget*, GdkEventKey* ev, gpointer data)
{
    auto* win = static_cast<Win*>(data);
    if (win->owner->m_native)
        return FALSE;
    auto& down = win->owner->m_keysDown;
    const auto at = std::find(down.begin(), down.end(), ev->hardware_keycode);
    // A release whose press went elsewhere (a menu item chosen with Return
    // that opened this window, a key held while the focus came here) is
    // not this window's key; but a modifier let go is news to any window
    // (About closes on it), and chooses nothing.
    if (ev->type != GDK_KEY_PRESS && at == down.end() && !ev->is_modifier)
        return FALSE;
    uint8_t ch = 0;
    uint8_t vk = ev->is_modifier ? VKeyOfModifier(ev->keyval) : VKeyOfKeyval(ev->keyval, ch);
    if (vk == kNoKey)
        vk = VKeyOfHardware(ev->hardware_keycode);
    if (!ch && !ev->is_modifier) {
        const gunichar u = gdk_keyval_to_unicode(ev->keyval);
        ch = u < 256 ? uint8_t(u) : 0;
    }
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

gboolean GtkPlatform::OnFocus(GtkWidget*, GdkEventFocus* ev, gpointer data)
{
    auto* win = static_cast<Win*>(data);
    GtkPlatform* p = win->owner;
    p->m_keysDown.clear();
    if (ev->in)
        p->SetActive(win->id);
    else if (p->m_active == win->id)
        p->SetActive(0);
    return FALSE;
}

}  // namespace gtkbackend
}  // namespace plat
