#include "ui/gallery/DesktopShot.h"

#include "imaging/Image.h"
#include "imaging/ImageFile.h"

namespace qnui {

bool SaveHeadlessDesktop(plat::HeadlessPlatform& p, int32_t width, int32_t height, const std::string& pngPath,
                         std::string& error)
{
    CQNF_Image shot;
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535 ||
        !shot.Create(uint16_t(width), uint16_t(height), qnimg::ModeRGB)) {
        error = "out of memory";
        return false;
    }
    shot.Set(qntRGBA8{0x3A, 0x3F, 0x47, 255}, 0x07);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const plat::WinId id = p.WindowAt({x, y});
            if (!id)
                continue;
            const plat::Rect r = p.ContentRect(id);
            const uint32_t c = p.Pixel(id, x - r.left, y - r.top);
            shot.SetPixel(uint16_t(x), uint16_t(y), qntRGBA8{uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c), 255});
        }
    }
    unsigned short e = 0;
    if (!qnSaveImagePNG(pngPath.c_str(), shot, "Tessolo", e)) {
        error = "cannot write " + pngPath + " (error " + std::to_string(e) + ")";
        return false;
    }
    return true;
}

}  // namespace qnui
