#include "ui/PreviewGeometry.h"

#include <algorithm>
#include <cmath>

namespace qnui {

namespace {

uint16_t ToU16(int64_t v) { return uint16_t(std::clamp<int64_t>(v, 0, 65535)); }

int32_t ToI32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Margins of one axis: a scaled length within the view is centred, a longer
// one may pass each edge by the edge margin.
void AxisMargins(int view, int scaled, int& before, int& after)
{
    if (scaled <= view) {
        before = (view - scaled) / 2;
        after = view - scaled - before;
    } else {
        before = after = PreviewGeometry::kEdgeMargin;
    }
}

}  // namespace

int64_t PreviewGeometry::ScaleToLevel(int64_t v, int level)
{
    // Right shifts of negative values round toward minus infinity, as the
    // image coordinates of the left and top margins need.
    return level < kOneToOne ? (v >> (kOneToOne - level)) : v * (int64_t(1) << (level - kOneToOne));
}

void PreviewGeometry::SetView(int width, int height)
{
    m_viewW = std::max(width, 0);
    m_viewH = std::max(height, 0);
}

void PreviewGeometry::SetImageSize(int width, int height)
{
    m_imgW = std::max(width, 0);
    m_imgH = std::max(height, 0);
}

void PreviewGeometry::RecalcCoors()
{
    const int sw = ScaledW(), sh = ScaledH();
    AxisMargins(m_viewW, sw, m_marginL, m_marginR);
    AxisMargins(m_viewH, sh, m_marginT, m_marginB);
    m_minX = -m_marginL;
    m_minY = -m_marginT;
    m_maxX = sw - m_viewW + m_marginR;
    m_maxY = sh - m_viewH + m_marginB;
    SetOffset(m_offX, m_offY);
}

void PreviewGeometry::SetOffset(int64_t x, int64_t y)
{
    m_offX = ToI32(std::min<int64_t>(std::max<int64_t>(x, m_minX), m_maxX));
    m_offY = ToI32(std::min<int64_t>(std::max<int64_t>(y, m_minY), m_maxY));
}

bool PreviewGeometry::SetZoom(int level, int anchorX, int anchorY, bool force)
{
    // Levels past the ends would make negative shift counts.
    level = std::clamp(level, kMinZoom, kMaxZoom);
    if (level == m_zoom && !force)
        return false;
    if (anchorX == -1 || anchorY == -1) {
        anchorX = m_viewW / 2;
        anchorY = m_viewH / 2;
    }
    const qntPOS img = ImageCoords({anchorX, anchorY});
    m_zoom = level;
    RecalcCoors();
    SetOffset(ScaleToLevel(img.x, level) - m_viewW / 2, ScaleToLevel(img.y, level) - m_viewH / 2);
    return true;
}

qntPOS PreviewGeometry::ImageCoordsRaw(qntPOS p) const
{
    // The inverse scale: level z maps back with the shift of level 8 - z.
    const int back = 2 * kOneToOne - m_zoom;
    return {ToI32(ScaleToLevel(int64_t(p.x) + m_offX, back)), ToI32(ScaleToLevel(int64_t(p.y) + m_offY, back))};
}

qntPOS PreviewGeometry::ImageCoords(qntPOS p) const
{
    qntPOS r = ImageCoordsRaw(p);
    r.x = r.x < 0 ? -1 : r.x >= m_imgW ? 65535 : r.x;
    r.y = r.y < 0 ? -1 : r.y >= m_imgH ? 65535 : r.y;
    return r;
}

PreviewGeometry::ScrollInfo PreviewGeometry::HorizontalScroll() const
{
    return {m_viewW + m_maxX - m_minX, m_viewW, m_marginL + m_offX};
}

PreviewGeometry::ScrollInfo PreviewGeometry::VerticalScroll() const
{
    return {m_viewH + m_maxY - m_minY, m_viewH, m_marginT + m_offY};
}

void PreviewGeometry::SetOffsetFromScroll(int horizontalPos, int verticalPos)
{
    SetOffset(int64_t(horizontalPos) - m_marginL, int64_t(verticalPos) - m_marginT);
}

NavigatorLayout LayoutNavigator(const PreviewGeometry& g, int navW, int navH)
{
    NavigatorLayout nav;
    if (g.ImageW() <= 0 || g.ImageH() <= 0 || navW <= 6 || navH <= 6)
        return nav;
    const double s = std::min(double(navW - 6) / g.ImageW(), double(navH - 6) / g.ImageH());
    const int tw = std::min(navW - 6, int(s * g.ImageW()));
    const int th = std::min(navH - 6, int(s * g.ImageH()));
    const int mx = int((navW - 6 - tw) * 0.5), my = int((navH - 6 - th) * 0.5);
    const int z = g.GetZoom();
    nav.k = z < PreviewGeometry::kOneToOne ? s * double(1 << (PreviewGeometry::kOneToOne - z))
                                           : s / double(1 << (z - PreviewGeometry::kOneToOne));
    const qntPOS off = g.GetOffset();
    auto frameLength = [&](int offset, int view, int scaled, int thumb) {
        const int from = std::max(offset, 0), to = std::min(scaled, offset + view);
        if (from == 0 && to == scaled)
            return thumb;
        return std::clamp(int((to - from) * nav.k) + 1, 1, std::max(thumb, 1));
    };
    const int fw = frameLength(off.x, g.ViewW(), g.ScaledW(), tw);
    const int fh = frameLength(off.y, g.ViewH(), g.ScaledH(), th);
    nav.frame.left = mx + int(std::max(off.x, 0) * nav.k) + 3;
    nav.frame.top = my + int(std::max(off.y, 0) * nav.k) + 3;
    nav.frame.right = nav.frame.left + fw;
    nav.frame.bottom = nav.frame.top + fh;
    nav.frameSize = {0, 0, int(g.ViewW() * nav.k), int(g.ViewH() * nav.k)};
    nav.thumb = {mx + 3, my + 3, navW - mx - 3, navH - my - 3};
    nav.valid = true;
    return nav;
}

void PaintNavigator(uint8_t* planes, int navW, int navH, const NavigatorLayout& nav)
{
    if (!planes || !nav.valid || navW <= 0 || navH <= 0)
        return;
    const size_t plane = size_t(navW) * navH;
    const qntRECT_s& f = nav.frame;
    for (int y = 0; y < navH; ++y) {
        for (int x = 0; x < navW; ++x) {
            uint8_t rgb, a;
            if (x == f.left || x == f.right || y == f.top || y == f.bottom) {
                rgb = 0;
                a = 255;
            } else if (x > f.left && x < f.right && y > f.top && y < f.bottom) {
                rgb = 0;
                a = 0;
            } else {
                rgb = 200;
                a = 100;
            }
            const size_t o = size_t(y) * navW + x;
            planes[o] = planes[plane + o] = planes[2 * plane + o] = rgb;
            planes[3 * plane + o] = a;
        }
    }
}

qntPOS NavigatorOffset(const PreviewGeometry& g, const NavigatorLayout& nav, qntPOS p)
{
    qntPOS off = g.GetOffset();
    if (!nav.valid)
        return off;
    const qntRECT_s lim = g.Limits();
    auto axis = [](int32_t current, int64_t lo, int64_t hi, int64_t pos, int64_t thumbStart, int64_t thumbLen,
                   int64_t frameLen) -> int32_t {
        if (frameLen >= thumbLen)
            return current;
        return ToI32(lo + (hi - lo) * (pos - thumbStart - frameLen / 2) / (thumbLen - frameLen));
    };
    off.x = axis(off.x, lim.left, lim.right, p.x, nav.thumb.left, nav.thumb.right - nav.thumb.left,
                 nav.frameSize.right);
    off.y = axis(off.y, lim.top, lim.bottom, p.y, nav.thumb.top, nav.thumb.bottom - nav.thumb.top,
                 nav.frameSize.bottom);
    return off;
}

namespace {

// One axis of a ruler's record; "before" and "after" are the preview's and
// the ruler's edges along it.
QNF_RulerData AxisRuler(const PreviewGeometry& g, bool horizontal, int previewStart, int previewEnd,
                        int rulerStart, int rulerEnd, int mouse, uint8_t unit, double resolution)
{
    QNF_RulerData r;
    const int z = g.GetZoom();
    const int32_t off = horizontal ? g.GetOffset().x : g.GetOffset().y;
    const int view = horizontal ? g.ViewW() : g.ViewH();
    const int scaled = horizontal ? g.ScaledW() : g.ScaledH();
    r.unit = unit;
    r.leadingBlank = ToU16(int64_t(previewStart) - rulerStart + (off < 0 ? -int64_t(off) : 0));
    r.trailingBlank = ToU16(std::max<int64_t>(view - (int64_t(scaled) - off), 0) + (rulerEnd - previewEnd));
    r.insetBefore = horizontal ? 1 : 2;
    r.insetAfter = 0;
    r.zoom = int8_t(z - PreviewGeometry::kOneToOne);
    const qntPOS first = g.ImageCoords({0, 0});
    r.firstCoord = std::max(horizontal ? first.x : first.y, 0);
    if (z > PreviewGeometry::kOneToOne && off >= 0)
        r.phase = uint8_t(off % (1 << (z - PreviewGeometry::kOneToOne)));
    r.marker = (mouse == 65535 || mouse < rulerStart) ? 65535 : ToU16(int64_t(mouse) - rulerStart);
    r.resolution = resolution;
    return r;
}

}  // namespace

QNF_RulerData HorizontalRulerData(const PreviewGeometry& g, qntRECT_s preview, qntRECT_s ruler, int mouseX,
                                  uint8_t unit, double resolution)
{
    return AxisRuler(g, true, preview.left, preview.right, ruler.left, ruler.right, mouseX, unit,
                     unit == 5 ? double(g.ImageW()) : resolution);
}

QNF_RulerData VerticalRulerData(const PreviewGeometry& g, qntRECT_s preview, qntRECT_s ruler, int mouseY, uint8_t unit,
                                double resolution)
{
    return AxisRuler(g, false, preview.top, preview.bottom, ruler.top, ruler.bottom, mouseY, unit,
                     unit == 5 ? double(g.ImageH()) : resolution);
}

}  // namespace qnui
