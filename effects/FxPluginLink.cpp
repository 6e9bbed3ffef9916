#include "effects/FxPluginLink.h"

#include "core/Storage.h"
#include "host/PluginMain.h"

#include <cstring>

CTessolo& CFxPluginLink::FxEngine()
{
    return m_plugin.GetEngine();
}

uint8_t CFxPluginLink::FxColorMode()
{
    return m_plugin.GetPluginDataPtr()->colorMode;
}

bool CFxPluginLink::FxPickColor(uint8_t record[8])
{
    return m_plugin.SelectColor_ALL(record);
}

bool CFxPluginLink::FxReadSwitch(const char* key, uint8_t& value)
{
    CQNF_Storage* conf = m_plugin.ConfStorage_GetStorage();
    return conf && conf->GetRec(CQNF_String(key), value);
}

qntPOS CFxPluginLink::FxStoredPosition(const char* prefix)
{
    return m_plugin.WindowPosFromConf(prefix, "MAIN", qntSIZE_s{-32000, -32000}, 1);
}

void CFxPluginLink::FxStoreOnOk(const char* prefix, qntPOS position, uint8_t livePreview)
{
    m_plugin.PutWindowPosToConf(prefix, "MAIN", position);
    if (CQNF_Storage* conf = m_plugin.ConfStorage_GetStorage()) {
        CQNF_String key(prefix);
        key += "_MainPreview";
        conf->SetRecord(key, uint8_t(livePreview ? 1 : 0));
    }
}

// ---- The host's layers ------------------------------------------------------------

namespace {

constexpr const char* kShowFiltered = "DocLayers Settings>ShowFiltered";

FilterRect32 Rect32(const qntRECT_s& r)
{
    return FilterRect32{r.top, r.left, r.bottom, r.right};
}

}  // namespace

bool CFxPluginLink::FxFillLayerTable()
{
    return m_plugin.PS_FillRealLayerBounds(m_plugin.GetPluginDataPtr()->filterRect, 0);
}

std::vector<FxLayerEntry> CFxPluginLink::FxLayerTable()
{
    uint32_t count = 0;
    const CQNF_8BFPluginVirtual::REALLAYERINFO* table = m_plugin.GetLayerTable(count);
    std::vector<FxLayerEntry> out;
    for (uint32_t i = 0; table && i < count; ++i) {
        const auto& e = table[i];
        // The table's name field is always terminated within its 100 bytes.
        out.push_back(FxLayerEntry{e.id, qntRECT_s{e.left, e.top, e.right, e.bottom},
                                   std::string(e.name, strnlen(e.name, sizeof e.name))});
    }
    return out;
}

bool CFxPluginLink::FxGetLayerChannels(int32_t id, FxLayerChannels& out)
{
    out = FxLayerChannels{};
    const ChannelDescription* colour = nullptr;
    const ChannelDescription* transparency = nullptr;
    m_plugin.PS_GetLayerChannels(id, colour, transparency);
    const ChannelPortsSuite* suite = m_plugin.GetChannelPortsSuite();
    if (!colour || !suite)
        return false;
    out.allPorts = true;
    for (const ChannelDescription* c = colour; c; c = c->next) {
        ++out.colour;
        if (out.colour <= 4 && !c->port)
            out.allPorts = false;
        if (out.colour == 255)
            break;
    }
    uint8_t canRead = 1;
    out.readable = colour->port && (!suite->CanRead || suite->CanRead(colour->port, &canRead) != 0 || canRead != 0);
    out.transparency = transparency && transparency->port;
    out.firstBounds = qntRECT_s{colour->bounds.left, colour->bounds.top, colour->bounds.right, colour->bounds.bottom};
    return true;
}

bool CFxPluginLink::FxReadLayerScaled(int32_t id, uint8_t k, qntRECT_s source, int32_t w, int32_t h, uint8_t* out)
{
    const ChannelDescription* colour = nullptr;
    const ChannelDescription* transparency = nullptr;
    m_plugin.PS_GetLayerChannels(id, colour, transparency);
    const ChannelPortsSuite* suite = m_plugin.GetChannelPortsSuite();
    const ChannelDescription* ch = k == kTransparency ? transparency : colour;
    for (uint8_t i = 0; ch && k != kTransparency && i < k; ++i)
        ch = ch->next;
    if (!ch || !ch->port || !suite || !suite->ReadScaledPixels || w <= 0 || h <= 0 || !out)
        return false;
    const FilterRect32 whole{0, 0, h, w};
    const ScalingDesc scaling{Rect32(source), whole};
    const PixelMemoryDesc desc{out, w * 8, 8, 0, 8};
    return suite->ReadScaledPixels(ch->port, &whole, &scaling, &desc) == 0;
}

qntPOS CFxPluginLink::FxFilterOrigin()
{
    const qntRECT_s& r = m_plugin.GetPluginDataPtr()->filterRect;
    return qntPOS{r.left, r.top};
}

qntPOS CFxPluginLink::FxLayersPosition()
{
    return m_plugin.WindowPosFromConf("Layers", "IOVR", qntSIZE_s{-32000, -32000}, 1);
}

void CFxPluginLink::FxStoreLayersPosition(qntPOS position)
{
    m_plugin.PutWindowPosToConf("Layers", "IOVR", position);
}

bool CFxPluginLink::FxReadShowFiltered(uint8_t& value)
{
    CQNF_Storage* conf = m_plugin.ConfStorage_GetStorage();
    return conf && conf->GetRec(CQNF_String(kShowFiltered), value);
}

void CFxPluginLink::FxStoreShowFiltered(uint8_t value)
{
    if (CQNF_Storage* conf = m_plugin.ConfStorage_GetStorage()) {
        conf->AddFolder(CQNF_String("DocLayers Settings"));
        conf->SetRecord(CQNF_String(kShowFiltered), value);
    }
}
