#include "effects/FxPluginLink.h"

#include "core/Storage.h"
#include "host/PluginMain.h"

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
