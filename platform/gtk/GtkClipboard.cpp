// The GTK backend's clipboard, and the Latin-1 text of the toolkit to and
// from GTK's UTF-8.
#include "platform/gtk/GtkBackend.h"

namespace plat {
namespace gtkbackend {

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

bool GtkPlatform::ClipboardHasText()
{
    return gtk_clipboard_wait_is_text_available(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
}

bool GtkPlatform::ClipboardGetText(std::string& latin1)
{
    gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    if (!text)
        return false;
    latin1 = ToLatin1(text);
    g_free(text);
    return true;
}

bool GtkPlatform::ClipboardSetText(const std::string& latin1)
{
    const std::string utf8 = ToUtf8(latin1);
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), utf8.c_str(), gint(utf8.size()));
    return true;
}

}  // namespace gtkbackend
}  // namespace plat
