// The part of CFxWindowLink that the plug-in object answers: the engine, the
// image's colour mode, the host's colour picker and the configuration
// ("FX<id>_MainPreview" at the storage's root, window positions under
// (prefix, "MAIN")), and the host document's layers for the image overlay.
// The main window derives from it and adds what only it knows: the busy flag,
// the current piece, re-rendering, effect mode, the checkerboard colours,
// shortcuts, help, the transparency display and the random source.
#pragma once

#include "effects/FxLayers.h"
#include "effects/WndFX_Base.h"

class CPluginMain;

class CFxPluginLink : public CFxWindowLink, public CFxHostLayers {
public:
    explicit CFxPluginLink(CPluginMain& plugin) : m_plugin(plugin) {}

    CTessolo& FxEngine() override;
    uint8_t FxColorMode() override;
    bool FxPickColor(uint8_t record[8]) override;
    bool FxReadSwitch(const char* key, uint8_t& value) override;
    qntPOS FxStoredPosition(const char* prefix) override;
    void FxStoreOnOk(const char* prefix, qntPOS position, uint8_t livePreview) override;

    // The host's layers.
    CFxHostLayers* FxHostLayers() override { return this; }
    bool FxFillLayerTable() override;
    std::vector<FxLayerEntry> FxLayerTable() override;
    bool FxGetLayerChannels(int32_t id, FxLayerChannels& out) override;
    bool FxReadLayerScaled(int32_t id, uint8_t k, qntRECT_s source, int32_t w, int32_t h, uint8_t* out) override;
    qntPOS FxFilterOrigin() override;
    qntPOS FxLayersPosition() override;
    void FxStoreLayersPosition(qntPOS position) override;
    bool FxReadShowFiltered(uint8_t& value) override;
    void FxStoreShowFiltered(uint8_t value) override;

private:
    CPluginMain& m_plugin;
};
