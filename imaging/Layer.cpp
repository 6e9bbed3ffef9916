#include "imaging/Layer.h"

#include <algorithm>
#include <cstring>

namespace {

bool FitsInt16(long v) { return v >= INT16_MIN && v <= INT16_MAX; }

// Rounded divisions for the blends: exact for opaque and transparent pixels.
inline uint8_t Mix255(int d, int s, int w)  // w in 0..255
{
    return static_cast<uint8_t>((d * (255 - w) + s * w + 127) / 255);
}

inline uint8_t Mix65025(int d, int s, int w)  // w in 0..65025
{
    return static_cast<uint8_t>((d * (65025 - w) + s * w + 32512) / 65025);
}

}  // namespace

// ---------------------------------------------------------------------------
// CQNF_Layer

bool CQNF_Layer::Create(short x, short y, unsigned short width, unsigned short height, unsigned char mode)
{
    m_x = x;
    m_y = y;
    return CQNF_Image::Create(width, height, mode);
}

bool CQNF_Layer::Create(short x, short y, CQNF_Image* source, unsigned char mode)
{
    m_x = x;
    m_y = y;
    return CQNF_Image::Create(source, mode);
}

bool CQNF_Layer::Create(qntRECT_s rect, unsigned char mode)
{
    return Create(long{rect.left}, long{rect.top}, long{rect.right}, long{rect.bottom}, mode);
}

bool CQNF_Layer::Create(long left, long top, long right, long bottom, unsigned char mode)
{
    // A position or size that the 16-bit fields cannot hold would place the
    // layer somewhere else than asked.
    if (!FitsInt16(left) || !FitsInt16(top) || right - left < 0 || bottom - top < 0 || right - left > 65535 ||
        bottom - top > 65535) {
        Clean();
        SetError(qnerr::BadArgument);
        return false;
    }
    return Create(static_cast<short>(left), static_cast<short>(top), static_cast<unsigned short>(right - left),
                  static_cast<unsigned short>(bottom - top), mode);
}

bool CQNF_Layer::SetPos(short x, short y)
{
    m_x = x;
    m_y = y;
    return true;
}

bool CQNF_Layer::GetPos(short& x, short& y) const
{
    x = m_x;
    y = m_y;
    return true;
}

qntRECT_s CQNF_Layer::GetRect() const
{
    return {m_x, m_y, m_x + int32_t{GetImageWidth()}, m_y + int32_t{GetImageHeight()}};
}

bool CQNF_Layer::SetOpacity(unsigned char opacity)
{
    m_opacity = opacity;
    return true;
}

bool CQNF_Layer::SetVisible(unsigned char visible)
{
    m_visible = visible;
    return true;
}

bool CQNF_Layer::SetName(const CQNF_String& name)
{
    m_name = name;
    return true;
}

bool CQNF_Layer::SetClipRect(qntRECT_s clip)
{
    m_clip = clip;
    m_clipOn = qnIsNullRect(clip) ? 0 : 1;
    return true;
}

qntLAYERLINE CQNF_Layer::GetLine(short x, short y, unsigned short count) { return GetLineAt(x, y, count); }

qntLAYERLINE CQNF_Layer::GetLineAt(int32_t x, int32_t y, int32_t count)
{
    qntLAYERLINE line = qnNullLayerLine;
    const int32_t w = GetImageWidth();
    const int32_t h = GetImageHeight();
    int32_t top = m_y;
    int32_t bottom = m_y + h;
    int32_t lo = m_x;
    int32_t hi = m_x + w;
    if (m_clipOn) {
        top = std::max(m_clip.top, top);
        bottom = std::min(m_clip.bottom, bottom);
        lo = std::max(m_clip.left, lo);
        hi = std::min(m_clip.right, hi);
    }
    if (y < top || y >= bottom)
        return line;
    const int32_t from = std::max(x, lo);
    const int32_t to = std::min(x + count, hi);
    if (from >= to || !m_visible || !m_opacity || !HasPixels())
        return line;
    const size_t plane = PlaneSize();
    uint8_t* p = GetMemObj()->GetPtr() + size_t(y - m_y) * size_t(w) + size_t(from - m_x);
    line.empty = 0;
    line.opacity = m_opacity;
    line.start = static_cast<uint16_t>(from - x);
    line.end = static_cast<uint16_t>(to - x);
    line.red = p;
    line.green = p + plane;
    line.blue = p + 2 * plane;
    line.alpha = GetImageMode() == qnimg::ModeRGBA ? p + 3 * plane : nullptr;
    return line;
}

// ---------------------------------------------------------------------------
// CQNF_LayerSet

CQNF_LayerSet::~CQNF_LayerSet() { Clean(); }

bool CQNF_LayerSet::Create(unsigned short width, unsigned short height)
{
    Clean();
    return Resize(width, height);
}

bool CQNF_LayerSet::Resize(unsigned short width, unsigned short height)
{
    if (!m_canvas.Create(width, height, qnimg::ModeRGB)) {
        m_canvasWidth = 0;
        m_canvasHeight = 0;
        SetError(m_canvas.GetError());
        return false;
    }
    m_canvasWidth = width;
    m_canvasHeight = height;
    return true;
}

void CQNF_LayerSet::Clean()
{
    m_canvasWidth = 0;
    m_canvasHeight = 0;
    m_layers.Empty();
    m_scratch.Empty();
    m_canvas.Clean();
    m_lineCount = 0;
    m_lineBuffer.free();
}

void CQNF_LayerSet::ResetLineBuffer()
{
    m_lineBuffer.free();
    if (m_layers.GetSize())
        m_lineBuffer.alloc(uint64_t{m_layers.GetSize()} * sizeof(qntLAYERLINE));
}

uint32_t CQNF_LayerSet::AddLayer(CQNF_Layer* layer)
{
    ResetError();
    if (!layer) {
        SetError(qnerr::BadArgument);
        return NotFound;
    }
    const int32_t i = m_layers.Add(layer);
    if (i < 0) {
        SetError(m_layers.GetError() ? m_layers.GetError() : qnerr::NoMemory);
        return NotFound;
    }
    ResetLineBuffer();
    return static_cast<uint32_t>(i);
}

uint32_t CQNF_LayerSet::InsertLayer(CQNF_Layer* layer, unsigned long index)
{
    if (index >= m_layers.GetSize())
        return AddLayer(layer);
    ResetError();
    if (!layer) {
        SetError(qnerr::BadArgument);
        return NotFound;
    }
    if (!m_layers.InsertAt(index, layer)) {
        SetError(m_layers.GetError() ? m_layers.GetError() : qnerr::NoMemory);
        return NotFound;
    }
    ResetLineBuffer();
    return static_cast<uint32_t>(index);
}

uint32_t CQNF_LayerSet::DeleteLayer(unsigned long index)
{
    if (index >= m_layers.GetSize())
        return 0;
    m_layers.DeleteAt(index);
    ResetLineBuffer();
    return 1;
}

CQNF_Layer* CQNF_LayerSet::GetLayer(unsigned long index) const
{
    return static_cast<CQNF_Layer*>(m_layers[index]);
}

uint32_t CQNF_LayerSet::FindLayerByName(const CQNF_String& name) const
{
    for (uint32_t i = 0; i < m_layers.GetSize(); ++i) {
        const auto* layer = static_cast<const CQNF_Layer*>(m_layers[i]);
        if (layer && layer->GetName().Compare(name) == 0)
            return i;
    }
    return NotFound;
}

bool CQNF_LayerSet::RenderLayer(unsigned long index)
{
    const CQNF_Layer* layer = GetLayer(index);
    if (!layer)
        return false;
    return Render(layer->GetRect());
}

bool CQNF_LayerSet::Render(qntRECT_s rect)
{
    ResetError();
    if (!m_canvas.HasPixels()) {
        SetError(qnerr::Empty);
        return false;
    }
    const uint32_t members = m_layers.GetSize();
    if (members == 0)
        return true;
    if (!qnimg::ClipRect(rect, m_canvasWidth, m_canvasHeight))
        return true;
    // The line buffer follows the member count; if it could not be had when
    // the members changed, it is tried again here rather than written past.
    if (m_lineBuffer.GetSize() < uint64_t{members} * sizeof(qntLAYERLINE)) {
        ResetLineBuffer();
        if (m_lineBuffer.GetSize() < uint64_t{members} * sizeof(qntLAYERLINE)) {
            SetError(qnerr::NoMemory);
            return false;
        }
    }

    uint32_t culled = 0;
    for (uint32_t i = 0; i < members; ++i) {
        auto* layer = static_cast<CQNF_Layer*>(m_layers[i]);
        if (!layer || !layer->GetVisible() || !layer->GetOpacity())
            continue;
        const qntRECT_s r = layer->GetRect();
        if (r.left >= rect.right || r.right <= rect.left || r.top >= rect.bottom || r.bottom <= rect.top)
            continue;
        if (!m_scratch.SetAt(culled, layer)) {
            SetError(m_scratch.GetError() ? m_scratch.GetError() : qnerr::NoMemory);
            return false;
        }
        ++culled;
    }

    auto* lines = static_cast<qntLAYERLINE*>(static_cast<void*>(m_lineBuffer.GetPtr()));
    uint8_t* planes[3] = {m_canvas.GetPlane(0), m_canvas.GetPlane(1), m_canvas.GetPlane(2)};
    const int32_t count = rect.right - rect.left;
    for (int32_t row = rect.top; row < rect.bottom; ++row) {
        m_lineCount = 0;
        for (uint32_t i = 0; i < culled; ++i) {
            const qntLAYERLINE line = static_cast<CQNF_Layer*>(m_scratch[i])->GetLineAt(rect.left, row, count);
            if (!(line.empty & 0xFF))
                lines[m_lineCount++] = line;
        }
        if (m_lineCount == 0)
            continue;
        const size_t rowStart = size_t(row) * m_canvasWidth + size_t(rect.left);
        for (uint32_t k = 0; k < m_lineCount; ++k) {
            const qntLAYERLINE& l = lines[k];
            const uint8_t* src[3] = {l.red, l.green, l.blue};
            const int n = l.end - l.start;
            const int o = l.opacity;
            for (int p = 0; p < 3; ++p) {
                uint8_t* d = planes[p] + rowStart + l.start;
                const uint8_t* s = src[p];
                if (k == 0 || (!l.alpha && o == 255)) {
                    std::memcpy(d, s, size_t(n));
                } else if (!l.alpha) {
                    for (int i = 0; i < n; ++i)
                        d[i] = Mix255(d[i], s[i], o);
                } else if (o == 255) {
                    for (int i = 0; i < n; ++i)
                        d[i] = Mix255(d[i], s[i], l.alpha[i]);
                } else {
                    for (int i = 0; i < n; ++i)
                        d[i] = Mix65025(d[i], s[i], o * l.alpha[i]);
                }
            }
        }
    }
    return true;
}
