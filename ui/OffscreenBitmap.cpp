#include "ui/OffscreenBitmap.h"

#include "imaging/Image.h"
#include "ui/Toolkit.h"

#include <algorithm>

plat::WinId CQNF_OffscreenBitmap::s_port = 0;

bool CQNF_OffscreenBitmap::Create(unsigned short width, unsigned short height)
{
    if (!width || !height) {
        SetError(qnerr::BadArgument);
        return false;
    }
    clean();
    // Rows of exactly four bytes a pixel: the row length needs no flag bits
    // masked off and holds any width.
    if (!m_world.Zalloc(qnMulSize({width, height, 4}))) {
        SetError(qnerr::OffscreenBuffer);
        return false;
    }
    m_width = width;
    m_height = height;
    m_pixels = m_world.GetPtr();
    m_rowBytes = uint32_t(width) * 4;
    m_rowSlack = 0;
    return true;
}

void CQNF_OffscreenBitmap::clean()
{
    m_world.free();
    m_pixels = nullptr;
    m_width = m_height = 0;
    m_rowBytes = m_rowSlack = 0;
}

bool CQNF_OffscreenBitmap::i_Clamp(const qntRECT_s& rect, qntRECT_s& out) const
{
    if (!m_pixels)
        return false;
    if (qnIsNullRect(rect)) {
        out = {0, 0, m_width, m_height};
        return true;
    }
    out.left = std::max<int32_t>(rect.left, 0);
    out.top = std::max<int32_t>(rect.top, 0);
    out.right = std::min<int32_t>(rect.right, m_width);
    out.bottom = std::min<int32_t>(rect.bottom, m_height);
    return out.left < out.right && out.top < out.bottom;
}

unsigned char CQNF_OffscreenBitmap::Set(CQNF_Image* image, long x, long y, qntRECT_s rect)
{
    qntRECT_s d;
    if (!image || !image->HasPixels() || image->GetImageMode() < 1 || !i_Clamp(rect, d))
        return 1;
    const int64_t dx = qnIsNullRect(rect) ? 0 : d.left - rect.left;
    const int64_t dy = qnIsNullRect(rect) ? 0 : d.top - rect.top;
    const int64_t sx = x + dx, sy = y + dy;
    const int64_t iw = image->GetImageWidth(), ih = image->GetImageHeight();
    if (sx < 0 || sy < 0 || sx >= iw || sy >= ih)
        return 1;
    const int64_t cols = std::min<int64_t>(d.right - d.left, iw - sx);
    const int64_t rows = std::min<int64_t>(d.bottom - d.top, ih - sy);
    const uint8_t* r = image->GetPlane(0);
    const uint8_t* g = image->GetPlane(1);
    const uint8_t* b = image->GetPlane(2);
    if (!r || !g || !b)
        return 1;
    for (int64_t row = 0; row < rows; ++row) {
        uint32_t* out = reinterpret_cast<uint32_t*>(m_pixels + size_t(d.top + row) * m_rowBytes) + d.left;
        const size_t at = size_t(sy + row) * size_t(iw) + size_t(sx);
        for (int64_t c = 0; c < cols; ++c)
            out[c] = uint32_t(r[at + c]) << 16 | uint32_t(g[at + c]) << 8 | b[at + c];
    }
    return 1;
}

unsigned char CQNF_OffscreenBitmap::Draw(long x, long y, qntRECT_s rect)
{
    qntRECT_s s;
    plat::Platform* p = qnui::Toolkit::Get().P();
    if (!p || !s_port || !i_Clamp(rect, s))
        return 1;
    const long dx = qnIsNullRect(rect) ? x : x + s.left - rect.left;
    const long dy = qnIsNullRect(rect) ? y : y + s.top - rect.top;
    p->Blit(s_port, GetHandle(), m_rowBytes / 4, {s.left, s.top, s.right, s.bottom},
            {int32_t(dx), int32_t(dy)});
    return 1;
}
