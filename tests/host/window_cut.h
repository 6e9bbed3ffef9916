// The knife editor's Cut as the editor window does it, for the window tests
// that need pieces: the main window's layout into the engine, then the split;
// and the planes of the pictures they compare.
#pragma once

#include "app/Wnd_Main.h"
#include "host/PluginMain.h"

#include <vector>

namespace hosttest {

inline bool CutInWindow(CWnd_Main& w, CPluginMain& plugin)
{
    CTessolo& engine = plugin.GetEngine();
    int32_t width = 0, height = 0;
    const uint8_t* alpha = plugin.GetCompositeAlpha(width, height);
    if (!w.engine_PutLayoutToPuzzleEngine(&engine) || !engine.FreeSpliting())
        return false;
    uint8_t* planes[3] = {w.m_SourceImage.GetPlane(0), w.m_SourceImage.GetPlane(1), w.m_SourceImage.GetPlane(2)};
    return engine.SplitCells(width, height, const_cast<uint8_t*>(alpha), uint32_t(width), planes, uint32_t(width), 3,
                             0, 100, 1);
}

// The four planes of a picture, one after the other.
inline std::vector<uint8_t> Planes(const CQNF_Image& img)
{
    std::vector<uint8_t> out;
    const size_t n = size_t(img.GetImageWidth()) * img.GetImageHeight();
    for (int k = 0; k < 4; ++k)
        out.insert(out.end(), img.GetPlane(k), img.GetPlane(k) + n);
    return out;
}

}  // namespace hosttest
