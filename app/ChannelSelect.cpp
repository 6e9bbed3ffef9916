#include "app/ChannelSelect.h"

#include "app/MainModel.h"

#include <algorithm>
#include <cstring>

std::vector<qntCHANNELITEM> qnChannelListItems(const CQNF_8BFPluginVirtual::PLUGINDATA& data,
                                               const CQNF_StringArray& names)
{
    std::vector<qntCHANNELITEM> items;
    if (data.withSelection)
        items.push_back({"- Current Selection", kChannelSelection});
    if (data.channelNamesPresent) {
        for (uint64_t i = 0; i < names.GetSize(); ++i) {
            const CQNF_String name = names[int(i)];
            items.push_back({name.GetStr(), name.GetTag()});
        }
        return items;
    }
    static const char* const gray[] = {"Gray"};
    static const char* const rgb[] = {"Red", "Green", "Blue"};
    static const char* const cmyk[] = {"Cyan", "Magenta", "Yellow", "Black"};
    const char* const* planes = data.colorMode == 0 ? gray : data.colorMode == 1 ? rgb : cmyk;
    const uint32_t n = data.colorMode == 0 ? 1 : data.colorMode == 1 ? 3 : 4;
    for (uint32_t i = 0; i < n; ++i)
        items.push_back({planes[i], i});
    if (data.hasTransparency && data.planes > 0)
        items.push_back({"Layer Transparency", uint32_t(data.planes - 1)});
    return items;
}

bool qnReadChannel(CQNF_8BFPluginVirtual& host, uint32_t value, uint8_t* buffer, uint32_t width, uint32_t height)
{
    const CQNF_8BFPluginVirtual::PLUGINDATA& d = *host.GetPluginDataPtr();
    if (!buffer || !width || !height)
        return false;
    const qntRECT_s rect = d.filterRect;
    if (value == kChannelSelection) {
        if (!d.withSelection)
            return false;
        if (!d.hostMask) {
            std::memset(buffer, 255, size_t(width) * height);
            return true;
        }
        return host.HostGetChanel(255, rect, buffer, width);
    }
    if (d.channelNamesPresent)
        return value <= 0xFFFF && host.HostGetAlphaChanel(uint16_t(value), rect, buffer, width);
    return value < d.planes && host.HostGetChanel(uint8_t(value), rect, buffer, width);
}

void qnSelectKnivesFromMap(CWnd_MainModel& m, const uint8_t* map, uint32_t width, uint32_t height,
                           uint8_t operation, uint8_t invert)
{
    if (!map || !width || !height || operation > 3)
        return;
    if (operation == 0)
        m.op_SetSelToAllKnives(0, 0, 1, 1, 1);
    const uint32_t C = m.m_nColSplitters, R = m.m_nRowSplitters, K = m.m_nKnotCols;
    auto apply = [&](CWnd_MainModel::KNIFESTRUCT& k, bool inside) {
        if (operation <= 1 && inside)
            k.selected = 1;
        else if (operation == 2 && inside)
            k.selected = 0;
        else if (operation == 3 && !inside)
            k.selected = 0;
    };
    for (uint32_t kr = 0; kr < m.m_nKnotRows; ++kr)
        for (uint32_t kc = 0; kc < K; ++kc) {
            const qntFPOS p = m.i_spl_ConvertKnot(kc, kr, double(m.m_nImageWidth), double(m.m_nImageHeight),
                                                  qntFPOS{0.0, 0.0});
            // Knots on the right and bottom border lie one past the last
            // pixel: they sample the pixel they touch.
            const float fx = float(p.x), fy = float(p.y);
            const int64_t x = std::clamp<int64_t>(fx >= 0 ? int64_t(fx) : -1, 0, int64_t(width) - 1);
            const int64_t y = std::clamp<int64_t>(fy >= 0 ? int64_t(fy) : -1, 0, int64_t(height) - 1);
            uint8_t v = map[size_t(y) * width + size_t(x)];
            if (invert)
                v = uint8_t(255 - v);
            const bool inside = v < 128;
            if (kc >= 1 && kc <= C) {
                if (kr >= 1)
                    apply(m.m_ColKnives[(kr - 1) * C + kc - 1], inside);
                if (kr <= R)
                    apply(m.m_ColKnives[kr * C + kc - 1], inside);
            }
            if (kr >= 1 && kr <= R) {
                if (kc >= 1)
                    apply(m.m_RowKnives[(kr - 1) * (C + 1) + kc - 1], inside);
                if (kc <= C)
                    apply(m.m_RowKnives[(kr - 1) * (C + 1) + kc], inside);
            }
            const uint32_t knot = kr * K + kc;
            for (uint32_t a = 0; a < m.m_nAuxKnives; ++a)
                if (m.m_AuxKnives[a].knotA == knot || m.m_AuxKnives[a].knotB == knot)
                    apply(m.m_AuxKnives[a].knife, inside);
        }
    m.spl_OnKnifeSelChanged();
    m.i_FullRedraw();
}
