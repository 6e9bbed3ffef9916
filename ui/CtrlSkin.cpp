#include "ui/CtrlSkin.h"

#include "imaging/Layer.h"

#include <algorithm>

namespace qnctl {

bool SkinImage::Load(CQNF_Control& control, const char* record)
{
    pixels = control.LoadImageData(control.ResourceKey(record), &rect, &block);
    if (!pixels) {
        rect = qnNullRect;
    }
    return pixels != nullptr;
}

qntRECT_s UnionRect(const qntRECT_s& a, const qntRECT_s& b)
{
    if (qnIsNullRect(a)) {
        return b;
    }
    if (qnIsNullRect(b)) {
        return a;
    }
    const qntRECT_s u{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                      std::max(a.bottom, b.bottom)};
    return (u.left < u.right && u.top < u.bottom) ? u : qnNullRect;
}

void Widen(qntRECT_s& r, const SkinImage& image)
{
    if (image.Present()) {
        r = UnionRect(r, image.rect);
    }
}

bool HotZoneHit(const SkinImage& mask, int32_t x, int32_t y)
{
    if (!mask.Present() || x < mask.rect.left || x >= mask.rect.right || y < mask.rect.top ||
        y >= mask.rect.bottom) {
        return false;
    }
    return mask.pixels[size_t(y - mask.rect.top) * size_t(mask.Width()) + size_t(x - mask.rect.left)] > 128;
}

const SkinImage* FirstPresent(const SkinImage* a, const SkinImage* b, const SkinImage* c)
{
    for (const SkinImage* i : {a, b, c}) {
        if (i && i->Present()) {
            return i;
        }
    }
    return nullptr;
}

void StateImages::Load(CQNF_Control& control, const char* prefix)
{
    static const char* const kStates[4] = {"_Normal", "_Highlighted", "_Pressed", "_Disabled"};
    present = 0;
    unionRect = qnNullRect;
    for (int i = 0; i < 4; ++i) {
        CQNF_String record(prefix);
        record += kStates[i];
        if (image[i].Load(control, record.GetStr())) {
            present |= uint8_t(1u << i);
            Widen(unionRect, image[i]);
        }
    }
}

const SkinImage* StateImages::Choose(uint8_t state, bool& atDisabledOpacity) const
{
    atDisabledOpacity = false;
    switch (state) {
    case StateHighlighted: return FirstPresent(&image[1], &image[0]);
    case StatePressed: return FirstPresent(&image[2], &image[1], &image[0]);
    case StateDisabled:
        if (image[3].Present()) {
            return &image[3];
        }
        atDisabledOpacity = true;
        return FirstPresent(&image[0]);
    default: return FirstPresent(&image[0]);
    }
}

void ShowImage(CQNF_Control& control, CQNF_Layer& layer, const SkinImage* image)
{
    ShowImage(control, layer, image, layer.GetRect());
}

void ShowImage(CQNF_Control& control, CQNF_Layer& layer, const SkinImage* image, const qntRECT_s& at)
{
    if (!image) {
        control.SetDataToImage(&layer, 0, 0, nullptr, qntRECT_s{0, 0, 0, 0}, 0, 0);
        return;
    }
    control.SetDataToImage(&layer, short(image->rect.left - at.left), short(image->rect.top - at.top), image->pixels,
                           image->rect, 0, 0);
}

}  // namespace qnctl
