#include "ui/gallery/EditGallery.h"

#include "core/ErrorManager.h"
#include "core/ErrorWords.h"

#include "imaging/ImageFile.h"
#include "ui/App.h"
#include "ui/CtrlEditLine.h"
#include "ui/CtrlList.h"
#include "ui/CtrlScrollBar.h"
#include "ui/CtrlStatic.h"
#include "ui/KeyCodes.h"
#include "ui/Toolkit.h"
#include "ui/HeadlessPicture.h"

#include <algorithm>
#include <cstring>

namespace qnui {

namespace {

template <typename T>
T* As(CQNF_Control* c, uint8_t type)
{
    return c && c->GetType() == type ? static_cast<T*>(c) : nullptr;
}

}  // namespace

bool MakeGalleryPicture(CQNF_Image& out, uint16_t width, uint16_t height)
{
    if (!out.Create(width, height, qnimg::ModeRGBA))
        return false;
    uint8_t* p[4] = {out.GetPlane(0), out.GetPlane(1), out.GetPlane(2), out.GetPlane(3)};
    const int bandTop = height / 10, bandBottom = height / 10 + height / 12;
    for (int y = 0; y < height; ++y) {
        uint8_t* row[4] = {p[0] + size_t(y) * width, p[1] + size_t(y) * width, p[2] + size_t(y) * width,
                           p[3] + size_t(y) * width};
        const bool lineRow = y % 100 < 2, majorRow = y % 500 < 6;
        for (int x = 0; x < width; ++x) {
            // Colour fields: red across, green down, blue in tiles of 500.
            uint8_t r = uint8_t(40 + 200 * x / std::max(1, width - 1));
            uint8_t g = uint8_t(40 + 200 * y / std::max(1, height - 1));
            uint8_t b = uint8_t(((x / 500 + y / 500) & 1) ? 200 : 90);
            if (majorRow || x % 500 < 6) {
                r = g = b = 20;
            } else if (lineRow || x % 100 < 2) {
                r = uint8_t(r / 2);
                g = uint8_t(g / 2);
                b = uint8_t(b / 2);
            }
            // A band fading out to full transparency shows the checkerboard.
            uint8_t a = 255;
            if (y >= bandTop && y < bandBottom)
                a = uint8_t(255 * std::abs(2 * x - width) / std::max(1, int(width)));
            row[0][x] = r;
            row[1][x] = g;
            row[2][x] = b;
            row[3][x] = a;
        }
    }
    return true;
}

bool LoadGalleryPicture(const std::string& path, CQNF_Image& out, std::string& error)
{
    CQNF_ImageFile file;
    if (!file.Load(path)) {
        error = file.Reason();
        return false;
    }
    if (!out.Create(file.GetWidth(), file.GetHeight(), qnimg::ModeRGBA)) {
        error = path + ": out of memory";
        return false;
    }
    const size_t n = out.PlaneSize();
    // Grey pictures repeat their one plane; files without alpha are opaque.
    const unsigned char* first = file.GetPlane(0);
    for (int p = 0; p < 3; ++p) {
        const unsigned char* src = file.GetPlane(static_cast<signed char>(p));
        std::memcpy(out.GetPlane(unsigned(p)), src ? src : first, n);
    }
    const unsigned char* alpha = file.GetPlane(-1);
    if (alpha)
        std::memcpy(out.GetPlane(3), alpha, n);
    else
        std::memset(out.GetPlane(3), 255, n);
    return true;
}

CQNF_Control* CEditGallery::Add(const char* name, uint8_t type)
{
    const unsigned long id = AddControl(name, type);
    return id == None ? nullptr : GetControl(id);
}

unsigned char CEditGallery::OnCreate(CQNF_LayerSet*, unsigned short, unsigned short)
{
    m_info = AddFont("Info Font");
    const unsigned long edit = AddFont("Edit Font"), list = AddFont("List Font"), small = AddFont("Small Font");
    if (m_info == None || edit == None || list == None || small == None)
        return 0;
    CQNF_Control* close = Add("Gal_Close", qnctl::Button);
    m_number = As<CQNF_CtrlEditLine>(Add("Gal_Number", qnctl::EditLine), qnctl::EditLine);
    m_text = As<CQNF_CtrlEditLine>(Add("Gal_Text", qnctl::EditLine), qnctl::EditLine);
    auto* listBar = As<CQNF_CtrlScrollBar>(Add("Gal_ListScroll", qnctl::ScrollBar), qnctl::ScrollBar);
    m_list = As<CQNF_CtrlList>(Add("Gal_List", qnctl::List), qnctl::List);
    auto* rulerTop = As<CQNF_CtrlRuler>(Add("Gal_RulerTop", qnctl::Ruler), qnctl::Ruler);
    auto* rulerLeft = As<CQNF_CtrlRuler>(Add("Gal_RulerLeft", qnctl::Ruler), qnctl::Ruler);
    auto* barV = As<CQNF_CtrlScrollBar>(Add("Gal_PreviewV", qnctl::ScrollBar), qnctl::ScrollBar);
    auto* barH = As<CQNF_CtrlScrollBar>(Add("Gal_PreviewH", qnctl::ScrollBar), qnctl::ScrollBar);
    auto* nav = As<CQNF_CtrlStaticImage>(Add("Gal_Navigator", qnctl::StaticImage), qnctl::StaticImage);
    for (const char* name : {"Gal_ListInfo", "Gal_Zoom", "Gal_Where", "Gal_Status"}) {
        if (auto* t = As<CQNF_CtrlStaticText>(Add(name, qnctl::StaticText), qnctl::StaticText))
            t->SetFont(GetFont(m_info));
    }
    if (!close || !m_number || !m_text || !listBar || !m_list || !rulerTop || !rulerLeft || !barV || !barH || !nav)
        return 0;

    // The edit lines: a whole number stepped by one, and free text, in the
    // colours of the dark skin.
    const qntRGBA8 colours[10] = {{30, 32, 36, 255},    {40, 43, 48, 255},    {250, 250, 250, 255},
                                  {11, 32, 235, 130},   {36, 38, 42, 255},    {215, 218, 222, 255},
                                  {240, 240, 240, 255}, {0, 0, 0, 255},       {255, 255, 255, 255},
                                  {120, 120, 120, 255}};
    for (CQNF_CtrlEditLine* e : {m_number, m_text})
        e->SetColors(colours);
    m_number->SetFont(GetFont(edit));
    m_number->SetOptions(1, 1, 0, 0, 0, 0);
    m_number->SetText("12", 0);
    m_text->SetFont(GetFont(edit));
    m_text->SetOptions(0, 1, 0, 0, 0, 1);
    m_text->SetText("Edit me, copy and paste", 0);

    m_list->SetFont(GetFont(list));
    m_list->SetOptions(1, 1, 18, 6, 3, listBar->GetControlID());
    for (int i = 1; i <= editgallery::kItems; ++i)
        m_list->AddItem(("Item " + std::to_string(i)).c_str(), 0, nullptr, 1);
    m_list->UpdateAfterChanges();

    for (CQNF_CtrlRuler* r : {rulerTop, rulerLeft}) {
        r->SetFont(GetFont(small));
    }
    qntRECT_s view{};
    if (!GetResourceRect("Gal_Preview", view) || AddControl_External(&m_preview) == None)
        return 0;
    qntRECT_s navRect{};
    nav->GetStateMemPtr(1, &navRect);
    PaintThumbnail(navRect);
    m_preview.SetData(view, m_picture, barV, barH, rulerTop, rulerLeft, nav);
    m_preview.m_horizontalResolution = m_preview.m_verticalResolution = 72.0;
    m_preview.SetZoom(2, -1, -1, 1, 1);
    SetText("Gal_ListInfo", "No item selected");
    SetText("Gal_Status", "Ready.");
    return 1;
}

void CEditGallery::PaintThumbnail(qntRECT_s navRect)
{
    CQNF_Layer* canvas = GetLayer(0ul);
    if (!canvas || !m_picture || !m_picture->HasPixels())
        return;
    PreviewGeometry g;
    g.SetImageSize(m_picture->GetImageWidth(), m_picture->GetImageHeight());
    const NavigatorLayout nav = LayoutNavigator(g, navRect.right - navRect.left, navRect.bottom - navRect.top);
    if (!nav.valid)
        return;
    // Nearest pixels of the thumbnail's rectangle, over the checkerboard.
    const qntRECT_s origin = canvas->GetRect();
    const int tw = nav.thumb.right - nav.thumb.left, th = nav.thumb.bottom - nav.thumb.top;
    for (int y = 0; y < th; ++y) {
        for (int x = 0; x < tw; ++x) {
            const uint16_t sx = uint16_t(int64_t(x) * m_picture->GetImageWidth() / tw);
            const uint16_t sy = uint16_t(int64_t(y) * m_picture->GetImageHeight() / th);
            qntRGBA8 c = m_picture->GetPixel(sx, sy);
            const int b = ((x / 4 + y / 4) & 1) ? 192 : 255;
            for (uint8_t* v : {&c.r, &c.g, &c.b})
                *v = uint8_t(b - (((b - *v) * c.a) >> 8));
            const int wx = navRect.left + nav.thumb.left + x - origin.left;
            const int wy = navRect.top + nav.thumb.top + y - origin.top;
            if (wx >= 0 && wy >= 0 && wx < canvas->GetImageWidth() && wy < canvas->GetImageHeight())
                canvas->SetPixel(uint16_t(wx), uint16_t(wy), qntRGBA8{c.r, c.g, c.b, 255});
        }
    }
}

void CEditGallery::SetText(const char* control, const std::string& text)
{
    for (unsigned long i = 0; i < GetControlCount(); ++i) {
        auto* t = As<CQNF_CtrlStaticText>(GetControl(i), qnctl::StaticText);
        if (t && std::strcmp(t->GetName(), control) == 0) {
            t->SetText(text.c_str(), 2, 2, 14);
            t->Redraw();
        }
    }
}

void CEditGallery::Say(const std::string& what)
{
    SetText("Gal_Status", what);
    if (onEvent)
        onEvent(what);
}

unsigned char CEditGallery::OnCtrlMessage(unsigned short msg, unsigned long, char* name, unsigned char, void* data)
{
    const std::string who = name ? name : "";
    switch (msg) {
    case qnmsg::Clicked:
        if (who == "Gal_Close")
            Close();
        break;
    case qnmsg::TextEdited:
        if (data)
            Say(std::string(who == "Gal_Number" ? "number " : "text ") + static_cast<CQNF_String*>(data)->GetStr());
        break;
    case qnmsg::SelectionChanged: {
        std::string picked;
        int count = 0;
        for (unsigned long i = 0; i < m_list->GetItemsCount(); ++i) {
            unsigned char sel = 0;
            m_list->GetItem(i, nullptr, &sel, nullptr);
            if (sel && count++ < 4)
                picked += (picked.empty() ? "" : ", ") + std::to_string(i + 1);
        }
        SetText("Gal_ListInfo", count ? "Selected: " + picked + (count > 4 ? " ..." : "") : "No item selected");
        Say("selected " + std::to_string(m_list->GetSelectedItem()) + " first " +
            std::to_string(m_list->GetModel().GetFirstVisible()));
        break;
    }
    case qnmsg::PreviewZoom: {
        const int level = *static_cast<uint8_t*>(data) - 4;
        const std::string scale = level >= 0 ? std::to_string(1 << level) + ":1" : "1:" + std::to_string(1 << -level);
        SetText("Gal_Zoom", "Zoom " + scale + "  (" + std::to_string(m_picture->GetImageWidth()) + " x " +
                                std::to_string(m_picture->GetImageHeight()) + ")");
        Say("zoom " + std::to_string(level + 4));
        break;
    }
    case qnmsg::PreviewMouse: {
        const qntPOS p = *static_cast<qntPOS*>(data);
        auto axis = [](int32_t v) { return v < 0 ? std::string("-") : v == 65535 ? std::string("+") : std::to_string(v); };
        SetText("Gal_Where", "Pixel " + axis(p.x) + ", " + axis(p.y));
        break;
    }
    case qnmsg::PreviewFullRedraw: {
        const qntPOS p = *static_cast<qntPOS*>(data);
        if (onEvent)
            onEvent("offset " + std::to_string(p.x) + "," + std::to_string(p.y));
        break;
    }
    default:
        break;
    }
    return 1;
}

unsigned char CEditGallery::OnKeyDown(unsigned char key, unsigned char)
{
    if (key == qnkey::Escape) {
        Close();
        return 1;
    }
    return 0;
}

const std::vector<std::string>& EditGalleryScenes()
{
    static const std::vector<std::string> scenes = {"rest", "typed", "scrolled", "panned", "zoomed"};
    return scenes;
}

bool SnapEditGallery(const std::string& resourcePath, CQNF_Image* picture, const std::string& scene,
                     const std::string& pngPath, std::string& error)
{
    const auto& scenes = EditGalleryScenes();
    if (std::find(scenes.begin(), scenes.end(), scene) == scenes.end()) {
        error = "unknown scene '" + scene + "'";
        return false;
    }
    constexpr int32_t kAt = 20, kDeskW = 820, kDeskH = 590;
    plat::HeadlessPlatform p;
    p.SetScreens({{0, 0, kDeskW, kDeskH}});
    Toolkit& tk = Toolkit::Get();
    tk.Attach(&p);
    CQNF_App app;
    CQNF_App* saved = m_App;
    m_App = &app;
    bool ok = false;
    {
        CEditGallery w(picture);
        if (!app.InitStorgaeResource(resourcePath.c_str(), 0)) {
            error = qnFileFailure(resourcePath, false, qnerr::FileNotOpened);
        } else if (!w.CreateFromResource(CQNF_String("EditGallery"), kAt, kAt, nullptr, 0)) {
            error = qnWindowNotMadeWords("the edit gallery", resourcePath, "EditGallery", w.GetError());
        } else {
            w.RenderRect(qnNullRect);
            w.Show();
            p.Activate(w.GetWindowHandle());
            tk.PumpPending();
            auto at = [&](int32_t x, int32_t y) {
                p.MoveMouse({kAt + x, kAt + y});
                tk.PumpFor(10);
            };
            auto click = [&](int32_t x, int32_t y) {
                at(x, y);
                p.Press();
                p.Release();
                tk.PumpFor(10);
            };
            const qntRECT_s& num = editgallery::kNumber;
            const qntRECT_s& list = editgallery::kList;
            const qntRECT_s& view = editgallery::kPreview;
            if (scene == "typed") {
                click((num.left + num.right) / 2, (num.top + num.bottom) / 2);
                p.Key(qnkey::vk::One, '1');
                p.Key(qnkey::vk::Two, '2');
                p.Key(qnkey::vk::UpArrow, 0);
                tk.PumpFor(10);
            } else if (scene == "scrolled") {
                at(100, 300);
                p.Wheel(-5);
                tk.PumpFor(10);
                click(60, list.top + 4 + 3 + 18 * 2 + 9);
                click(60, list.top + 4 + 3 + 18 * 5 + 9);
                at(60, list.top + 4 + 3 + 18 * 5 + 9);
            } else if (scene == "panned" || scene == "zoomed") {
                at((view.left + view.right) / 2, (view.top + view.bottom) / 2);
                if (scene == "zoomed") {
                    p.Wheel(2);
                } else {
                    p.SetKeyState(plat::mods::Space);
                    p.Press();
                    at((view.left + view.right) / 2 - 150, (view.top + view.bottom) / 2 - 90);
                    p.Release();
                    p.SetKeyState(0);
                }
                tk.PumpFor(300);
            }
            tk.PumpPending();
            ok = SaveDesktopPNG(p, pngPath, error);
            if (p.Exists(w.GetWindowHandle()))
                w.Close();
            tk.PumpPending();
        }
    }
    m_App = saved;
    tk.Attach(nullptr);
    return ok;
}

}  // namespace qnui
