// The main window's display preferences and the Preferences dialog's model,
// without any window.
//
//   CPreferences      the ten values, their defaults and their records under
//                     "Preferences" in "plugin.conf", and the two colour pairs
//                     the main preview takes from them.
//   CPrefDialogModel  what the dialog "Pref" does with a copy of them: the
//                     knife opacity typed in percent, colour picks on the six
//                     swatches, the two radio pairs, fit on load, the live
//                     preview picture, the status-tip zones. OnOk hands the
//                     values back and stores all ten records; nothing is
//                     stored or handed back unless OnOk runs (Cancel, the
//                     close box and Esc simply drop the model).
//
// The turned-off knife opacity is kept on the 0..255 scale and edited in
// whole percent 10..50: percent p is stored as trunc(p * 255 / 100) (25..127)
// and a stored value shows as the rounded percent, with a remainder of exactly
// one half rounding down, so every percent of the range survives the round
// trip and the default 70 shows as 27.
#pragma once

#include "core/Types.h"

#include <cstdint>
#include <string>

class CQNF_Image;
class CQNF_Storage;

struct CPreferences {
    uint8_t onLoadZoom = 1;        // zoom a newly opened image to fit the preview
    uint8_t delKnifeOpacity = 70;  // turned-off knives, 0..255
    uint8_t alphaSolid = 0;        // transparent areas as a solid colour (else checkerboard)
    uint8_t extAlphaSolid = 0;     // the frame around the image as a solid colour
    qntRGBA8 alphaColor1{255, 255, 255, 255};
    qntRGBA8 alphaColor2{192, 192, 192, 255};
    qntRGBA8 alphaColorSolid{255, 255, 255, 255};
    qntRGBA8 extAlphaColor1{204, 204, 204, 255};
    qntRGBA8 extAlphaColor2{200, 200, 200, 255};
    qntRGBA8 extAlphaColorSolid{200, 200, 200, 255};

    static constexpr const char* kFolder = "Preferences";

    // Reads the records present (conf may be null or closed). A missing
    // record, a one-byte value stored as another record type, or a colour
    // record that is not exactly 4 bytes keeps the value held.
    void settings_Load(CQNF_Storage* conf);
    // Adds the folder and writes all ten records, the four one-byte values
    // first, then the six colours as 4-byte binary records (red, green, blue,
    // alpha). False when conf is not open or a write fails.
    bool settings_Save(CQNF_Storage* conf) const;

    // The checkerboard pairs of the main preview: under transparent areas
    // and around the image. A solid choice gives its colour twice, which
    // draws as a plain fill.
    void TransparencyPair(qntRGBA8& a, qntRGBA8& b) const;
    void FramePair(qntRGBA8& a, qntRGBA8& b) const;

    // Percent (clamped into 10..50) to the stored 0..255 value, and a stored
    // value to the percent shown.
    static uint8_t OpacityFromPercent(int64_t percent);
    static uint32_t PercentFromOpacity(uint8_t value);

    bool operator==(const CPreferences& o) const;
};

class CPrefDialogModel {
public:
    // The six swatches, in the order a click tests them.
    enum Swatch : uint8_t { kFCB1 = 0, kFCB2, kFSolid, kTCB1, kTCB2, kTSolid, kSwatchCount, kNoSwatch = 255 };
    // Status-tip zones under the pointer when it is above no control.
    enum Zone : uint8_t { kZonePreview = 0, kZoneSwatchT, kZoneSwatchF, kZoneSwatchTS, kZoneSwatchFS, kNoZone = 255 };

    // The resource rectangles of the window "Pref".
    struct RECTS {
        qntRECT_s preview, tcb1, tcb2, tsolid, fcb1, fcb2, fsolid;
    };

    explicit CPrefDialogModel(const CPreferences& current) : m_Values(current) {}

    const CPreferences& Values() const { return m_Values; }

    // ---- Knife opacity edit ("Pref_DisOpacity")
    // The text the edit shows when the dialog opens.
    std::string OpacityText() const;
    // Typing: the leading whole number, clamped into 10..50 percent, is
    // stored; the text is left as typed.
    void OnEdit(const char* text);
    // Leaving the edit: the same, and the clamped number the edit then shows.
    std::string OnEdit_LF(const char* text);

    // ---- Choices
    void OnFitOnLoad(bool checked) { m_Values.onLoadZoom = checked ? 1 : 0; }
    // The radio pairs as the window reads them after any radio change.
    void OnRadios(bool frameSolid, bool transparencySolid);
    // A colour picked on a swatch: the colour is stored and the swatch's
    // pair switches to the swatch's kind (checkerboard or solid), as the
    // dialog checks that radio button with notification.
    void OnColorPicked(Swatch swatch, qntRGBA8 colour);
    qntRGBA8 SwatchColor(Swatch swatch) const;
    // Which radio button a swatch checks: the frame pair ("Pref_FCB",
    // "Pref_FSolid") or the transparency pair ("Pref_TCB", "Pref_TSolid").
    static const char* SwatchRadio(Swatch swatch);

    // ---- Hit tests (window coordinates, rectangles half-open)
    static Swatch SwatchAt(const RECTS& r, int32_t x, int32_t y);
    static Zone ZoneAt(const RECTS& r, int32_t x, int32_t y);
    static const char* ZoneName(Zone zone);
    // The pointer moved to zone while above no control: true when the
    // status tip must change (another zone than the last one). Above a
    // control the window calls OnAboveAnyControl instead. The last zone
    // belongs to this dialog: every opening starts afresh.
    bool OnPointerZone(Zone zone);
    void OnAboveAnyControl() { m_LastZone = kNoZone; }

    // ---- Preview ("Pref_Preview"): the frame pair as an 8 x 8 checkerboard
    // over the whole layer and, 22 pixels in from each side, the
    // transparency pair. False when the layer has no pixels.
    bool DrawPreview(CQNF_Image& layer) const;

    // ---- OK: the values go back to main; all ten records are written when
    // conf is open. Returns whether the knife opacity changed (the main
    // window then rebuilds its knife overlay in cut mode).
    bool OnOk(CPreferences& main, CQNF_Storage* conf) const;

private:
    qntRGBA8& i_Color(Swatch swatch);

    CPreferences m_Values;
    Zone m_LastZone = kNoZone;
};
