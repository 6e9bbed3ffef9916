// A fake main window for the effect windows: the session's fake (over a
// real engine split) plus what only the windows ask for.
#pragma once

#include "effects/WndFX_Base.h"
#include "fx_fixture.h"
#include "ui/PlatformPopupMenu.h"

#include <map>
#include <string>

namespace fxtest {

class FakeWindowMain : public FakeMain, public CFxWindowLink {
public:
    explicit FakeWindowMain(Puzzle& p) : FakeMain(p) {}
    uint8_t colorMode = 1;
    int entered = 0;
    int forwarded = 0;
    bool pickAnswer = false;
    uint8_t picked[3] = {0, 0, 255};
    std::map<std::string, uint8_t> switches;
    std::map<std::string, std::pair<qntPOS, uint8_t>> stored;

    // CFxMainLink through FakeMain.
    CTessolo& FxEngine() override { return FakeMain::FxEngine(); }
    uint32_t FxCurrentPiece() override { return FakeMain::FxCurrentPiece(); }
    bool FxBusy() override { return FakeMain::FxBusy(); }
    bool FxRerenderPieces(const std::vector<uint32_t>& l, bool i) override { return FakeMain::FxRerenderPieces(l, i); }
    void FxExitMode() override { FakeMain::FxExitMode(); }
    CQNF_RandomSource& FxRandom() override { return FakeMain::FxRandom(); }

    CQNF_Window* FxParentWindow() override { return nullptr; }
    uint8_t FxColorMode() override { return colorMode; }
    void FxCheckerColors(qntRGBA8& a, qntRGBA8& b) override
    {
        a = qntRGBA8{200, 200, 200, 255};
        b = qntRGBA8{255, 255, 255, 255};
    }
    void FxEnterMode() override
    {
        ++entered;
        Enter();
    }
    unsigned char FxForwardShortcut(unsigned short, unsigned long, char*, unsigned char, void*) override
    {
        ++forwarded;
        return 1;
    }
    bool FxPickColor(uint8_t record[8]) override
    {
        if (!pickAnswer)
            return false;
        record[1] = picked[0];
        record[2] = picked[1];
        record[3] = picked[2];
        record[0] = uint8_t((picked[0] + picked[1] + picked[2]) / 3);
        return true;
    }
    bool FxReadSwitch(const char* key, uint8_t& value) override
    {
        auto it = switches.find(key);
        if (it == switches.end())
            return false;
        value = it->second;
        return true;
    }
    qntPOS FxStoredPosition(const char*) override { return qntPOS{-32000, -32000}; }
    void FxStoreOnOk(const char* prefix, qntPOS position, uint8_t live) override { stored[prefix] = {position, live}; }
    void FxFillHelpMenu(CQNF_PlatformPopupMenu& menu) override { menu.AddItem("Help...", 2, 0, 0, nullptr); }
    unsigned char FxHelpChosen(unsigned short, CQNF_Window*) override { return 1; }
};

}  // namespace fxtest
