// CQNF_Window: creation from resources, canvas and redraw, controls, fonts,
// resource lookups, the platform window and closing.
// Kept as one file: one class whose sections, marked below, share the
// window's layers and control list; split it once its window code settles.
#include "ui/Window.h"

#include "core/Storage.h"
#include "core/ZipBlock.h"
#include "imaging/Font.h"
#include "ui/App.h"
#include "ui/Control.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {
plat::Platform* P() { return qnui::Toolkit::Get().P(); }
CQNF_Storage* Storage() { return m_App ? m_App->GetStorage() : nullptr; }

// Unpacks a zip-block record of the storage into out; false when it is
// missing or does not unpack.
bool ReadPacked(CQNF_Storage* storage, const CQNF_String& key, CQNF_Mem& out)
{
    CQNF_Mem packed;
    if (!storage || !storage->GetRec(key, packed))
        return false;
    CQNF_ZipBlock zip;
    zip.SetSourceBlock(packed);
    zip.SetDestBlock(&out);
    return zip.Decompress();
}

bool Exists(CQNF_Storage* storage, const CQNF_String& key)
{
    return storage && storage->GetRecType(key) != kQnStorageNoRecord;
}
}  // namespace

CQNF_Window::CQNF_Window() : m_doubleClickTime(CQNF_App::GetDoubleClickTime()) {}

CQNF_Window::~CQNF_Window()
{
    // An external control still listed is alive (a dying one takes itself
    // off the list); it forgets this window, which it must not call again.
    for (uint32_t i = 0; i < m_controls.GetSize(); ++i) {
        auto* c = static_cast<CQNF_Control*>(m_controls[i]);
        if (c && c->IsExternal())
            c->ForgetWindow();
        else
            delete c;
    }
    for (uint32_t i = 0; i < m_fonts.GetSize(); ++i)
        delete static_cast<CQNF_Font*>(m_fonts[i]);
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    for (uint32_t i = 0; i < m_timerRefs.GetSize(); ++i)
        tk.RemoveTimer(reinterpret_cast<uintptr_t>(m_timerRefs[i]));
    // A window destroyed without Close: no pre-close hook, but its loops
    // must not outlive it.
    if (m_window)
        i_Dispose();
}

// ---------------------------------------------------------------------------
// Creation

bool CQNF_Window::i_LayerFromRecord(const CQNF_String& key, CQNF_Layer& layer)
{
    CQNF_Mem block;
    if (!ReadPacked(Storage(), key, block) || block.GetSize() < 8) {
        SetError(qnerr::WindowImage);
        return false;
    }
    if (!StretchImage(block)) {
        SetError(qnerr::NoMemory);
        return false;
    }
    const uint8_t* b = block.GetPtr();
    const int32_t left = qnGetBE16(b), top = qnGetBE16(b + 2), right = qnGetBE16(b + 4), bottom = qnGetBE16(b + 6);
    if (right <= left || bottom <= top) {
        SetError(qnerr::WindowImage);
        return false;
    }
    if (!layer.Create(short(left), short(top), uint16_t(right - left), uint16_t(bottom - top), qnimg::ModeRGBA)) {
        SetError(layer.GetError() ? layer.GetError() : qnerr::WindowImage);
        return false;
    }
    CQNF_Mem* pixels = layer.GetMemObj();
    if (!pixels || uint64_t(pixels->GetSize()) != uint64_t(block.GetSize()) - 8) {
        SetError(qnerr::WindowImage);
        return false;
    }
    std::copy(b + 8, b + block.GetSize(), pixels->GetPtr());
    return true;
}

bool CQNF_Window::StretchImage(CQNF_Mem& block) const
{
    if (m_stretchExtra == 0 || block.GetSize() < 8)
        return true;
    uint8_t* b = block.GetPtr();
    const int32_t left = qnGetBE16(b), top = qnGetBE16(b + 2), right = qnGetBE16(b + 4), bottom = qnGetBE16(b + 6);
    const int32_t extra = m_stretchExtra;
    if (right <= left || bottom <= top || bottom <= m_stretchRow || bottom + extra > 0xFFFF)
        return true;
    const auto put = [](uint8_t* at, int32_t v) {
        at[0] = uint8_t(v >> 8);
        at[1] = uint8_t(v);
    };
    if (top >= m_stretchRow) {
        // Below the row: the same pixels, lower.
        put(b + 2, top + extra);
        put(b + 6, bottom + extra);
        return true;
    }
    const size_t w = size_t(right - left), h = size_t(bottom - top), k = size_t(m_stretchRow - top);
    CQNF_Mem out;
    if (uint64_t(block.GetSize()) != 8 + 4 * uint64_t(w) * h || !out.alloc(8 + 4 * w * (h + size_t(extra))))
        return false;
    uint8_t* o = std::copy(b, b + 8, out.GetPtr());
    put(out.GetPtr() + 6, bottom + extra);
    for (size_t plane = 0; plane < 4; ++plane) {
        const uint8_t* in = b + 8 + plane * w * h;
        o = std::copy(in, in + k * w, o);
        for (int32_t i = 0; i < extra; ++i)
            o = std::copy(in + k * w, in + (k + 1) * w, o);
        o = std::copy(in + k * w, in + h * w, o);
    }
    block = std::move(out);
    return true;
}

bool CQNF_Window::CreateFromResource(CQNF_String name, short x, short y, CQNF_Window* parent, unsigned char modal)
{
    ResetError();
    CQNF_String prefix("UIResources>Windows>");
    prefix += name;
    CQNF_Storage* storage = Storage();
    if (!storage) {
        SetError(qnerr::Empty);
        return false;
    }
    if (m_window) {
        SetError(qnerr::WindowExists);
        return false;
    }
    CQNF_String key(prefix);
    key += ">Background";
    if (!i_LayerFromRecord(key, m_background))
        return false;
    SetWindowShape(&m_background);
    short bx = 0, by = 0;
    m_background.GetPos(bx, by);
    const qntRECT_s br = m_background.GetRect();
    if (!Create(name, x, y, uint16_t(br.right + bx), uint16_t(br.bottom + by), 1, parent, modal, 0))
        return false;
    m_background.ChangeImageMode(qnimg::ModeRGB);
    m_layerSet.AddLayer(&m_background);

    key = prefix;
    key += ">Caption_Active";
    if (Exists(storage, key)) {
        m_hasActiveCaption = 1;
        if (!i_LayerFromRecord(key, m_captionActive))
            return false;
        m_activeCaptionIndex = m_layerSet.AddLayer(&m_captionActive);
        m_captionLayerIndex = m_activeCaptionIndex;
        key = prefix;
        key += ">Caption_Inactive";
        if (Exists(storage, key)) {
            m_hasInactiveCaption = 1;
            if (!i_LayerFromRecord(key, m_captionInactive))
                return false;
            m_captionInactive.SetVisible(0);
            m_inactiveCaptionIndex = m_layerSet.AddLayer(&m_captionInactive);
        }
    }

    key = prefix;
    key += ">Drag_Area";
    if (ReadPacked(storage, key, m_dragBlock) && m_dragBlock.GetSize() >= 8) {
        const uint8_t* b = m_dragBlock.GetPtr();
        qntRECT_s r{qnGetBE16(b), qnGetBE16(b + 2), qnGetBE16(b + 4), qnGetBE16(b + 6)};
        // Only a well-formed rectangle whose mask is all there is used: the
        // caption test must never read past the block.
        if (r.right > r.left && r.bottom > r.top &&
            uint64_t(m_dragBlock.GetSize()) >= 8 + uint64_t(r.right - r.left) * uint64_t(r.bottom - r.top)) {
            m_dragRect = r;
            m_dragMask = b + 8;
        }
    }
    if (!m_dragMask)
        m_dragBlock.free();
    return OnCreate(&m_layerSet, m_width, m_height) != 0;
}

qntPOS CQNF_Window::FirstPlace(const std::vector<plat::Rect>& screens, unsigned short width, unsigned short height)
{
    if (screens.empty())
        return {40, 40};
    const plat::Rect& m = screens.front();
    return {m.left + (m.right - m.left - int32_t(width)) / 2, m.top + (m.bottom - m.top - int32_t(height)) / 2};
}

bool CQNF_Window::Create(CQNF_String name, short x, short y, unsigned short width, unsigned short height,
                         unsigned char flag, CQNF_Window* parent, unsigned char modal, unsigned char callOnCreate)
{
    m_width = width;
    m_height = height;
    m_createFlag = flag;
    m_parent = parent;
    m_name = name;
    m_modal = modal;

    plat::Platform* p = P();
    int32_t px = x, py = y;
    std::vector<plat::Rect> screens = p ? p->ScreenWorkAreas() : std::vector<plat::Rect>{};
    if (x == -32000 && y == -32000) {
        const qntPOS at = FirstPlace(screens, width, height);
        px = at.x;
        py = at.y;
    } else {
        const bool onSome = std::any_of(screens.begin(), screens.end(), [&](const plat::Rect& s) {
            return s.top <= py && py < s.bottom - 20 && s.left - int32_t(width) + 20 < px && px < s.right - 20;
        });
        if (!onSome && !screens.empty()) {
            const plat::Rect& m = screens.front();
            py = std::max(py, m.top);
            py = std::min(py, m.bottom - 20);
            px = std::max(px, m.left - int32_t(width) + 20);
            px = std::min(px, m.right - 20);
        }
    }

    if (m_window) {
        SetError(qnerr::WindowExists);
        return false;
    }
    if (!m_layerSet.Create(width, height) || !m_offscreen.Create(width, height)) {
        SetError(m_layerSet.GetError() ? m_layerSet.GetError() : m_offscreen.GetError());
        return false;
    }
    // Parts of the canvas no layer covers show black, never stale memory.
    m_layerSet.GetCanvas()->Set(qntRGBA8{0, 0, 0, 255}, 0x07);

    if (!p) {
        SetError(qnerr::WindowPlatform);
        return false;
    }
    plat::WindowSpec spec;
    spec.name = name.GetStr();
    spec.pos = {px, py};
    spec.width = width;
    spec.height = height;
    spec.modal = modal != 0;
    spec.parent = parent ? parent->m_window : 0;
    const bool floating = !parent && m_isMainWindow;
    const bool modalGroup = !modal && ((parent && parent->m_isMainWindow) || m_isMainWindow);
    spec.group = floating     ? plat::WindowSpec::Group::Floating
                 : modalGroup ? plat::WindowSpec::Group::Modal
                              : plat::WindowSpec::Group::Normal;
    m_window = p->CreateWindow(spec);
    if (!m_window) {
        SetError(qnerr::WindowPlatform);
        return false;
    }
    if (m_hasShape)
        p->SetShape(m_window, m_shape.mask.data(), m_shape.width, m_shape.height, {0, 0});
    qnui::Toolkit::Get().Register(m_window, this);
    if (floating || modalGroup)
        p->Activate(m_window);
    if (callOnCreate)
        return OnCreate(&m_layerSet, width, height) != 0;
    return true;
}

void CQNF_Window::SetWindowShape(CQNF_Image* image)
{
    if (!image || image->GetImageMode() != qnimg::ModeRGBA || m_hasShape)
        return;
    // The outline lies where the image is drawn: a layer sits at its own
    // position in the window, so its mask moves with it.
    short ox = 0, oy = 0;
    if (auto* layer = dynamic_cast<CQNF_Layer*>(image))
        layer->GetPos(ox, oy);
    const int32_t iw = image->GetImageWidth(), ih = image->GetImageHeight();
    const int32_t W = std::max<int32_t>(0, ox) + iw, H = std::max<int32_t>(0, oy) + ih;
    if (W > 65535 || H > 65535)
        return;
    m_shape.width = uint16_t(W);
    m_shape.height = uint16_t(H);
    m_shape.mask.assign(size_t(W) * H, 0);
    const uint8_t* alpha = image->GetPlane(3);
    for (int32_t y = 0; y < ih; ++y)
        for (int32_t x = 0; x < iw; ++x) {
            const int32_t wx = x + ox, wy = y + oy;
            if (wx >= 0 && wy >= 0 && alpha[size_t(y) * iw + x] > 128)
                m_shape.mask[size_t(wy) * W + wx] = 1;
        }
    m_hasShape = 1;
}

// ---------------------------------------------------------------------------
// Canvas and redraw

bool CQNF_Window::RenderRect(qntRECT_s rect)
{
    if (m_locked)
        return true;
    if (!m_layerSet.Render(rect)) {
        SetError(m_layerSet.GetError());
        return false;
    }
    return true;
}

unsigned char CQNF_Window::UpdateRect(qntRECT_s rect)
{
    if (!m_locked && !m_closing)
        OnRedraw(rect);
    return 1;
}

unsigned char CQNF_Window::OnRedraw(qntRECT_s rect)
{
    return UpdateRect_Direct(m_layerSet.GetCanvas(), rect) ? 1 : 0;
}

bool CQNF_Window::UpdateRect_Direct(CQNF_Image* image, qntRECT_s rect)
{
    const long x = qnIsNullRect(rect) ? 0 : rect.left;
    const long y = qnIsNullRect(rect) ? 0 : rect.top;
    m_offscreen.Set(image, x, y, rect);
    const plat::WinId saved = CQNF_OffscreenBitmap::GetPort();
    CQNF_OffscreenBitmap::SetPort(m_window);
    const unsigned char r = m_offscreen.Draw(x, y, rect);
    CQNF_OffscreenBitmap::SetPort(saved);
    return r != 0;
}

bool CQNF_Window::RenderLayer(CQNF_String name)
{
    return RenderLayer((unsigned long)m_layerSet.FindLayerByName(name));
}

bool CQNF_Window::RenderLayer(unsigned long index)
{
    if (m_locked)
        return true;
    CQNF_Layer* layer = GetLayer(index);
    return layer && RenderRect(layer->GetRect());
}

bool CQNF_Window::UpdateLayer(CQNF_String name)
{
    return UpdateLayer((unsigned long)m_layerSet.FindLayerByName(name));
}

bool CQNF_Window::UpdateLayer(unsigned long index)
{
    if (m_locked)
        return true;
    CQNF_Layer* layer = GetLayer(index);
    if (!layer)
        return false;
    UpdateRect(layer->GetRect());
    return true;
}

void CQNF_Window::ForceRedrawRect(qntRECT_s rect)
{
    plat::Platform* p = P();
    if (!p || !m_window)
        return;
    plat::Rect r{0, 0, m_width, m_height};
    if (!qnIsNullRect(rect))
        r = {rect.left, rect.top, rect.right, rect.bottom};
    p->Flush(m_window, r);
}

unsigned long CQNF_Window::LSAddLayer(CQNF_Layer* layer) { return m_layerSet.AddLayer(layer); }

CQNF_Layer* CQNF_Window::GetLayer(CQNF_String name)
{
    return GetLayer((unsigned long)m_layerSet.FindLayerByName(name));
}

CQNF_Layer* CQNF_Window::GetLayer(unsigned long index)
{
    CQNF_Layer* layer = m_layerSet.GetLayer(index);
    if (!layer)
        SetError(qnerr::WindowNoLayer);
    return layer;
}

CQNF_Layer* CQNF_Window::GetCaptionLayer() { return m_layerSet.GetLayer(m_captionLayerIndex); }

void CQNF_Window::SetCaptionLayer(CQNF_String name) { m_captionLayerIndex = m_layerSet.FindLayerByName(name); }

// ---------------------------------------------------------------------------
// Controls, fonts, resources

unsigned long CQNF_Window::FindControlByName(const char* name, unsigned char type) const
{
    if (!name)
        return None;
    for (unsigned long i = 0; i < GetControlCount(); ++i) {
        const CQNF_Control* c = GetControl(i);
        if (c && c->GetType() == type && std::strcmp(c->GetName(), name) == 0)
            return i;
    }
    return None;
}

unsigned long CQNF_Window::AddControl(CQNF_String name, unsigned char type)
{
    CQNF_Storage* storage = Storage();
    if (!storage) {
        SetError(qnerr::Empty);
        return None;
    }
    const char* folder = qnctl::ResourceFolder(type);
    qnctl::Maker make = qnctl::FindMaker(type);
    if (!folder || !make) {
        SetError(qnerr::BadArgument);
        return None;
    }
    CQNF_String key;
    key.Format(folder, name.GetStr());
    if (storage->GetRecType(key) != 0) {
        SetError(qnerr::BadArgument);
        return None;
    }
    CQNF_Control* c = make();
    const int32_t index = c ? m_controls.Add(c) : -1;
    if (index < 0) {
        delete c;
        SetError(qnerr::NoMemory);
        return None;
    }
    if (!c->Init(this, uint32_t(index), name, storage)) {
        SetError(c->GetError());
        m_controls.DeleteAt(uint32_t(index));
        delete c;
        return None;
    }
    return uint32_t(index);
}

unsigned long CQNF_Window::AddControl_External(CQNF_Control* control)
{
    if (!control)
        return None;
    const int32_t index = m_controls.Add(control);
    if (index < 0) {
        SetError(qnerr::NoMemory);
        return None;
    }
    control->SetExternal(1);
    if (!control->Init(this, uint32_t(index), CQNF_String(), nullptr)) {
        SetError(control->GetError());
        m_controls.DeleteAt(uint32_t(index));
        // Refused: the control is the owner's alone again.
        control->SetExternal(0);
        control->ForgetWindow();
        return None;
    }
    return uint32_t(index);
}

void CQNF_Window::ForgetControl(const CQNF_Control* control)
{
    // The slot stays, empty, so that the other controls keep their ids.
    const int32_t index = i_IndexOf(control);
    if (index < 0)
        return;
    m_controls.SetAt(uint32_t(index), nullptr);
    if (m_captured == uint32_t(index))
        m_captured = None;
    if (m_focused == uint32_t(index))
        m_focused = None;
}

CQNF_Control* CQNF_Window::GetControl(unsigned long index) const
{
    if (index >= m_controls.GetSize())
        return nullptr;
    return static_cast<CQNF_Control*>(m_controls[index]);
}

int32_t CQNF_Window::i_IndexOf(const CQNF_Control* control) const
{
    for (uint32_t i = 0; i < m_controls.GetSize(); ++i)
        if (m_controls[i] == control)
            return int32_t(i);
    return -1;
}

unsigned long CQNF_Window::AddFont(CQNF_String name)
{
    CQNF_Storage* storage = Storage();
    if (!storage) {
        SetError(qnerr::Empty);
        return None;
    }
    CQNF_String key("UIResources>Fonts>");
    key += name;
    if (storage->GetRecType(key) != 5) {
        SetError(qnerr::BadArgument);
        return None;
    }
    auto* font = new CQNF_Font;
    if (!font->Open(storage, key)) {
        SetError(font->GetError());
        delete font;
        return None;
    }
    const int32_t index = m_fonts.Add(font);
    if (index < 0) {
        delete font;
        SetError(qnerr::NoMemory);
        return None;
    }
    return uint32_t(index);
}

CQNF_Font* CQNF_Window::GetFont(unsigned long index) const
{
    if (index >= m_fonts.GetSize())
        return nullptr;
    return static_cast<CQNF_Font*>(m_fonts[index]);
}

bool CQNF_Window::GetResourceRect(const char* name, qntRECT_s& rect)
{
    CQNF_Storage* storage = Storage();
    if (!storage)
        return false;
    struct Field {
        const char* suffix;
        int32_t* out;
    } fields[] = {{">Rect Bottom", &rect.bottom}, {">Rect Left", &rect.left}, {">Rect Right", &rect.right},
                  {">Rect Top", &rect.top}};
    for (const Field& f : fields) {
        CQNF_String key("UIResources>Rects>");
        key += name;
        key += f.suffix;
        uint16_t v = 0;
        if (!storage->GetRec(key, v))
            return false;
        *f.out = v;
    }
    return true;
}

bool CQNF_Window::GetResourceString(const char* name, CQNF_String& out)
{
    CQNF_Storage* storage = Storage();
    if (!storage)
        return false;
    CQNF_String key("UIResources>Strings>");
    key += name;
    return storage->GetRec(key, out);
}

// ---------------------------------------------------------------------------
// Platform window

unsigned char CQNF_Window::Show()
{
    if (plat::Platform* p = P(); p && m_window) {
        const bool wasVisible = p->IsVisible(m_window);
        p->Show(m_window);
        // The platform keeps what was blitted; the first showing fills it.
        if (!wasVisible)
            OnRedraw(qnNullRect);
    }
    return 1;
}

unsigned char CQNF_Window::Hide()
{
    if (plat::Platform* p = P(); p && m_window)
        p->Hide(m_window);
    return 1;
}

bool CQNF_Window::IsVisible() const
{
    plat::Platform* p = P();
    return p && m_window && p->IsVisible(m_window);
}

void CQNF_Window::Minimize()
{
    if (plat::Platform* p = P(); p && m_window)
        p->Collapse(m_window);
}

void CQNF_Window::SetFocus()
{
    plat::Platform* p = P();
    if (!p || !m_window)
        return;
    if (!p->IsVisible(m_window))
        Show();
    p->Activate(m_window);
}

unsigned char CQNF_Window::MoveWindow(short x, short y)
{
    if (plat::Platform* p = P(); p && m_window)
        p->Move(m_window, {x, y});
    return 1;
}

qntRECT_s CQNF_Window::GetWindowRect() const
{
    plat::Platform* p = P();
    if (!p || !m_window)
        return {0, 0, 0, 0};
    const plat::Rect r = p->ContentRect(m_window);
    return {r.left, r.top, r.right, r.bottom};
}

qntPOS CQNF_Window::GetMousePos() const
{
    plat::Platform* p = P();
    if (!p)
        return {0, 0};
    const plat::Point g = p->PointerGlobal();
    const qntRECT_s r = GetWindowRect();
    return {g.x - r.left, g.y - r.top};
}

plat::WinId CQNF_Window::WindowFromPoint(qntPOS global)
{
    plat::Platform* p = P();
    return p ? p->WindowAt({global.x, global.y}) : 0;
}

// ---------------------------------------------------------------------------
// Closing

void CQNF_Window::PreCloseWindow()
{
    m_closing = 1;
    if (m_App)
        m_App->PreCloseWindow(this);
}

void CQNF_Window::Close()
{
    PreCloseWindow();
    if (m_window)
        i_Dispose();
}

void CQNF_Window::i_Dispose()
{
    const plat::WinId id = m_window;
    // The dispose event reaches the handler while the window is going, as
    // the platform sends it during the disposal.
    plat::Event e;
    e.kind = plat::Kind::WinDisposed;
    e.win = id;
    windowEventHandler(e, this);
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    tk.Unregister(id);
    if (tk.P())
        tk.P()->DestroyWindow(id);
    m_window = 0;
}
