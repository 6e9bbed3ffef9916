// The part of CFxWindowLink that the plug-in object answers: the engine, the
// image's colour mode, the host's colour picker and the configuration
// ("FX<id>_MainPreview" at the storage's root, window positions under
// (prefix, "MAIN")). The main window derives from it and adds what only it
// knows: the busy flag, the current piece, re-rendering, effect mode, the
// checkerboard colours, shortcuts, help and the random source.
#pragma once

#include "effects/WndFX_Base.h"

class CPluginMain;

class CFxPluginLink : public CFxWindowLink {
public:
    explicit CFxPluginLink(CPluginMain& plugin) : m_plugin(plugin) {}

    CTessolo& FxEngine() override;
    uint8_t FxColorMode() override;
    bool FxPickColor(uint8_t record[8]) override;
    bool FxReadSwitch(const char* key, uint8_t& value) override;
    qntPOS FxStoredPosition(const char* prefix) override;
    void FxStoreOnOk(const char* prefix, qntPOS position, uint8_t livePreview) override;

private:
    CPluginMain& m_plugin;
};
