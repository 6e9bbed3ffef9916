// The GTK 3 backend on X11: one backend class, whose services live in one
// file each (GtkPlatform.cpp the windows, GtkInput.cpp the input,
// GtkDialogs.cpp the native dialogs, GtkMenus.cpp the pop-up menus,
// GtkClipboard.cpp the clipboard). Private to the backend: nothing outside
// platform/gtk includes it; the rest of the system reaches the backend
// through plat::OpenGtk (platform/Backend.h).
#pragma once

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
namespace gtkbackend {

// Positional X key codes (evdev + 8) of a standard keyboard to the virtual
// key codes the toolkit uses.
uint8_t VKeyOfHardware(uint16_t code);

// Keys known by their meaning rather than their place.
uint8_t VKeyOfKeyval(guint keyval, uint8_t& ch);
uint8_t VKeyOfModifier(guint keyval);

uint8_t ModsOf(guint state);

std::string ToUtf8(const std::string& latin1);

std::string ToLatin1(const char* utf8);

class GtkPlatform final : public Platform {
public:
    GtkPlatform() = default;
    ~GtkPlatform() override;
    void SetSink(EventSink* sink) override { m_sink = sink; }
    uint32_t NowMs() override { return uint32_t(g_get_monotonic_time() / 1000); }
    void WaitForEvents(int32_t timeoutMs) override;
    std::vector<Rect> ScreenWorkAreas() override;
    Rect DesktopBounds() override;
    WinId CreateWindow(const WindowSpec& spec) override;
    void DestroyWindow(WinId id) override;
    void SetShape(WinId id, const uint8_t* mask, uint16_t width, uint16_t height, Point origin) override;
    void Show(WinId id) override;
    void Hide(WinId id) override;
    bool IsVisible(WinId id) override;
    void Activate(WinId id) override;
    void LiftChildren(WinId parent);
    void Collapse(WinId id) override;
    void Move(WinId id, Point global) override;
    Rect ContentRect(WinId id) override;
    WinId WindowAt(Point g) override;
    WinId ActiveWindow() override { return m_active; }
    void Blit(WinId id, const uint32_t* xrgb, uint32_t strideWords, Rect src, Point dst) override;
    void Flush(WinId id, Rect) override;
    Point PointerGlobal() override;
    uint32_t KeyState() override;
    uint32_t DoubleClickMs() override { return uint32_t(SettingInt("gtk-double-click-time", 400)); }
    // GTK gives the whole blink cycle; the caret changes twice in it.
    uint32_t CaretBlinkMs() override { return uint32_t(SettingInt("gtk-cursor-blink-time", 1200) / 2); }
    void SetCursor(int32_t id) override;
    bool ClipboardHasText() override;
    bool ClipboardGetText(std::string& latin1) override;
    bool ClipboardSetText(const std::string& latin1) override;
    void Beep() override { gdk_display_beep(gdk_display_get_default()); }
    int Alert(const std::string& title, const std::string& text, WinId parent) override;
    bool ScrollArrowsAtBothEnds() override { return true; }
    bool PickColor(uint16_t rgb[3]) override;
    int PopupMenu(WinId id, Point global, const std::vector<MenuItem>& items) override;
    bool FileOpenDialog(const FileDialogSpec& spec, std::string& path) override;
    bool FileSaveDialog(const FileDialogSpec& spec, SaveChoice& choice) override;
    bool OpenURL(const std::string& url) override;

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
        bool modal = false;
        std::vector<uint8_t> mask;
    };

    // Input to our windows is held back while a native dialog or menu runs.
    // The keys let go meanwhile were let go in the dialog: when the last
    // one closes, the held keys are checked against the keyboard.
    struct NativeScope {
        explicit NativeScope(GtkPlatform& p) : p(p) { ++p.m_native; }
        ~NativeScope()
        {
            if (--p.m_native == 0)
                p.ForgetReleasedKeys();
        }
        GtkPlatform& p;
    };

    Win* Find(WinId id);
    GtkWindow* ParentOf(WinId id);
    GtkWidget* NewChooser(const FileDialogSpec& spec, bool save);
    static bool RefuseSaveName(GtkWidget* chooser, const FileDialogSpec& spec, const char* path);
    static void GuardKeys(GtkWidget* dialog);
    void AwaitFocusBack();
    static void PlaceOverParent(GtkWidget* dialog);
    static int SettingInt(const char* name, int fallback);
    void Raise(WinId id);
    WinId ModalAbove(WinId id);
    void KeepInput(const GdkEvent* ev);
    void ForgetReleasedKeys();
    void Send(Event e);
    void SetActive(WinId id);
    static Event Pointer(Kind kind, const Win* win, double xRoot, double yRoot, guint state);
    static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data);
    static gboolean OnButton(GtkWidget*, GdkEventButton* ev, gpointer data);
    static bool NoWindowManager(GtkWidget* w);
    static gboolean OnMotion(GtkWidget*, GdkEventMotion* ev, gpointer data);
    static gboolean OnScroll(GtkWidget*, GdkEventScroll* ev, gpointer data);
    static gboolean OnKey(GtkWidget*, GdkEventKey* ev, gpointer data);
    static gboolean OnFocus(GtkWidget*, GdkEventFocus* ev, gpointer data);
    static gboolean OnMap(GtkWidget*, GdkEvent*, gpointer data);
    static gboolean OnConfigure(GtkWidget*, GdkEventConfigure* ev, gpointer data);
    EventSink* m_sink = nullptr;
    std::map<WinId, Win*> m_windows;
    std::vector<WinId> m_z;
    WinId m_next = 1;
    WinId m_active = 0;
    uint64_t m_pushed = 0;
    int m_native = 0;
    bool m_buttonDown = false;
    // The hardware codes of the keys held down, whichever of our windows
    // took their press: a press of one of them is the key repeating.
    std::vector<guint16> m_keysDown;
    GdkCursor* m_cursor = nullptr;
    int32_t m_cursorId = -1;
    GdkEvent* m_lastInput = nullptr;  // the last press or key, as a menu's trigger
};

}  // namespace gtkbackend
}  // namespace plat
