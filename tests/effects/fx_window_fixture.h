// A fake main window for the effect windows: the session's fake (over a
// real engine split) plus what only the windows ask for.
#pragma once

#include "effects/FxLayers.h"
#include "effects/WndFX_Base.h"
#include "engine/TessoloServices.h"
#include "fx_fixture.h"
#include "platform/Headless.h"
#include "ui/App.h"
#include "ui/Control.h"
#include "ui/HeadlessPicture.h"
#include "ui/KeyCodes.h"
#include "ui/PlatformPopupMenu.h"
#include "ui/Toolkit.h"

#include <cstdlib>
#include <filesystem>

#include <algorithm>
#include <functional>
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
    CFxHostLayers* layers = nullptr;
    CFxHostLayers* FxHostLayers() override { return layers; }
};

// A host document of layers over a canvas, each layer's channels as large as
// the canvas: its colour planes and, when it has one, its transparency.
// Scaled reads take the nearest source pixel.
class FakeLayers : public CFxHostLayers, public CTessoloServices {
public:
    struct Layer {
        int32_t id;
        std::string name;
        std::vector<std::vector<uint8_t>> colour;  // canvas-sized planes
        std::vector<uint8_t> alpha;                // empty: none
        bool readable = true;
    };
    int32_t width, height;
    std::vector<Layer> layers;  // bottom first; the composite is built last
    bool tableFails = false;
    qntPOS origin{0, 0};
    FxAlphaDisplay display;
    bool haveShowFiltered = false;
    uint8_t showFiltered = 1;
    int showFilteredStores = 0, positionStores = 0;

    FakeLayers(int32_t w, int32_t h) : width(w), height(h)
    {
        display.solid = display.extSolid = true;
        display.solidColour = qntRGBA8{0, 0, 0, 255};
        display.extSolidColour = qntRGBA8{0, 0, 0, 255};
    }
    // A layer of n colour channels of value(x, y, k), opaque inside box only
    // (without transparency when box is null).
    Layer& Add(int32_t id, const char* name, uint8_t n, qntRECT_s box,
               std::function<uint8_t(int32_t, int32_t, int)> value)
    {
        Layer l{id, name, {}, {}};
        for (int k = 0; k < n; ++k) {
            l.colour.emplace_back(size_t(width) * height);
            for (int32_t y = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x)
                    l.colour.back()[size_t(y) * width + x] = value(x, y, k);
        }
        if (!qnIsNullRect(box)) {
            l.alpha.assign(size_t(width) * height, 0);
            for (int32_t y = box.top; y < box.bottom; ++y)
                for (int32_t x = box.left; x < box.right; ++x)
                    l.alpha[size_t(y) * width + x] = 255;
        }
        layers.push_back(std::move(l));
        return layers.back();
    }
    const Layer* Find(int32_t id) const
    {
        for (const Layer& l : layers)
            if (l.id == id)
                return &l;
        return id == -1 && !layers.empty() ? &layers.front() : nullptr;
    }
    static qntRECT_s Opaque(const Layer& l, int32_t w, int32_t h)
    {
        if (l.alpha.empty())
            return qntRECT_s{0, 0, w, h};
        qntRECT_s r{w, h, -1, -1};
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                if (l.alpha[size_t(y) * w + x])
                    r = qntRECT_s{std::min(r.left, x), std::min(r.top, y), std::max(r.right, x + 1),
                                  std::max(r.bottom, y + 1)};
        return r.right < 0 ? qnNullRect : r;
    }

    bool FxFillLayerTable() override { return !tableFails; }
    std::vector<FxLayerEntry> FxLayerTable() override
    {
        std::vector<FxLayerEntry> t;
        for (const Layer& l : layers)
            t.push_back(FxLayerEntry{l.id, Opaque(l, width, height), l.name});
        // The composite here is the bottom layer's pixels over the canvas.
        t.push_back(FxLayerEntry{-1, qntRECT_s{0, 0, width, height}, "--COMPOSITE--"});
        return t;
    }
    bool FxGetLayerChannels(int32_t id, FxLayerChannels& out) override
    {
        const Layer* l = Find(id);
        if (!l)
            return false;
        out.colour = uint8_t(l->colour.size());
        out.allPorts = true;
        out.readable = l->readable;
        out.transparency = id != -1 && !l->alpha.empty();
        out.firstBounds = qntRECT_s{0, 0, width, height};
        return true;
    }
    bool FxReadLayerScaled(int32_t id, uint8_t k, qntRECT_s s, int32_t w, int32_t h, uint8_t* out) override
    {
        const Layer* l = Find(id);
        if (!l || (k != kTransparency && k >= l->colour.size()) || s.left < 0 || s.top < 0 || s.right > width ||
            s.bottom > height)
            return false;
        const std::vector<uint8_t>& p = k == kTransparency ? l->alpha : l->colour[k];
        const int64_t sw = s.right - s.left, sh = s.bottom - s.top;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                out[size_t(y) * w + x] =
                    p[size_t(s.top + y * sh / h) * width + size_t(s.left + x * sw / w)];
        return true;
    }
    qntPOS FxFilterOrigin() override { return origin; }
    FxAlphaDisplay FxTransparencyDisplay() override { return display; }
    const char* FxLayersTip(const char* name, bool, uint8_t) override
    {
        return *name ? "over a control" : "\nReady...";
    }
    qntPOS FxLayersPosition() override { return qntPOS{-32000, -32000}; }
    void FxStoreLayersPosition(qntPOS) override { ++positionStores; }
    bool FxReadShowFiltered(uint8_t& v) override
    {
        v = showFiltered;
        return haveShowFiltered;
    }
    void FxStoreShowFiltered(uint8_t v) override
    {
        showFiltered = v;
        haveShowFiltered = true;
        ++showFilteredStores;
    }
    void FxFillLayersHelpMenu(CQNF_PlatformPopupMenu& menu) override { menu.AddItem("Help...", 2, 0, 0, nullptr); }
    unsigned char FxLayersHelpChosen(unsigned short, CQNF_Window*) override { return 1; }

    // The same document as the engine reads it for the overlay.
    std::vector<LAYERBOUNDS> bounds;
    void PlatformMessageBox(const char*, const char*) override {}
    bool HasDocumentLayers() override { return true; }
    qntPOS GetFilterOrigin() override { return origin; }
    bool FillRealLayerBounds(const qntRECT_s&, const LAYERBOUNDS*& table, uint32_t& count) override
    {
        bounds.clear();
        for (const FxLayerEntry& e : FxLayerTable())
            bounds.push_back(LAYERBOUNDS{e.id, e.bounds});
        table = bounds.data();
        count = uint32_t(bounds.size());
        return true;
    }
    bool GetLayerPixels(int32_t id, uint8_t** planes, int32_t w, int32_t h, uint8_t count,
                        const qntRECT_s& box) override
    {
        const Layer* l = Find(id);
        if (!l || count != l->colour.size() + 1)
            return false;
        for (uint8_t k = 0; k < count; ++k)
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x) {
                    const size_t at = size_t(box.top + y) * width + size_t(box.left + x);
                    planes[k][size_t(y) * w + x] =
                        k + 1u < count ? l->colour[k][at] : l->alpha.empty() ? 255 : l->alpha[at];
                }
        return true;
    }
};

inline const std::string kResourceFile = std::string(TESSOLO_BINARY_DIR) + "/resource_ts31_d.qns4";

// The toolkit on the headless platform with the shipped resources.
struct Desk {
    plat::HeadlessPlatform hp;
    CQNF_App app;
    qnui::Toolkit& tk = qnui::Toolkit::Get();
    bool ready = false;

    Desk()
    {
        hp.SetScreens({{0, 0, 1000, 800}});
        tk.Attach(&hp);
        m_App = &app;
        ready = std::filesystem::exists(kResourceFile) && app.InitStorgaeResource(kResourceFile.c_str(), 0);
    }
    ~Desk()
    {
        m_App = nullptr;
        tk.Attach(nullptr);
    }
    // Window-local point to the pointer, then a click or a drag.
    void At(CQNF_Window& w, int32_t x, int32_t y)
    {
        const qntRECT_s r = w.GetWindowRect();
        hp.MoveMouse({r.left + x, r.top + y});
        tk.PumpFor(5);
    }
    void Key(CQNF_Window* w, uint8_t vkey)
    {
        hp.Activate(w->GetWindowHandle());
        tk.PumpFor(5);
        hp.Key(vkey, vkey == qnkey::vk::Return ? 13 : 27);
    }
    void Snap(const char* name)
    {
        const char* folder = std::getenv("TESSOLO_FX_SNAP");
        if (!folder)
            return;
        std::string error;
        EXPECT_TRUE(qnui::SaveDesktopPNG(hp, std::string(folder) + "/" + name + ".png", error)) << error;
    }
};

#define REQUIRE_DESK(d)                                        \
    if (!(d).ready) {                                          \
        FAIL() << "no compiled resource file in this build"; \
    }

inline CQNF_Control* Find(CQNF_Window& w, const char* name, uint8_t kind)
{
    for (unsigned long i = 0; i < w.GetControlCount(); ++i)
        if (w.GetControl(i)->GetType() == kind && std::string(w.GetControl(i)->GetName()) == name)
            return w.GetControl(i);
    return nullptr;
}


}  // namespace fxtest
