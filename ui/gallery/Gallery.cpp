#include "ui/gallery/Gallery.h"

#include "core/ErrorManager.h"
#include "core/ErrorWords.h"

#include "imaging/Font.h"
#include "platform/Headless.h"
#include "ui/App.h"
#include "ui/HeadlessPicture.h"
#include "ui/KeyCodes.h"
#include "ui/PlatformFileDialog.h"
#include "ui/PlatformPopupMenu.h"
#include "ui/gallery/ResourceWriter.h"

#include <cmath>
#include <cstdio>

namespace qnui {

namespace {
constexpr const char* kSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kSansBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr int32_t kW = 380, kH = 250;
constexpr int32_t kDW = 280, kDH = 140;

qntRGBA8 Hex(uint32_t c, uint8_t a = 255) { return {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), a}; }

// Inside a rectangle with rounded corners, shrunk by inset.
bool InRounded(int32_t x, int32_t y, int32_t w, int32_t h, int32_t radius, int32_t inset = 0)
{
    const double px = x + 0.5, py = y + 0.5;
    const double l = inset, t = inset, r = w - inset, b = h - inset, rad = radius - inset;
    if (px < l || py < t || px > r || py > b)
        return false;
    const double cx = px < l + rad ? l + rad : px > r - rad ? r - rad : px;
    const double cy = py < t + rad ? t + rad : py > b - rad ? b - rad : py;
    return (px - cx) * (px - cx) + (py - cy) * (py - cy) <= rad * rad;
}

// The gallery's outline: rounded, with a round bite out of the lower right
// corner so that the shape shows.
bool InGallery(int32_t x, int32_t y, int32_t inset = 0)
{
    const double dx = x + 0.5 - kW, dy = y + 0.5 - kH;
    return InRounded(x, y, kW, kH, 18, inset) && dx * dx + dy * dy > double(46 + inset) * (46 + inset);
}

qntRGBA8 Mix(uint32_t a, uint32_t b, double t)
{
    auto ch = [&](int s) {
        return uint8_t(std::lround(((a >> s) & 255) * (1 - t) + ((b >> s) & 255) * t));
    };
    return {ch(16), ch(8), ch(0), 255};
}

// Fills a layer with a bordered, rounded face.
void Face(CQNF_Layer& layer, int32_t w, int32_t h, int32_t radius, uint32_t fill, uint32_t border)
{
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            qntRGBA8 c{0, 0, 0, 0};
            if (InRounded(x, y, w, h, radius, 1))
                c = Hex(fill);
            else if (InRounded(x, y, w, h, radius))
                c = Hex(border);
            layer.SetPixel(uint16_t(x), uint16_t(y), c);
        }
}

// Puts text into a text layer, centred in the rectangle when centre is set.
void Text(CQNF_TextLayer& t, CQNF_Font* font, const char* text, qntRECT_s r, uint32_t colour, bool centre)
{
    unsigned long w = 0, h = 0;
    CQNF_String s(text);
    if (font)
        font->GetTextSize(s, 0, w, h);
    const int32_t x = centre ? r.left + (r.right - r.left - int32_t(w)) / 2 : r.left;
    const int32_t y = r.top + (r.bottom - r.top - int32_t(font ? font->GetFontHeight() : 0)) / 2;
    t.Create(short(x), short(y), 1, uint16_t(r.right - x), uint16_t(r.bottom - y));
    if (font)
        t.SetFont(font);
    t.SetText(s, Hex(colour), font ? font->GetFontHeight() : 15, 0, 0);
}
}  // namespace

bool BuildGalleryResource(const std::string& path, std::string& error)
{
    CQNF_Storage s;
    if (!s.Open(CQNF_String(path.c_str()), 2)) {
        error = "cannot create " + path;
        return false;
    }
    ResourceWriter w(s);
    bool ok = true;
    const std::string g = "UIResources>Windows>Gallery>", d = "UIResources>Windows>GalleryDialog>";
    ok &= w.Image(g + "Background", {0, 0, kW, kH}, [](int32_t x, int32_t y) {
        if (!InGallery(x, y))
            return qntRGBA8{0, 0, 0, 0};
        return InGallery(x, y, 1) ? Mix(gallery::kBodyColour, 0xDCE3EC, double(y) / kH) : Hex(0x44556B);
    });
    auto caption = [](uint32_t from, uint32_t to) {
        return [from, to](int32_t x, int32_t y) {
            if (!InGallery(x, y))
                return qntRGBA8{0, 0, 0, 0};
            return y == 33 ? Hex(0x44556B) : Mix(from, to, double(y) / 34);
        };
    };
    ok &= w.Image(g + "Caption_Active", gallery::kCaption, caption(0x3D5F94, 0x2C4A78));
    ok &= w.Image(g + "Caption_Inactive", gallery::kCaption, caption(0x9AA3B0, 0x848E9C));
    ok &= w.Image(d + "Background", {0, 0, kDW, kDH}, [](int32_t x, int32_t y) {
        if (!InRounded(x, y, kDW, kDH, 12))
            return qntRGBA8{0, 0, 0, 0};
        return InRounded(x, y, kDW, kDH, 12, 1) ? Hex(0xF7F4EC) : Hex(0x5C4630);
    });
    ok &= w.Image(d + "Caption_Active", {0, 0, kDW, 30}, [](int32_t x, int32_t y) {
        return InRounded(x, y, kDW, kDH, 12) ? Mix(0x8A6440, 0x6B4C2C, double(y) / 30) : qntRGBA8{0, 0, 0, 0};
    });
    ok &= w.Font("Gallery", kSans, 12);
    ok &= w.Font("GalleryBold", kSansBold, 13);
    ok &= w.String("Gallery_Title", "Tessolo toolkit gallery");
    ok &= w.String("Gallery_Help", "Ctrl+D dialog, Ctrl+M menu, Ctrl+S save, Esc closes");
    ok &= w.Rect("Gallery_Dialog", gallery::kDialogButton);
    ok &= w.Rect("Gallery_Menu", {195, 56, 360, 88});
    ok &= w.Rect("Gallery_Open", {20, 98, 185, 130});
    ok &= w.Rect("Gallery_Save", {195, 98, 360, 130});
    ok &= w.Rect("Gallery_Status", {20, 142, 360, 196});
    ok &= w.Shortcuts({{'D', true, 1, 0, 0, gallery::Dialog},
                       {'M', true, 1, 0, 0, gallery::Menu},
                       {'O', true, 1, 0, 0, gallery::Open},
                       {'S', true, 1, 0, 0, gallery::Save},
                       {'Q', true, 1, 0, 0, gallery::Quit},
                       {'I', true, 1, 0, 0, gallery::Info}});
    if (!s.Close() || !ok) {
        error = "cannot write the gallery resources to " + path;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------

CGalleryButton::CGalleryButton(qntRECT_s rect, const char* label, CQNF_Font* font)
    : m_rect(rect), m_label(label), m_font(font)
{
    m_type = qnctl::Button;
}

unsigned char CGalleryButton::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    CQNF_Control::Init(window, id, name, storage);
    const int32_t w = m_rect.right - m_rect.left, h = m_rect.bottom - m_rect.top;
    if (!m_face.Create(short(m_rect.left), short(m_rect.top), uint16_t(w), uint16_t(h), qnimg::ModeRGBA))
        return 0;
    Text(m_text, m_font, m_label.GetStr(), m_rect, 0x1E2A3A, true);
    m_window->LSAddLayer(&m_face);
    m_window->LSAddLayer(&m_text);
    m_ready = 1;
    Redraw();
    return 1;
}

void CGalleryButton::Redraw()
{
    if (!m_ready)
        return;
    const int32_t w = m_rect.right - m_rect.left, h = m_rect.bottom - m_rect.top;
    Face(m_face, w, h, 7, m_down ? 0xC3D2EA : 0xFFFFFF, m_down ? 0x2C4A78 : 0x8595AB);
    m_window->RenderRect(m_rect);
    m_window->UpdateRect(m_rect);
}

unsigned char CGalleryButton::PtAboveControl(short x, short y)
{
    return x >= m_rect.left && x < m_rect.right && y >= m_rect.top && y < m_rect.bottom;
}

unsigned char CGalleryButton::OnLMouseDown(short, short, unsigned char)
{
    m_down = true;
    Redraw();
    return 1;
}

unsigned char CGalleryButton::OnMouseMove(short x, short y, unsigned char)
{
    // While the button is held, it looks pressed only with the pointer on it.
    if (m_window->GetCapturedControl() == m_id && m_down != (PtAboveControl(x, y) != 0)) {
        m_down = !m_down;
        Redraw();
    }
    return 1;
}

unsigned char CGalleryButton::OnLMouseUp(short x, short y, unsigned char mods)
{
    const bool click = PtAboveControl(x, y) != 0;
    m_down = false;
    Redraw();
    if (click)
        m_window->OnCtrlMessage(272, m_id, m_name.GetStr(), m_type, &mods);
    return 1;
}

// ---------------------------------------------------------------------------

unsigned char CGalleryWindow::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    m_font = AddFont(CQNF_String("Gallery"));
    m_bold = AddFont(CQNF_String("GalleryBold"));
    CQNF_String title, help;
    GetResourceString("Gallery_Title", title);
    GetResourceString("Gallery_Help", help);
    Text(m_title, GetFont(m_bold), title.GetStr(), {18, 0, 360, 34}, 0xFFFFFF, false);
    LSAddLayer(&m_title);

    qntRECT_s status{20, 142, 360, 196};
    GetResourceRect("Gallery_Status", status);
    m_panel.Create(short(status.left), short(status.top), uint16_t(status.right - status.left),
                   uint16_t(status.bottom - status.top), qnimg::ModeRGBA);
    Face(m_panel, status.right - status.left, status.bottom - status.top, 5, 0xFFFFFF, 0xB4BFCC);
    LSAddLayer(&m_panel);
    Text(m_status, GetFont(m_font), "Ready.", {status.left + 10, status.top + 4, status.right - 6, status.top + 26},
         0x1E2A3A, false);
    LSAddLayer(&m_status);
    Text(m_help, GetFont(m_font), help.GetStr(), {20, 202, 372, 222}, 0x5A6B80, false);
    LSAddLayer(&m_help);

    const struct {
        const char* rect;
        const char* label;
    } buttons[] = {{"Gallery_Dialog", "Modal dialog"},
                   {"Gallery_Menu", "Pop-up menu"},
                   {"Gallery_Open", "Open file..."},
                   {"Gallery_Save", "Save file..."}};
    for (const auto& b : buttons) {
        qntRECT_s r{0, 0, 0, 0};
        if (!GetResourceRect(b.rect, r))
            return 0;
        auto* button = new CGalleryButton(r, b.label, GetFont(m_font));
        if (AddControl_External(button) == None) {
            delete button;
            return 0;
        }
        // The window owns its buttons from here on.
        button->SetExternal(0);
    }
    return m_font != None && m_bold != None;
}

void CGalleryWindow::Note(const std::string& what)
{
    if (what.rfind("dialog-shown", 0) != 0)
        SetStatus(what);
    if (onEvent)
        onEvent(what);
}

void CGalleryWindow::SetStatus(const std::string& text)
{
    m_status.SetText(CQNF_String(text.c_str()));
    const qntRECT_s r = m_panel.GetRect();
    RenderRect(r);
    UpdateRect(r);
}

unsigned char CGalleryWindow::OnCtrlMessage(unsigned short msg, unsigned long id, char*, unsigned char, void* data)
{
    if (msg == 272)
        Command(uint16_t(gallery::Dialog + id));
    else if (msg == qnmsg::Shortcut) {
        Note("shortcut " + std::to_string(id));
        Command(uint16_t(id));
    } else if (msg == qnmsg::PopupChoice && data)
        Note("menu " + std::to_string(*static_cast<unsigned short*>(data)));
    return 1;
}

unsigned char CGalleryWindow::OnKeyDown(unsigned char key, unsigned char)
{
    if (key == qnkey::Escape) {
        Close();
        return 1;
    }
    return 0;
}

void CGalleryWindow::Command(unsigned short command)
{
    switch (command) {
    case gallery::Dialog: {
        CGalleryDialog dialog(this);
        if (!dialog.CreateFromResource(CQNF_String("GalleryDialog"), -32000, -32000, this, 1)) {
            Note("dialog-failed " + std::to_string(dialog.GetError()));
            return;
        }
        dialog.RenderRect(qnNullRect);
        Note("dialog-open");
        const long r = dialog.DoModal();
        Note("dialog-closed " + std::to_string(r));
        return;
    }
    case gallery::Menu: {
        CQNF_PlatformPopupMenu menu;
        menu.Create();
        menu.AddItem("Zoom in", 1, 1, 0, 1, 0, 0, "=");
        menu.AddItem("Zoom out", 2, 0, 0, 1, 0, 0, "-");
        menu.AddSeparator();
        menu.AddItem("Fit to window", 3, 0, 1, 1, 0, 0, "0");
        menu.AddItem("Actual pixels", 4, 0, 0, 1, 1, 0, "1");
        const qntPOS at = GetMousePos();
        menu.DoPopup(this, short(at.x), short(at.y));
        return;
    }
    case gallery::Open: {
        CQNF_PlatformFileDialog d;
        CQNF_StringArray ext;
        ext.Add(CQNF_String("png"));
        ext.Add(CQNF_String("qnth"));
        d.AddFilter("Pictures and shapes", &ext, 0);
        d.SetWindowTitle("Open a picture or a shape");
        Note(d.DoFileOpenDialog(this, 0) ? "opened " + d.GetResultPath().path : "open cancelled");
        return;
    }
    case gallery::Save: {
        CQNF_PlatformFileDialog d;
        d.SetWindowTitle("Save a note");
        d.SetDefaultSaveName("gallery note.txt");
        const bool ok = d.DoFileSaveDialog(
            [](CQNF_StdFile* f, void*) -> unsigned char {
                static const char kText[] = "Written by the toolkit gallery.\n";
                return f->Write(kText, sizeof kText - 1) == int64_t(sizeof kText - 1);
            },
            nullptr, this, 0, 0);
        Note(ok ? "saved " + d.GetResultPath().path : "save cancelled");
        return;
    }
    case gallery::Quit: Close(); return;
    default: return;
    }
}

// ---------------------------------------------------------------------------

unsigned char CGalleryDialog::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    m_font = AddFont(CQNF_String("Gallery"));
    if (m_font == None)
        return 0;
    Text(m_title, GetFont(m_font), "Modal dialog", {14, 0, kDW - 10, 30}, 0xFFFFFF, false);
    Text(m_text, GetFont(m_font), "The gallery waits for this dialog.", {14, 44, kDW - 10, 70}, 0x2E2A24, false);
    LSAddLayer(&m_title);
    LSAddLayer(&m_text);
    auto* ok = new CGalleryButton(gallery::kDialogOk, "OK", GetFont(m_font));
    auto* cancel = new CGalleryButton({90, 96, 170, 124}, "Cancel", GetFont(m_font));
    m_ok = AddControl_External(ok);
    m_cancel = AddControl_External(cancel);
    ok->SetExternal(0);
    cancel->SetExternal(0);
    // Tells the owner once the dialog is up and drawn.
    SetTimer(150, 1);
    return m_ok != None && m_cancel != None;
}

unsigned char CGalleryDialog::OnTimer(unsigned short id)
{
    if (id == 1) {
        KillTimer(1);
        if (m_owner)
            m_owner->Note("dialog-shown");
    }
    return 1;
}

unsigned char CGalleryDialog::OnCtrlMessage(unsigned short msg, unsigned long id, char*, unsigned char, void*)
{
    if (msg == 272)
        EndModal(id == m_ok ? 1 : 0);
    return 1;
}

unsigned char CGalleryDialog::OnKeyDown(unsigned char key, unsigned char)
{
    if (key == qnkey::Escape || key == qnkey::Return) {
        EndModal(key == qnkey::Return ? 1 : 0);
        return 1;
    }
    return 0;
}

// ---------------------------------------------------------------------------

bool SnapGallery(const std::string& resourcePath, const std::string& pngPath, std::string& error)
{
    constexpr int32_t kDeskW = 460, kDeskH = 330, kAt = 40;
    plat::HeadlessPlatform p;
    p.SetScreens({{0, 0, kDeskW, kDeskH}});
    Toolkit& tk = Toolkit::Get();
    tk.Attach(&p);
    CQNF_App app;
    CQNF_App* saved = m_App;
    m_App = &app;
    bool ok = false;
    {
        CGalleryWindow w;
        if (!app.InitStorgaeResource(resourcePath.c_str(), 0))
            error = qnFileFailure(resourcePath, false, qnerr::FileNotOpened);
        else if (!w.CreateFromResource(CQNF_String("Gallery"), kAt, kAt, nullptr, 0))
            error = qnWindowNotMadeWords("the gallery window", resourcePath, "Gallery", w.GetError());
        else {
            w.RenderRect(qnNullRect);
            w.SetFocus();
            tk.PumpPending();
            ok = SaveDesktopPNG(p, pngPath, error);
            w.Close();
        }
    }
    m_App = saved;
    tk.Attach(nullptr);
    return ok;
}

}  // namespace qnui
