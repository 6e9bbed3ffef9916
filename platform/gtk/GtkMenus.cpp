// The GTK backend's pop-up menus.
#include "platform/gtk/GtkBackend.h"

namespace plat {
namespace gtkbackend {

int GtkPlatform::PopupMenu(WinId id, Point global, const std::vector<MenuItem>& items)
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

}  // namespace gtkbackend
}  // namespace plat
