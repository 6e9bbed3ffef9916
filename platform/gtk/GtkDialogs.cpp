// The GTK backend's native dialogs: the alert, the colour chooser, the file
// choosers, and opening a link in the desktop's browser.
#include "platform/gtk/GtkBackend.h"

#include <cstdio>

namespace plat {
namespace gtkbackend {

namespace {

// The plug-in's windows are dark: the desktop's dialogs over them take the
// dark variant of GTK's theme while they are open (where the theme has
// none, GTK keeps its light one), and the setting is put back after, so
// nothing else of the process changes.
class DarkLook {
public:
    DarkLook() : m_settings(gtk_settings_get_default())
    {
        if (!m_settings)
            return;
        g_object_get(m_settings, "gtk-application-prefer-dark-theme", &m_before, nullptr);
        g_object_set(m_settings, "gtk-application-prefer-dark-theme", TRUE, nullptr);
    }
    ~DarkLook()
    {
        if (m_settings)
            g_object_set(m_settings, "gtk-application-prefer-dark-theme", m_before, nullptr);
    }
    DarkLook(const DarkLook&) = delete;
    DarkLook& operator=(const DarkLook&) = delete;

private:
    GtkSettings* m_settings;
    gboolean m_before = FALSE;
};

}  // namespace

int GtkPlatform::Alert(const std::string& title, const std::string& text, WinId parent)
{
    NativeScope scope(*this);
    DarkLook dark;
    GtkWidget* d = gtk_message_dialog_new(ParentOf(parent ? parent : m_active), GTK_DIALOG_MODAL, GTK_MESSAGE_INFO,
                                          GTK_BUTTONS_OK, "%s", ToUtf8(title).c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(d), "%s", ToUtf8(text).c_str());
    PlaceOverParent(d);
    GuardKeys(d);
    const int r = gtk_dialog_run(GTK_DIALOG(d));
    gtk_widget_destroy(d);
    AwaitFocusBack();
    return r;
}

bool GtkPlatform::PickColor(uint16_t rgb[3])
{
    NativeScope scope(*this);
    DarkLook dark;
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
    AwaitFocusBack();
    return ok;
}

bool GtkPlatform::FileOpenDialog(const FileDialogSpec& spec, std::string& path)
{
    NativeScope scope(*this);
    DarkLook dark;
    GtkWidget* d = NewChooser(spec, false);
    bool ok = false;
    if (gtk_dialog_run(GTK_DIALOG(d)) == GTK_RESPONSE_ACCEPT) {
        if (gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d))) {
            path = name;
            g_free(name);
            ok = true;
        }
    }
    gtk_widget_destroy(d);
    AwaitFocusBack();
    return ok;
}

// A name the caller refuses is told over the chooser, which stays open for
// another: for an existing file before the chooser's own question whether
// to replace it (a file that may not be written is no file to offer to
// replace), and for a new name when it is accepted.
bool GtkPlatform::FileSaveDialog(const FileDialogSpec& spec, SaveChoice& choice)
{
    NativeScope scope(*this);
    DarkLook dark;
    GtkWidget* d = NewChooser(spec, true);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(d), TRUE);
    g_signal_connect(d, "confirm-overwrite",
                     G_CALLBACK(+[](GtkFileChooser* c, gpointer s) -> GtkFileChooserConfirmation {
                         gchar* name = gtk_file_chooser_get_filename(c);
                         const bool refused =
                             name && RefuseSaveName(GTK_WIDGET(c), *static_cast<const FileDialogSpec*>(s), name);
                         g_free(name);
                         return refused ? GTK_FILE_CHOOSER_CONFIRMATION_SELECT_AGAIN
                                        : GTK_FILE_CHOOSER_CONFIRMATION_CONFIRM;
                     }),
                     const_cast<FileDialogSpec*>(&spec));
    if (!spec.proposedName.empty())
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(d), ToUtf8(spec.proposedName).c_str());
    bool ok = false;
    while (!ok && gtk_dialog_run(GTK_DIALOG(d)) == GTK_RESPONSE_ACCEPT) {
        gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(d));
        if (!name)
            break;
        // A new name (or a link the chooser took for none) meets the
        // caller's check here.
        if (!RefuseSaveName(d, spec, name)) {
            gchar* dir = g_path_get_dirname(name);
            gchar* base = g_path_get_basename(name);
            choice.folder = dir;
            choice.name = base;
            // The chooser asked before it let an existing name through.
            choice.replaceConfirmed = g_file_test(name, G_FILE_TEST_EXISTS);
            g_free(dir);
            g_free(base);
            ok = true;
        }
        g_free(name);
    }
    gtk_widget_destroy(d);
    AwaitFocusBack();
    return ok;
}

// Shows why path may not be written in a modal box over the chooser;
// false, with nothing shown, when the caller takes it. The line also goes
// to standard error, as the command line's refusals do, for whoever
// follows the run there.
//
// The headline is the box's first line, not its title alone: without a
// window manager no title is drawn. The name has a label of its own that
// breaks it anywhere (a path broken only where its words end would break
// after its first "/", or not at all, and widen the box past the screen);
// every label is held to the box's width in characters.
bool GtkPlatform::RefuseSaveName(GtkWidget* chooser, const FileDialogSpec& spec, const char* path)
{
    if (!spec.refusal)
        return false;
    const QnRefusal why = spec.refusal(path);
    if (why.empty())
        return false;
    std::fprintf(stderr, "%s: %s\n", kRefusedSaveTitle, why.Line().c_str());
    const RefusalBox said = DescribeRefusal(why, path);
    gchar* headline = g_markup_escape_text(ToUtf8(said.headline).c_str(), -1);
    GtkWidget* box = gtk_message_dialog_new_with_markup(GTK_WINDOW(chooser), GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                                        GTK_BUTTONS_OK, "<b>%s</b>", headline);
    g_free(headline);
    gtk_window_set_title(GTK_WINDOW(box), kRefusedSaveTitle);
    GtkWidget* area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box));
    // The headline reads from the left, as the lines under it.
    GList* shown = gtk_container_get_children(GTK_CONTAINER(area));
    if (shown && GTK_IS_LABEL(shown->data)) {
        gtk_widget_set_halign(GTK_WIDGET(shown->data), GTK_ALIGN_START);
        gtk_label_set_xalign(GTK_LABEL(shown->data), 0);
    }
    g_list_free(shown);
    const auto add = [area](const std::string& text, PangoWrapMode wrap, bool selectable) {
        GtkWidget* label = gtk_label_new(ToUtf8(text).c_str());
        gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
        gtk_label_set_line_wrap_mode(GTK_LABEL(label), wrap);
        gtk_label_set_max_width_chars(GTK_LABEL(label), RefusalBox::kColumns);
        gtk_label_set_xalign(GTK_LABEL(label), 0);
        // A name broken inside is not a word broken in two: no hyphen.
        PangoAttrList* attributes = pango_attr_list_new();
        pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
        gtk_label_set_attributes(GTK_LABEL(label), attributes);
        pango_attr_list_unref(attributes);
        gtk_label_set_selectable(GTK_LABEL(label), selectable);
        gtk_widget_set_can_focus(label, FALSE);
        gtk_box_pack_start(GTK_BOX(area), label, FALSE, FALSE, 0);
        gtk_widget_show(label);
    };
    add(said.name, PANGO_WRAP_CHAR, true);
    add(said.reason, PANGO_WRAP_WORD_CHAR, false);
    add(said.advice, PANGO_WRAP_WORD_CHAR, false);
    PlaceOverParent(box);
    GuardKeys(box);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
    return true;
}

bool GtkPlatform::OpenURL(const std::string& url)
{
    GError* error = nullptr;
    const bool ok = g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error);
    if (error)
        g_error_free(error);
    return ok;
}

// A window manager hands the focus back to the window a closed dialog was
// over, a moment after the dialog went. A window of ours shown meanwhile
// (the name asked for after a file was chosen) would lose the focus to it
// again, and with it the focus of its fields: the focus is awaited here,
// for half a second at most, before the caller goes on. Without a window
// manager nothing hands it back.
void GtkPlatform::AwaitFocusBack()
{
    if (m_active || m_windows.empty() || NoWindowManager(m_windows.begin()->second->widget))
        return;
    bool timedOut = false;
    const guint source = g_timeout_add(
        500,
        [](gpointer flag) -> gboolean {
            *static_cast<bool*>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &timedOut);
    while (!m_active && !timedOut)
        g_main_context_iteration(nullptr, TRUE);
    if (!timedOut)
        g_source_remove(source);
}

// A dialog hands each key to its focus widget, which may have been shown
// by the key before (Ctrl+L brings a file chooser's location line) but
// not yet realised: the layout that realises it waits for the next frame,
// and on a loaded machine the key's release or the next key comes first.
// GTK then drops the key with a critical warning; the widget is realised
// here first, so that it takes the key.
void GtkPlatform::GuardKeys(GtkWidget* dialog)
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

// Over the window it belongs to (the desktop's middle without one): a
// window manager would put it there, and without one GTK leaves a plain
// dialog at the screen's top-left corner, far from what it speaks of.
void GtkPlatform::PlaceOverParent(GtkWidget* dialog)
{
    GtkWindow* w = GTK_WINDOW(dialog);
    gtk_window_set_position(w, gtk_window_get_transient_for(w) ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
}

namespace {

// The chooser's side bar offers the desktop's list of recently used files,
// files of every program and session, which is not this dialog's business
// (and an open dialog would start there).
void HideRecentPlace(GtkWidget* w)
{
    if (GTK_IS_PLACES_SIDEBAR(w))
        gtk_places_sidebar_set_show_recent(GTK_PLACES_SIDEBAR(w), FALSE);
    if (GTK_IS_CONTAINER(w))
        gtk_container_forall(GTK_CONTAINER(w), +[](GtkWidget* child, gpointer) { HideRecentPlace(child); }, nullptr);
}

}  // namespace

// A file chooser over the caller's window (the active one when the caller
// names none), with the caller's filter, in the save dialogs too: a file of
// another kind listed there is only one to write over by mistake. (The
// caller's description outlives the dialog, which is destroyed before the
// call returns.)
GtkWidget* GtkPlatform::NewChooser(const FileDialogSpec& spec, bool save)
{
    const std::string title = spec.title.empty() ? (save ? "Save" : "Open") : ToUtf8(spec.title);
    GtkWidget* d = gtk_file_chooser_dialog_new(
        title.c_str(), ParentOf(spec.parent ? spec.parent : m_active),
        save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel", GTK_RESPONSE_CANCEL,
        save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    GuardKeys(d);
    PlaceOverParent(d);
    HideRecentPlace(d);
    // The caller's folder, or the one the program was started in.
    std::string folder = spec.folder;
    if (folder.empty() || !g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR)) {
        gchar* cwd = g_get_current_dir();
        folder = cwd;
        g_free(cwd);
    }
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(d), folder.c_str());
    if (spec.filter) {
        GtkFileFilter* f = gtk_file_filter_new();
        gtk_file_filter_set_name(f, spec.filterName.empty() ? "Files" : ToUtf8(spec.filterName).c_str());
        gtk_file_filter_add_custom(
            f, GTK_FILE_FILTER_DISPLAY_NAME,
            +[](const GtkFileFilterInfo* info, gpointer s) -> gboolean {
                auto* sp = static_cast<const FileDialogSpec*>(s);
                return info->display_name && sp->filter(ToLatin1(info->display_name));
            },
            const_cast<FileDialogSpec*>(&spec), nullptr);
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(d), f);
    }
    return d;
}

}  // namespace gtkbackend
}  // namespace plat
