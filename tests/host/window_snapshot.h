// Saves a headless window's pixels as a PNG picture in TESSOLO_SNAPSHOT_DIR
// (nothing without it), for looking at what a test drew.
#pragma once

#include "hostapp/RasterImage.h"
#include "platform/Headless.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace hosttest {

inline void SaveWindowSnapshot(plat::HeadlessPlatform& hp, plat::WinId win, const char* file)
{
    const char* dir = std::getenv("TESSOLO_SNAPSHOT_DIR");
    if (!dir || !*dir)
        return;
    uint16_t w = 0, h = 0;
    const std::vector<uint32_t>* fb = hp.Framebuffer(win, w, h);
    ASSERT_NE(fb, nullptr);
    hostapp::RasterImage img;
    img.Allocate(hostapp::ColorMode::RGB, w, h, false);
    for (size_t i = 0; i < size_t(w) * h; ++i)
        for (int c = 0; c < 3; ++c)
            img.planes[size_t(c)][i] = uint8_t((*fb)[i] >> (16 - 8 * c));
    std::string err;
    EXPECT_TRUE(hostapp::WritePngFile(std::string(dir) + "/" + file, img, err)) << err;
}

}  // namespace hosttest
