// Small in-process plug-ins that play the plug-in's side of the filter
// interface, for testing the stand-in host on its own.
#pragma once

#include "filterapi/FilterApi.h"
#include "hostapp/StandInHost.h"

#include <cstring>
#include <functional>

namespace hosttest {

inline int Width(const FilterRect16& r)
{
    return r.right - r.left;
}
inline int Height(const FilterRect16& r)
{
    return r.bottom - r.top;
}

inline void ClearRects(FilterRecord* r)
{
    r->inRect = r->outRect = r->maskRect = FilterRect16{0, 0, 0, 0};
}

// What the scripted plug-in does on Start; set by each test.
inline std::function<int16_t(FilterRecord*)>& StartScript()
{
    static std::function<int16_t(FilterRecord*)> script;
    return script;
}

// A plug-in whose Start runs StartScript() and whose other selectors do nothing.
inline void ScriptedPlugin(int16_t selector, FilterRecord* r, intptr_t*, int16_t* result)
{
    *result = 0;
    if (selector == filterSelectorStart && StartScript())
        *result = StartScript()(r);
    if (selector == filterSelectorStart || selector == filterSelectorContinue || selector == filterSelectorFinish)
        ClearRects(r);
}

// Inverts planes [0, planes) of the filter rectangle, one plane at a time in
// bands of at most maxSpace bytes, reading and writing in the same request.
inline int16_t InvertPlanes(FilterRecord* r, int planes)
{
    const FilterRect16 fr = r->filterRect;
    const int w = Width(fr);
    int rows = r->maxSpace / (2 * w);
    if (rows < 1)
        return filterBadParameters;
    for (int p = 0; p < planes; ++p)
        for (int top = fr.top; top < fr.bottom; top += rows) {
            const int bottom = top + rows < fr.bottom ? top + rows : fr.bottom;
            r->inRect = r->outRect =
                FilterRect16{static_cast<int16_t>(top), fr.left, static_cast<int16_t>(bottom), fr.right};
            r->maskRect = FilterRect16{0, 0, 0, 0};
            r->inLoPlane = r->inHiPlane = r->outLoPlane = r->outHiPlane = static_cast<int16_t>(p);
            if (r->advanceState() != 0)
                return userCanceledErr;
            for (int y = 0; y < bottom - top; ++y) {
                const uint8_t* in = static_cast<const uint8_t*>(r->inData) + y * r->inRowBytes;
                uint8_t* out = static_cast<uint8_t*>(r->outData) + y * r->outRowBytes;
                for (int x = 0; x < w; ++x)
                    out[x] = static_cast<uint8_t>(255 - in[x]);
            }
        }
    ClearRects(r);
    return 0;
}

inline int ColourPlanes(const FilterRecord* r)
{
    return r->imageMode == filterModeGray ? 1 : r->imageMode == filterModeCMYK ? 4 : 3;
}

}  // namespace hosttest
