#include "ui/Control.h"

#include "core/Storage.h"
#include "core/ZipBlock.h"
#include "imaging/Layer.h"
#include "ui/Window.h"

#include <algorithm>
#include <cstring>

namespace qnctl {

const char* ResourceFolder(uint8_t type)
{
    switch (type) {
    case Slider: return "UIResources>Sliders>%s";
    case StaticImage:
    case Ruler: return "UIResources>Static Images>%s";
    case StaticText: return "UIResources>Static Texts>%s";
    case Progress: return "UIResources>Progresses>%s";
    case Button: return "UIResources>Buttons>%s";
    case RadioButton: return "UIResources>Radio Buttons>%s";
    case CheckBox: return "UIResources>Check Boxes>%s";
    case EditLine: return "UIResources>Edits>%s";
    case ScrollBar: return "UIResources>Scroll Bars>%s";
    case List: return "UIResources>Lists>%s";
    default: return nullptr;
    }
}

namespace {
Maker g_makers[256] = {};
}

void RegisterMaker(uint8_t type, Maker maker) { g_makers[type] = maker; }
Maker FindMaker(uint8_t type) { return g_makers[type] ? g_makers[type] : BuiltInMaker(type); }

}  // namespace qnctl

CQNF_Control::~CQNF_Control()
{
    if (m_external && m_window)
        m_window->ForgetControl(this);
}

unsigned char CQNF_Control::Init(void* window, unsigned long id, CQNF_String name, CQNF_Storage* storage)
{
    m_window = static_cast<CQNF_Window*>(window);
    m_id = uint32_t(id);
    m_name = name;
    m_storage = storage;
    return 1;
}

void CQNF_Control::SetFocus(unsigned char focused)
{
    if (!m_focusMaster) {
        m_focused = focused;
        if (focused && m_window) {
            m_window->OnCtrlFocused(m_id);
        }
        return;
    }
    // A chain that loops has no end to take the focus.
    if (focused && m_focusMaster->ChainEnd() && !m_focusMaster->GetFocus()) {
        m_focusMaster->SetFocus(1);
    }
}

const CQNF_Control* CQNF_Control::ChainEnd() const
{
    // A chain of masters is at most as long as the window's control list; a
    // longer walk, or one that comes back here, has met a loop.
    const uint32_t limit = m_window ? uint32_t(m_window->GetControlCount()) + 1 : 256;
    const CQNF_Control* end = this;
    for (uint32_t steps = 0; end->m_focusMaster; ++steps) {
        if (steps >= limit || end->m_focusMaster == this) {
            return nullptr;
        }
        end = end->m_focusMaster;
    }
    return end;
}

unsigned char CQNF_Control::GetFocus() const
{
    const CQNF_Control* end = ChainEnd();
    return end ? end->m_focused : 0;
}

bool CQNF_Control::SetTimer(unsigned long ms, unsigned short id)
{
    return m_window && m_window->SetCtrlTimer(ms, id, this);
}

bool CQNF_Control::KillTimer(unsigned short id) { return m_window && m_window->KillCtrlTimer(id, this); }

qntPOS CQNF_Control::GetMousePos() const { return m_window ? m_window->GetMousePos() : qnNullPOS; }

CQNF_Control* CQNF_Control::GetControlByID(unsigned long id) const
{
    return m_window ? m_window->GetControl(id) : nullptr;
}

unsigned char CQNF_Control::SendMessage(unsigned short msg, void* data)
{
    char* name = const_cast<char*>(m_name.GetStr());
    if (m_forwardToMaster) {
        return m_focusMaster ? m_focusMaster->OnCtrlMessage(msg, m_id, name, m_type, data) : 0;
    }
    return m_window ? m_window->OnCtrlMessage(msg, m_id, name, m_type, data) : 0;
}

void CQNF_Control::NotifyParentCtrlFocuseed()
{
    if (m_window) {
        m_window->OnCtrlFocused(m_id);
    }
}

void CQNF_Control::NotifyParentCtrlLostFocus()
{
    if (m_window) {
        m_window->OnCtrlLostFocus(m_id);
    }
}

void CQNF_Control::NotifyGroup()
{
    if (m_window) {
        m_window->OnCtrlNewGroupMaster(m_id, m_group);
    }
}

CQNF_String CQNF_Control::ResourceKey(const char* record) const
{
    CQNF_String key;
    const char* folder = qnctl::ResourceFolder(m_type);
    if (folder) {
        key.Format(folder, m_name.GetStr());
    }
    key += ">";
    key += record;
    return key;
}

bool CQNF_Control::PointerStillOver()
{
    if (!m_window) {
        return false;
    }
    const qntPOS local = m_window->GetMousePos();
    const qntRECT_s bounds = m_window->GetWindowRect();
    const qntPOS global{local.x + bounds.left, local.y + bounds.top};
    return CQNF_Window::WindowFromPoint(global) == m_window->GetWindowHandle() &&
           PtInControl(short(local.x), short(local.y));
}

void CQNF_Control::StartHoverPoll()
{
    if (!m_hoverPoll) {
        m_hoverPoll = SetTimer(50, 1) ? 1 : 0;
    }
}

void CQNF_Control::StopHoverPoll()
{
    if (m_hoverPoll) {
        KillTimer(1);
        m_hoverPoll = 0;
    }
}

void CQNF_Control::StartRepeatDelay()
{
    if (!m_repeatDelay) {
        m_repeatDelay = SetTimer(500, 2) ? 1 : 0;
    }
}

void CQNF_Control::RepeatDelayEnded()
{
    KillTimer(2);
    m_repeatDelay = 0;
    if (!m_repeating) {
        m_repeating = SetTimer(50, 3) ? 1 : 0;
    }
}

void CQNF_Control::StopRepeat()
{
    if (m_repeatDelay) {
        KillTimer(2);
        m_repeatDelay = 0;
    }
    if (m_repeating) {
        KillTimer(3);
        m_repeating = 0;
    }
}

unsigned char* CQNF_Control::LoadImageData(CQNF_String key, qntRECT_s* rect, CQNF_Mem* pixels)
{
    if (!m_storage || !rect || !pixels || m_storage->GetRecType(key) != 5) {
        return nullptr;
    }
    CQNF_Mem packed;
    if (!m_storage->GetRec(key, packed)) {
        return nullptr;
    }
    // A record that does not unpack, or whose pixels do not fill its
    // rectangle, counts as missing: using it would read past its end.
    qnZipHeader header;
    if (!qnZipReadHeader(packed.GetPtr(), packed.GetSize(), header) || header.rawSize < 8) {
        return nullptr;
    }
    if (!pixels->alloc(header.rawSize) || qnZipInflate(packed.GetPtr(), header, pixels->GetPtr()) != 0) {
        pixels->free();
        return nullptr;
    }
    const uint8_t* p = pixels->GetPtr();
    const qntRECT_s r{qnGetBE16(p), qnGetBE16(p + 2), qnGetBE16(p + 4), qnGetBE16(p + 6)};
    const uint64_t w = r.right >= r.left ? uint64_t(r.right - r.left) : 0;
    const uint64_t h = r.bottom >= r.top ? uint64_t(r.bottom - r.top) : 0;
    if (r.right < r.left || r.bottom < r.top || uint64_t(header.rawSize) != 8 + 4 * w * h) {
        pixels->free();
        return nullptr;
    }
    // Where the window is taller than its resource, so is its skin.
    if (m_window && !m_window->StretchImage(*pixels)) {
        pixels->free();
        return nullptr;
    }
    p = pixels->GetPtr();
    *rect = qntRECT_s{qnGetBE16(p), qnGetBE16(p + 2), qnGetBE16(p + 4), qnGetBE16(p + 6)};
    return pixels->GetPtr() + 8;
}

unsigned char CQNF_Control::SetDataToImage(CQNF_Layer* layer, short dx, short dy, unsigned char* pixels,
                                           qntRECT_s rect, short firstRow, short rowCount)
{
    if (!layer || !layer->HasPixels()) {
        return 1;
    }
    const int32_t lw = layer->GetImageWidth();
    const int32_t lh = layer->GetImageHeight();
    const int32_t planes = std::min<int32_t>(4, qnimg::PlaneCountOfMode(layer->GetImageMode()));
    int32_t rows = rowCount;
    if (firstRow == 0 && rowCount == 0) {
        for (int32_t p = 0; p < planes; ++p) {
            std::memset(layer->GetPlane(unsigned(p)), 0, size_t(lw) * size_t(lh));
        }
        rows = rect.bottom - rect.top;
    }
    const int32_t iw = rect.right - rect.left;
    const int32_t ih = rect.bottom - rect.top;
    if (!pixels || iw <= 0 || ih <= 0) {
        return 1;
    }
    const size_t imagePlane = size_t(iw) * size_t(ih);
    if (lw == iw && lh == ih && dx == 0 && dy == 0 && firstRow == 0 && rows >= ih) {
        for (int32_t p = 0; p < planes; ++p) {
            std::memcpy(layer->GetPlane(unsigned(p)), pixels + size_t(p) * imagePlane, imagePlane);
        }
        return 1;
    }
    // Row i of the copy takes image row firstRow + i to layer row dy + i;
    // both ends are clipped, as are columns on either side of the layer.
    const int32_t colFrom = std::max(0, -int32_t(dx));
    const int32_t colTo = std::min(iw, lw - int32_t(dx));
    if (colFrom >= colTo) {
        return 1;
    }
    for (int32_t i = 0; i < rows; ++i) {
        const int32_t src = firstRow + i;
        const int32_t dst = dy + i;
        if (src < 0 || dst < 0) {
            continue;
        }
        if (src >= ih || dst >= lh) {
            break;
        }
        for (int32_t p = 0; p < planes; ++p) {
            const uint8_t* from = pixels + size_t(p) * imagePlane + size_t(src) * size_t(iw) + size_t(colFrom);
            uint8_t* to = layer->GetPlane(unsigned(p)) + size_t(dst) * size_t(lw) + size_t(dx + colFrom);
            std::memcpy(to, from, size_t(colTo - colFrom));
        }
    }
    return 1;
}
