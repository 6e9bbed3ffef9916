#include "effects/FxLayers.h"

#include "effects/FxNumbers.h"
#include "imaging/Image.h"

#include <algorithm>
#include <cstring>

namespace fxkind {

namespace {
uint8_t* OverlayBlock(CTessolo::SPLITEDCELL& piece, uint8_t copy)
{
    return reinterpret_cast<uint8_t*>(&piece.imageOverlay[copy]);
}
const uint8_t* OverlayDefaults(const CTessolo& engine)
{
    return reinterpret_cast<const uint8_t*>(&engine.m_DefImageOverlay);
}
}  // namespace

const FxKind kImageOverlay{"iovr", 512, sizeof(CTessolo::SFX_IMAGEOVERLAY), OverlayBlock, OverlayDefaults};

}  // namespace fxkind

namespace {

bool Empty(const qntRECT_s& r)
{
    return r.left >= r.right || r.top >= r.bottom;
}

}  // namespace

// ---- The layers list ----------------------------------------------------------------

bool CFxLayersListModel::i_IsLayerAcceptable(uint32_t index) const
{
    if (index >= table.size() || qnIsNullRect(target) || Empty(target))
        return false;
    const qntRECT_s& b = table[index].bounds;
    const qntRECT_s i{std::max(b.left, target.left), std::max(b.top, target.top), std::min(b.right, target.right),
                      std::min(b.bottom, target.bottom)};
    if (Empty(i))
        return false;
    return i.left == target.left && i.top == target.top && i.right == target.right && i.bottom == target.bottom;
}

std::vector<CFxLayersListModel::Row> CFxLayersListModel::Rows(int32_t& select)
{
    std::vector<Row> rows;
    select = -1;
    for (uint32_t i = uint32_t(table.size()); i-- > 0;) {
        const bool ok = i_IsLayerAcceptable(i);
        if (showFiltered && !ok)
            continue;
        if (chosen != kNone && table[i].id == chosen && select < 0)
            select = int32_t(rows.size());
        rows.push_back(Row{std::string(ok ? "+" : " ") + "\t| " + table[i].name, i});
    }
    if (rows.empty())
        return rows;
    if (select < 0) {
        chosen = kNone;
        select = 0;
    }
    return rows;
}

void CFxLayersListModel::ScaledSize(int32_t w, int32_t h, int32_t pw, int32_t ph, int32_t& dw, int32_t& dh)
{
    const int64_t m = std::max(w, h);
    dw = m > 0 ? int32_t(int64_t(pw) * w / m) : 0;
    dh = m > 0 ? int32_t(int64_t(ph) * h / m) : 0;
}

qntRECT_s CFxLayersListModel::MarkerRect(const qntRECT_s& target, const qntRECT_s& source, int32_t dw, int32_t dh,
                                         int32_t ox, int32_t oy)
{
    // Each axis by its own scale, so a preview that is not square still
    // marks the right place.
    const int64_t w = std::max(1, source.right - source.left);
    const int64_t h = std::max(1, source.bottom - source.top);
    const int32_t x1 = int32_t(int64_t(target.left - source.left) * dw / w);
    const int32_t y1 = int32_t(int64_t(target.top - source.top) * dh / h);
    const int32_t mw = int32_t(int64_t(target.right - target.left) * dw / w);
    const int32_t mh = int32_t(int64_t(target.bottom - target.top) * dh / h);
    return qntRECT_s{ox + x1, oy + y1, ox + x1 + std::max(mw, 2), oy + y1 + std::max(mh, 2)};
}

bool CFxLayersListModel::i_Black(CQNF_Image& preview)
{
    preview.Set(qntRGBA8{0, 0, 0, 255}, 0x0F);
    return false;
}

bool CFxLayersListModel::DrawPreview(uint32_t index, CFxHostLayers& host, const FxAlphaDisplay& display,
                                     CQNF_Image& preview, CQNF_Image& marker)
{
    marker.Set(qntRGBA8{255, 255, 255, 0}, 0x0F);
    if (index >= table.size())
        return i_Black(preview);
    const FxLayerEntry& entry = table[index];
    const bool acceptable = i_IsLayerAcceptable(index);
    chosen = acceptable ? entry.id : kNone;

    FxLayerChannels ch;
    if (!host.FxGetLayerChannels(entry.id, ch) || ch.colour == 0 || !ch.readable)
        return i_Black(preview);
    const qntRECT_s source = acceptable ? target : ch.firstBounds;
    const int32_t w = source.right - source.left, h = source.bottom - source.top;
    const int32_t pw = preview.GetImageWidth(), ph = preview.GetImageHeight();
    if (w <= 0 || h <= 0 || pw <= 0 || ph <= 0)
        return i_Black(preview);
    int32_t dw = 0, dh = 0;
    ScaledSize(w, h, pw, ph, dw, dh);
    dw = std::max(dw, 1);
    dh = std::max(dh, 1);

    // The layer scaled into four planes: its colour, then its transparency.
    const uint8_t count = ch.colour;
    if ((count != 1 && count != 3 && count != 4) || !ch.allPorts)
        return i_Black(preview);
    const size_t plane = size_t(dw) * size_t(dh);
    std::vector<uint8_t> buffer(plane * 4);
    uint8_t* p[4] = {buffer.data(), buffer.data() + plane, buffer.data() + 2 * plane, buffer.data() + 3 * plane};
    for (uint8_t k = 0; k < count; ++k)
        if (!host.FxReadLayerScaled(entry.id, k, source, dw, dh, p[k]))
            return i_Black(preview);
    if (count == 1) {
        std::memcpy(p[1], p[0], plane);
        std::memcpy(p[2], p[0], plane);
    } else if (count == 4) {
        for (int c = 0; c < 3; ++c)
            for (size_t i = 0; i < plane; ++i)
                p[c][i] = uint8_t((p[c][i] * p[3][i]) >> 8);
    }
    if (ch.transparency) {
        if (!host.FxReadLayerScaled(entry.id, CFxHostLayers::kTransparency, source, dw, dh, p[3]))
            return i_Black(preview);
    } else {
        std::memset(p[3], 255, plane);
    }

    // Centred over the main window's transparency display.
    const int32_t ox = (pw - dw) / 2, oy = (ph - dh) / 2;
    const qntRECT_s inner{ox, oy, ox + dw, oy + dh};
    if (display.extSolid)
        preview.Set(display.extSolidColour, 0x07);
    else
        preview.Set(4, 4, display.extColour1, display.extColour2, qnNullRect);
    if (display.solid)
        preview.Set(display.solidColour, 0x07, inner);
    else
        preview.Set(4, 4, display.colour1, display.colour2, inner);
    preview.Set(qntRGBA8{0, 0, 0, 255}, 0x08);
    for (int c = 0; c < 3; ++c) {
        uint8_t* d = preview.GetPlane(unsigned(c));
        for (int32_t y = 0; y < dh && oy + y < ph && y < ph; ++y)
            for (int32_t x = 0; x < dw && ox + x < pw && x < pw; ++x) {
                uint8_t& to = d[size_t(oy + y) * pw + size_t(ox + x)];
                const uint32_t a = p[3][size_t(y) * dw + x], s = p[c][size_t(y) * dw + x];
                to = uint8_t((to * (255 - a) + a * s) >> 8);
            }
    }
    if (acceptable)
        return true;

    // The target inside the whole layer: red, framed in blue; all of the
    // preview half red when it falls outside.
    qntRECT_s in = MarkerRect(target, source, dw, dh, ox, oy);
    auto clip = [&](qntRECT_s r) {
        return qntRECT_s{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, pw), std::min(r.bottom, ph)};
    };
    const qntRECT_s outer = clip(qntRECT_s{in.left - 1, in.top - 1, in.right + 1, in.bottom + 1});
    in = clip(in);
    if (Empty(in)) {
        marker.Set(qntRGBA8{255, 0, 0, 128}, 0x0F);
    } else {
        marker.Set(qntRGBA8{0, 0, 255, 255}, 0x0F, outer);
        marker.Set(qntRGBA8{255, 0, 0, 255}, 0x0F, in);
    }
    return false;
}

// ---- The image overlay effect ---------------------------------------------------------

namespace {

CTessolo::SFX_IMAGEOVERLAY LoadBlock(const uint8_t* bytes)
{
    CTessolo::SFX_IMAGEOVERLAY b;
    std::memcpy(&b, bytes, sizeof b);
    return b;
}

}  // namespace

CFxImageOverlayModel::CFxImageOverlayModel(CFxMainLink& link, CFxTimers& timers)
    : CFxSession(fxkind::kImageOverlay, link, timers)
{
}

void CFxImageOverlayModel::LoadInitialValues()
{
    value1 = LoadBlock(InitialBackup());
    value2 = LoadBlock(Defaults());
}

qntRECT_s CFxImageOverlayModel::PiecesRect(qntPOS origin)
{
    const CTessolo& e = Engine();
    qntRECT_s r = qnNullRect;
    for (uint32_t i : Pieces()) {
        const CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
        const qntRECT_s q{p.left, p.top, p.right, p.bottom};
        if (qnIsNullRect(r)) {
            r = q;
            continue;
        }
        r = qntRECT_s{std::min(r.left, q.left), std::min(r.top, q.top), std::max(r.right, q.right),
                      std::max(r.bottom, q.bottom)};
        if (Empty(r))
            r = qnNullRect;
    }
    // A union without area stays the null marker: it names no place.
    if (qnIsNullRect(r) || Empty(r))
        return qnNullRect;
    return qntRECT_s{r.left + origin.x, r.top + origin.y, r.right + origin.x, r.bottom + origin.y};
}

void CFxImageOverlayModel::ChooseLayer(int32_t id)
{
    for (Block* b : {&value1, &value2}) {
        b->layerChoice = 1;
        b->layerId = id;
    }
}

void CFxImageOverlayModel::ChooseAutomatic()
{
    value1.layerChoice = 0;
    value2.layerChoice = 0;
}

int32_t CFxImageOverlayModel::PreselectedLayer() const
{
    return value1.layerChoice ? value1.layerId : CFxLayersListModel::kNone;
}

void CFxImageOverlayModel::FillPlain(uint8_t* out)
{
    value1.on = 1;
    std::memcpy(out, &value1, sizeof value1);
}

void CFxImageOverlayModel::FillGraded(double t, const uint8_t*, uint8_t* out)
{
    // Only the opacity varies; the layer choice is value 1's for every piece.
    Block b = value1;
    b.opacity = uint8_t(fxnum::Grade(value1.opacity, value2.opacity, t, 0, 255));
    b.on = 1;
    std::memcpy(out, &b, sizeof b);
}
