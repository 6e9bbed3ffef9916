// The host document's layers as the image overlay effect offers them: the
// layer table, which layers cover the area the overlay must fill, the rows of
// the layers list and the list's scaled preview of one layer. The host comes
// in through CFxHostLayers, so all of it runs without a window or a host in
// tests.
#pragma once

#include "core/Types.h"
#include "effects/FxSession.h"

#include <cstdint>
#include <string>
#include <vector>

class CQNF_Image;
class CQNF_PlatformPopupMenu;
class CQNF_Window;

// One layer of the host's table; the composite comes last with id -1.
struct FxLayerEntry {
    int32_t id = -1;
    qntRECT_s bounds{};  // its non-transparent pixels, document coordinates; null when none
    std::string name;
};

// The channels of one layer as the host describes them.
struct FxLayerChannels {
    uint8_t colour = 0;        // colour channels, in the host's order
    bool allPorts = false;     // every colour channel (up to four) can be read from
    bool readable = false;     // the host lets the first colour channel be read
    bool transparency = false; // a transparency channel with a port
    qntRECT_s firstBounds{};   // bounds of the first colour channel
};

// How the main window shows transparency: inside the image and around it,
// each a solid colour or a checkerboard of two colours.
struct FxAlphaDisplay {
    bool solid = false;
    qntRGBA8 solidColour{255, 255, 255, 255}, colour1{255, 255, 255, 255}, colour2{192, 192, 192, 255};
    bool extSolid = false;
    qntRGBA8 extSolidColour{200, 200, 200, 255}, extColour1{204, 204, 204, 255}, extColour2{200, 200, 200, 255};
};

// What the layers list and the image overlay window need of the host and of
// the main window.
class CFxHostLayers {
public:
    virtual ~CFxHostLayers() = default;
    // Builds the host's layer table once (kept afterwards); false when the
    // host offers no layers.
    virtual bool FxFillLayerTable() = 0;
    virtual std::vector<FxLayerEntry> FxLayerTable() = 0;
    // The channels of a layer (-1 the composite); false when there is none.
    virtual bool FxGetLayerChannels(int32_t id, FxLayerChannels& out) = 0;
    // Reads one channel of a layer (colour channel k, or its transparency
    // when k is kTransparency) from source scaled onto w x h bytes, row
    // stride w.
    static constexpr uint8_t kTransparency = 0xFF;
    virtual bool FxReadLayerScaled(int32_t id, uint8_t k, qntRECT_s source, int32_t w, int32_t h, uint8_t* out) = 0;
    // Left and top of the filter rectangle in the document.
    virtual qntPOS FxFilterOrigin() = 0;
    virtual FxAlphaDisplay FxTransparencyDisplay() = 0;
    // The layers list's status tip for a control or zone.
    virtual const char* FxLayersTip(const char* name, bool enabled, uint8_t kind) = 0;
    // Configuration: the list's position under ("Layers", "IOVR") (-32000
    // when none) and its show-filtered switch; stored on OK only.
    virtual qntPOS FxLayersPosition() = 0;
    virtual void FxStoreLayersPosition(qntPOS position) = 0;
    virtual bool FxReadShowFiltered(uint8_t& value) = 0;
    virtual void FxStoreShowFiltered(uint8_t value) = 0;
    virtual void FxFillLayersHelpMenu(CQNF_PlatformPopupMenu& menu) = 0;
    virtual unsigned char FxLayersHelpChosen(unsigned short item, CQNF_Window* window) = 0;
};

// The list's choice: the table, the area to cover, the preselected or chosen
// layer id (kNone for none) and whether layers that do not cover are hidden.
class CFxLayersListModel {
public:
    static constexpr int32_t kNone = -2;
    struct Row {
        std::string text;
        uint32_t index;  // into the table
    };

    std::vector<FxLayerEntry> table;
    qntRECT_s target = qnNullRect;
    int32_t chosen = kNone;
    uint8_t showFiltered = 1;

    // Whether entry index's non-transparent bounds hold the whole target.
    bool i_IsLayerAcceptable(uint32_t index) const;
    // The rows, the composite first and the layers top down, "+" marking
    // those that cover; only those when filtered. select: the row of the
    // chosen layer, else 0 with chosen reset to none; -1 with no rows.
    std::vector<Row> Rows(int32_t& select);

    // Draws entry index over the preview (four planes, PW x PH): covering
    // layers show the target area, others their whole bounds with the target
    // marked in marker. Returns whether OK may be pressed and sets chosen.
    // A layer that cannot be read, or has an unusable channel count, draws
    // black and disables OK.
    bool DrawPreview(uint32_t index, CFxHostLayers& host, const FxAlphaDisplay& display, CQNF_Image& preview,
                     CQNF_Image& marker);
    // Where the target lies in a preview of the whole source rectangle:
    // the marker's inner rectangle (before clipping), in preview pixels.
    static qntRECT_s MarkerRect(const qntRECT_s& target, const qntRECT_s& source, int32_t dw, int32_t dh,
                                int32_t ox, int32_t oy);
    // dw x dh of a w x h source fitted into PW x PH.
    static void ScaledSize(int32_t w, int32_t h, int32_t pw, int32_t ph, int32_t& dw, int32_t& dh);

private:
    bool i_Black(CQNF_Image& preview);
};

// The image overlay effect: one opacity, graded between value 1 and value 2,
// and the layer choice of value 1 that every listed piece gets.
class CFxImageOverlayModel : public CFxSession {
public:
    using Block = CTessolo::SFX_IMAGEOVERLAY;
    CFxImageOverlayModel(CFxMainLink& link, CFxTimers& timers);
    void LoadInitialValues();
    Block SampleBlock() const { return Mode() ? value2 : value1; }
    // The union of the listed pieces' rectangles moved into the document by
    // origin; null when it has no area.
    qntRECT_s PiecesRect(qntPOS origin);
    // A layer picked in the list (manual) or automatic choice; the stored
    // layer id stays when switching to automatic.
    void ChooseLayer(int32_t id);
    void ChooseAutomatic();
    // The id the list is opened with: the manual layer, else none.
    int32_t PreselectedLayer() const;

    Block value1{}, value2{};

protected:
    void FillPlain(uint8_t* out) override;
    void FillGraded(double t, const uint8_t* backup, uint8_t* out) override;
};

namespace fxkind {
extern const FxKind kImageOverlay;  // "iovr"
}
