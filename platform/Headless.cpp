#include "platform/Headless.h"

#include <algorithm>
#include <string>

namespace plat {

HeadlessPlatform::HeadlessPlatform() = default;
HeadlessPlatform::~HeadlessPlatform() = default;

HeadlessPlatform::Win* HeadlessPlatform::Find(WinId w)
{
    auto it = m_windows.find(w);
    return it == m_windows.end() ? nullptr : &it->second;
}

const HeadlessPlatform::Win* HeadlessPlatform::Find(WinId w) const
{
    auto it = m_windows.find(w);
    return it == m_windows.end() ? nullptr : &it->second;
}

void HeadlessPlatform::Send(Event e)
{
    e.timeMs = m_now;
    if (m_sink)
        m_sink->Push(e);
}

void HeadlessPlatform::WaitForEvents(int32_t timeoutMs)
{
    if (timeoutMs == 0)
        return;  // a poll: nothing arrives that was not injected already
    if (m_budget == 0)
        throw LoopStuck("headless loop budget used up: the loop did not end");
    --m_budget;
    if (!m_script.empty()) {
        auto step = std::move(m_script.front());
        m_script.pop_front();
        step();
        return;
    }
    if (timeoutMs < 0)
        throw LoopStuck("a loop waits for input and nothing is scripted");
    m_now += uint32_t(timeoutMs);
}

Rect HeadlessPlatform::DesktopBounds()
{
    if (m_screens.empty())
        return {};
    Rect r = m_screens.front();
    for (const Rect& s : m_screens) {
        r.left = std::min(r.left, s.left);
        r.top = std::min(r.top, s.top);
        r.right = std::max(r.right, s.right);
        r.bottom = std::max(r.bottom, s.bottom);
    }
    return r;
}

WinId HeadlessPlatform::CreateWindow(const WindowSpec& spec)
{
    if (spec.width == 0 || spec.height == 0)
        return 0;
    WinId id = m_next++;
    Win& w = m_windows[id];
    w.spec = spec;
    w.pos = spec.pos;
    w.pixels.assign(size_t(spec.width) * spec.height, 0);
    m_z.push_back(id);
    return id;
}

void HeadlessPlatform::DestroyWindow(WinId w)
{
    if (!m_windows.erase(w))
        return;
    m_z.erase(std::remove(m_z.begin(), m_z.end(), w), m_z.end());
    if (m_grab == w)
        m_grab = 0;
    if (m_active == w) {
        // As a window manager does: the next visible window takes the focus.
        WinId next = 0;
        for (auto it = m_z.rbegin(); it != m_z.rend() && !next; ++it)
            if (m_windows[*it].visible)
                next = *it;
        SetActive(next);
    }
}

void HeadlessPlatform::SetShape(WinId w, const uint8_t* mask, uint16_t width, uint16_t height, Point origin)
{
    Win* win = Find(w);
    if (!win)
        return;
    const int32_t W = win->spec.width, H = win->spec.height;
    win->mask.assign(size_t(W) * H, 0);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            int32_t wx = x + origin.x, wy = y + origin.y;
            if (wx >= 0 && wy >= 0 && wx < W && wy < H)
                win->mask[size_t(wy) * W + wx] = mask[size_t(y) * width + x] ? 1 : 0;
        }
}

void HeadlessPlatform::Raise(WinId w)
{
    m_z.erase(std::remove(m_z.begin(), m_z.end(), w), m_z.end());
    m_z.push_back(w);
}

void HeadlessPlatform::Show(WinId w)
{
    Win* win = Find(w);
    if (!win || win->visible)
        return;
    win->visible = true;
    // A window coming on screen asks for its content, as a real one does.
    Event e;
    e.kind = Kind::WinDraw;
    e.win = w;
    e.dirty = {0, 0, win->spec.width, win->spec.height};
    Send(e);
}

void HeadlessPlatform::Hide(WinId w)
{
    if (Win* win = Find(w))
        win->visible = false;
}

bool HeadlessPlatform::IsVisible(WinId w)
{
    const Win* win = Find(w);
    return win && win->visible && !win->collapsed;
}

void HeadlessPlatform::Activate(WinId w)
{
    if (!Find(w))
        return;
    // Activating presents the window, as on a desktop.
    Show(w);
    Raise(w);
    SetActive(w);
}

void HeadlessPlatform::SetActive(WinId w)
{
    if (m_active == w)
        return;
    const WinId old = m_active;
    m_active = w;
    for (const Event& e : FocusChange(old, Find(old) != nullptr, w))
        Send(e);
}

void HeadlessPlatform::Collapse(WinId w)
{
    if (Win* win = Find(w))
        win->collapsed = true;
}

void HeadlessPlatform::Move(WinId w, Point global)
{
    Win* win = Find(w);
    if (!win)
        return;
    if (win->visible && !win->collapsed && (win->pos.x != global.x || win->pos.y != global.y))
        movesShown.push_back({w, global});
    win->pos = global;
}

Rect HeadlessPlatform::ContentRect(WinId w)
{
    const Win* win = Find(w);
    if (!win)
        return {};
    return {win->pos.x, win->pos.y, win->pos.x + win->spec.width, win->pos.y + win->spec.height};
}

bool HeadlessPlatform::InShape(WinId w, int32_t x, int32_t y) const
{
    const Win* win = Find(w);
    if (!win || x < 0 || y < 0 || x >= win->spec.width || y >= win->spec.height)
        return false;
    return win->mask.empty() || win->mask[size_t(y) * win->spec.width + x];
}

WinId HeadlessPlatform::WindowAt(Point g)
{
    for (auto it = m_z.rbegin(); it != m_z.rend(); ++it) {
        const Win& w = m_windows[*it];
        if (w.visible && !w.collapsed && InShape(*it, g.x - w.pos.x, g.y - w.pos.y))
            return *it;
    }
    return 0;
}

void HeadlessPlatform::Blit(WinId w, const uint32_t* xrgb, uint32_t strideWords, Rect src, Point dst)
{
    Win* win = Find(w);
    if (!win || !xrgb)
        return;
    ++m_blits;
    const int32_t W = win->spec.width, H = win->spec.height;
    for (int32_t y = src.top; y < src.bottom; ++y) {
        int32_t dy = dst.y + (y - src.top);
        if (dy < 0 || dy >= H)
            continue;
        for (int32_t x = src.left; x < src.right; ++x) {
            int32_t dx = dst.x + (x - src.left);
            if (dx >= 0 && dx < W)
                win->pixels[size_t(dy) * W + dx] = xrgb[size_t(y) * strideWords + x] & 0xFFFFFFu;
        }
    }
}

void HeadlessPlatform::Flush(WinId w, Rect)
{
    if (Find(w))
        ++m_flushes;
}

uint32_t HeadlessPlatform::Pixel(WinId w, int32_t x, int32_t y) const
{
    const Win* win = Find(w);
    if (!win || x < 0 || y < 0 || x >= win->spec.width || y >= win->spec.height)
        return 0xFFFFFFFFu;
    return win->pixels[size_t(y) * win->spec.width + x];
}

const std::vector<uint32_t>* HeadlessPlatform::Framebuffer(WinId w, uint16_t& width, uint16_t& height) const
{
    const Win* win = Find(w);
    if (!win)
        return nullptr;
    width = win->spec.width;
    height = win->spec.height;
    return &win->pixels;
}

void HeadlessPlatform::SendInput(Kind kind, WinId w, uint8_t button, uint8_t mods, uint8_t vkey, uint8_t ch,
                                 int16_t wheel)
{
    if (!w)
        return;
    Event e;
    e.kind = kind;
    e.win = w;
    e.global = m_pointer;
    e.button = button;
    e.mods = mods;
    e.vkey = vkey;
    e.ch = ch;
    e.wheel = wheel;
    Send(e);
}

WinId HeadlessPlatform::PointerTarget() { return m_grab ? m_grab : WindowAt(m_pointer); }

void HeadlessPlatform::MoveMouse(Point g)
{
    m_pointer = g;
    SendInput(m_buttons ? Kind::MouseDragged : Kind::MouseMoved, PointerTarget(), 0, uint8_t(m_keyState & 0x0F));
}

void HeadlessPlatform::Press(uint8_t button, uint8_t mods)
{
    // Pressing does not activate: a test says which window is active, as a
    // window manager would.
    const WinId w = PointerTarget();
    if (w && !m_buttons)
        m_grab = w;
    if (w)
        m_buttons |= uint8_t(1u << (button & 7));
    SendInput(Kind::MouseDown, w, button, mods);
}

void HeadlessPlatform::Release(uint8_t button, uint8_t mods)
{
    const WinId w = PointerTarget();
    m_buttons &= uint8_t(~(1u << (button & 7)));
    if (!m_buttons)
        m_grab = 0;
    SendInput(Kind::MouseUp, w, button, mods);
}

void HeadlessPlatform::Click(Point g, uint8_t mods)
{
    MoveMouse(g);
    Press(1, mods);
    Release(1, mods);
}

void HeadlessPlatform::Wheel(int16_t delta, uint8_t mods)
{
    // Wheel turns go to the active window, as on platforms that route them
    // with the keyboard; the toolkit hands them to the window under the
    // pointer.
    SendInput(Kind::MouseWheel, m_active ? m_active : PointerTarget(), 0, mods, kNoKey, 0, delta);
}

void HeadlessPlatform::Key(uint8_t vkey, uint8_t ch, uint8_t mods, bool repeat)
{
    SendInput(repeat ? Kind::KeyRepeat : Kind::KeyDown, m_active, 0, mods, vkey, ch);
}

void HeadlessPlatform::KeyUp(uint8_t vkey, uint8_t ch, uint8_t mods)
{
    SendInput(Kind::KeyUp, m_active, 0, mods, vkey, ch);
}

bool HeadlessPlatform::ClipboardGetText(std::string& latin1)
{
    if (!clipboardHasText)
        return false;
    latin1 = clipboard;
    return true;
}

bool HeadlessPlatform::ClipboardSetText(const std::string& latin1)
{
    clipboard = latin1;
    clipboardHasText = true;
    return true;
}

int HeadlessPlatform::Alert(const std::string& title, const std::string& text, WinId parent)
{
    alerts.push_back({title, text, parent});
    return 1;
}

int HeadlessPlatform::PopupMenu(WinId, Point global, const std::vector<MenuItem>& items)
{
    menusShown.push_back(items);
    menuPoints.push_back(global);
    if (menuAnswers.empty())
        throw LoopStuck("a pop-up menu was shown without a scripted answer");
    int a = menuAnswers.front();
    menuAnswers.pop_front();
    return a;
}

bool HeadlessPlatform::PickColor(uint16_t rgb[3])
{
    colorsOffered.push_back({rgb[0], rgb[1], rgb[2]});
    if (colorAnswers.empty())
        throw LoopStuck("a colour chooser was shown without a scripted answer");
    const auto a = colorAnswers.front();
    colorAnswers.pop_front();
    if (!a)
        return false;
    for (int c = 0; c < 3; ++c)
        rgb[c] = (*a)[size_t(c)];
    return true;
}

bool HeadlessPlatform::FileOpenDialog(const FileDialogSpec& spec, std::string& path)
{
    dialogsShown.push_back(spec);
    if (openAnswers.empty())
        throw LoopStuck("an open dialog was shown without a scripted answer");
    auto a = openAnswers.front();
    openAnswers.pop_front();
    if (!a)
        return false;
    path = *a;
    return true;
}

bool HeadlessPlatform::FileSaveDialog(const FileDialogSpec& spec, SaveChoice& choice)
{
    dialogsShown.push_back(spec);
    // A refused name is told in a box over the chooser, which asks again:
    // the next scripted answer is the user's next try.
    for (;;) {
        if (saveAnswers.empty())
            throw LoopStuck("a save dialog was shown without a scripted answer");
        auto a = saveAnswers.front();
        saveAnswers.pop_front();
        if (!a)
            return false;
        if (spec.refusal) {
            if (const QnRefusal why = spec.refusal(a->folder + "/" + a->name); !why.empty()) {
                alerts.push_back({kRefusedSaveTitle, DescribeRefusal(why, a->folder + "/" + a->name).Text(), 0});
                continue;
            }
        }
        choice = *a;
        return true;
    }
}

bool HeadlessPlatform::OpenURL(const std::string& url)
{
    urlsOpened.push_back(url);
    return true;
}

}  // namespace plat
