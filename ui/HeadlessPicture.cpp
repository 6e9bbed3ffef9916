#include "ui/HeadlessPicture.h"

#include "core/ErrorWords.h"
#include "imaging/ImageFile.h"

#include <algorithm>

namespace qnui {

namespace {
qntRGBA8 Colour(uint32_t c) { return {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 255}; }
}  // namespace

bool DesktopPicture(plat::HeadlessPlatform& p, CQNF_Image& out, uint32_t background)
{
    const plat::Rect d = p.DesktopBounds();
    if (d.Width() <= 0 || d.Height() <= 0 || d.Width() > 65535 || d.Height() > 65535 ||
        !out.Create(uint16_t(d.Width()), uint16_t(d.Height()), qnimg::ModeRGB))
        return false;
    out.Set(Colour(background), 0x07);
    for (plat::WinId id : p.ZOrder()) {
        if (!p.IsVisible(id))
            continue;
        const plat::Rect r = p.ContentRect(id);
        for (int32_t y = std::max(r.top, d.top); y < std::min(r.bottom, d.bottom); ++y)
            for (int32_t x = std::max(r.left, d.left); x < std::min(r.right, d.right); ++x)
                if (p.InShape(id, x - r.left, y - r.top))
                    out.SetPixel(uint16_t(x - d.left), uint16_t(y - d.top), Colour(p.Pixel(id, x - r.left, y - r.top)));
    }
    return true;
}

bool SaveDesktopPNG(plat::HeadlessPlatform& p, const std::string& path, std::string& error, uint32_t background)
{
    CQNF_Image picture;
    if (!DesktopPicture(p, picture, background)) {
        error = "the desktop is empty or too large to draw";
        return false;
    }
    unsigned short e = 0;
    if (!qnSaveImagePNG(path.c_str(), picture, "Tessolo", e)) {
        error = qnFileFailure(path, true, e);
        return false;
    }
    return true;
}

}  // namespace qnui
