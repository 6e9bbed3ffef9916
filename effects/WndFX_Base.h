// CWndFX_Base: the common frame of the effect windows. A modeless child of
// the main window, built from the window resource "FX" + effect id. It owns
// what every effect window shares: the buttons (OK, Cancel, close box,
// Reset, Help, Main Preview), the direction pad and the random button of
// automatic adjustment, the live-preview and auto-adjust check boxes, the
// status line with its fade, the sample (a picture from the resources, over
// a checkerboard, filtered by the effect on every change) and the timers
// that drive the effect session (effects/FxSession.h). Each effect window
// adds its own controls and binds its model.
//
// The main window reaches these windows only through CFxWindowLink and
// FxOpenWindow below.
#pragma once

#include "effects/FxSession.h"
#include "imaging/ImageFX.h"
#include "imaging/Layer.h"
#include "ui/StatusFader.h"
#include "ui/Window.h"

#include <cstdint>
#include <memory>

class CQNF_CtrlButton;
class CQNF_CtrlStaticImage;
class CQNF_CtrlStaticText;
class CQNF_CtrlEditLine;
class CQNF_PlatformPopupMenu;
class CFxHostLayers;

// What the effect windows need of the main window beyond the session's.
class CFxWindowLink : public CFxMainLink {
public:
    // The window the effect window is a child of.
    virtual CQNF_Window* FxParentWindow() = 0;
    // Colour mode of the host image: 0 Grayscale, 1 RGB, 2 CMYK.
    virtual uint8_t FxColorMode() = 0;
    // The two colours of the main window's transparency checkerboard (the
    // solid colour twice when it shows transparency solid).
    virtual void FxCheckerColors(qntRGBA8& first, qntRGBA8& second) = 0;
    // Takes the piece undo snapshot (entering effect mode): called once the
    // window exists, before it is shown.
    virtual void FxEnterMode() = 0;
    // A view shortcut (zoom, extras) passed on to the main window.
    virtual unsigned char FxForwardShortcut(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                            void* data) = 0;
    // The host's colour picker on a colour record (bytes 1-3 the start
    // colour); false, the record unchanged, when cancelled.
    virtual bool FxPickColor(uint8_t record[8]) = 0;
    // Configuration: a one-byte record (false when missing or the storage is
    // not open), the window position under (prefix, "MAIN") (-32000 when
    // none), and what OK stores.
    virtual bool FxReadSwitch(const char* key, uint8_t& value) = 0;
    virtual qntPOS FxStoredPosition(const char* prefix) = 0;
    virtual void FxStoreOnOk(const char* prefix, qntPOS position, uint8_t livePreview) = 0;
    // The help pop-up and its choice.
    virtual void FxFillHelpMenu(CQNF_PlatformPopupMenu& menu) = 0;
    virtual unsigned char FxHelpChosen(unsigned short item, CQNF_Window* window) = 0;
    // The host document's layers (image overlay); null when not offered.
    virtual CFxHostLayers* FxHostLayers() { return nullptr; }
};

class CWndFX_Base : public CQNF_Window, public CFxTimers {
public:
    ~CWndFX_Base() override;

    void Close() override;
    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    unsigned char OnTimer(unsigned short id) override;
    unsigned char OnKeyDown(unsigned char key, unsigned char mods) override;
    unsigned char OnAboveControl(unsigned long index) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    void OnCtrlLostFocus(unsigned long index) override;

    // The effect's short id and its window prefix ("FX" + id).
    const char* Prefix() const { return m_prefix.GetStr(); }
    CFxSession& Session() { return *m_session; }
    uint8_t IsCreated() const { return m_created; }
    const char* StatusText() const;

    // CFxTimers: the session's timers are this window's.
    void FxStartTimer(uint16_t id, uint32_t ms) override { SetTimer(ms, id); }
    void FxStopTimer(uint16_t id) override { KillTimer(id); }

protected:
    CWndFX_Base(CFxWindowLink& link, const FxKind& kind);
    void Bind(CFxSession& session) { m_session = &session; }

    // ---- what each effect window provides ----------------------------------
    // Loads value 1 and value 2 and sets the controls (also Reset).
    virtual void Init() = 0;
    // Filters the sample with the edited value.
    virtual void UpdatePreview() = 0;
    // Shows the controls of the edited value after a mode switch.
    virtual void OnChangeMode(uint8_t) {}
    // Automatic adjustment switched: the base enables the direction pad.
    virtual void EnableAutoAdjustments(bool on);
    // The common check boxes and the direction pad: the auto-adjust box,
    // the live-preview box and a direction (the random button gives
    // FxDirection::Random).
    void OnAutoAdjustments(bool on);
    void OnMainPreview(bool on);
    void OnChangeAAMode(FxDirection mode);
    // The effect's own focus-loss clamps.
    virtual void OnEditLostFocus(CQNF_Control*) {}

    // ---- shared helpers ----------------------------------------------------
    // The last steps of every effect window's creation: automatic
    // adjustment off, messages from here on, the first values. The first
    // change waits for the main window's undo snapshot.
    unsigned char FinishCreate();
    // The named control of a kind ("_Ok" etc. are prefixed), or null.
    CQNF_Control* Add(const char* name, uint8_t kind);
    CQNF_Control* AddOwn(const char* suffix, uint8_t kind);
    CQNF_CtrlEditLine* AddEdit(const char* name, bool negatives);
    bool AddBand(const char* rectName, CQNF_Layer& band, qntRECT_s& rect, qntRGBA8 colour);
    void DrawBand(CQNF_Layer& band, const qntRECT_s& rect, uint32_t from, uint32_t to);
    void SetMode(uint8_t mode);
    void ChangeMode(uint8_t mode)
    {
        if (mode != m_session->Mode())
            SetMode(mode);
    }
    void Changes(uint16_t delay) { m_session->Changes(delay); }
    void RedrawPreview();
    // Composites the layers again in rect and shows it.
    void Refresh(qntRECT_s rect)
    {
        RenderRect(rect);
        UpdateRect(rect);
    }
    void UpdateStatus(const char* text);
    void EnableModalityButtons(bool on);
    void ResetAADirection();
    bool AutoAdjustChecked() const;
    void SetAutoAdjust(bool on, bool notify);
    // The sample filter, bound to the sample picture and the sample layer.
    CQNF_ImageFX& SampleFilter() { return m_sampleFX; }
    CQNF_CtrlStaticImage* SampleObject() { return m_object; }
    CQNF_Layer& SampleLayer() { return m_sampleLayer; }
    void SetEditText(CQNF_CtrlEditLine* edit, int32_t value, bool notify);
    static void ShowLayer(CQNF_Layer& layer, bool on) { layer.SetVisible(on ? 1 : 0); }

    CFxWindowLink& m_link;
    uint8_t m_colorMode = 1;
    uint8_t m_okFlag = 0;
    uint8_t m_created = 0;
    unsigned long m_editFont = None;
    unsigned long m_infoFont = None;

private:
    bool i_CreateSample();
    void i_StatusFade();

    CQNF_String m_prefix;
    CFxSession* m_session = nullptr;
    qntRGBA8 m_checker1{}, m_checker2{};
    qntRECT_s m_previewRect{};
    CQNF_Layer m_background;
    CQNF_Layer m_sampleLayer;
    CQNF_ImageFX m_sampleFX;
    CQNF_CtrlButton* m_ok = nullptr;
    CQNF_CtrlButton* m_cancel = nullptr;
    CQNF_CtrlButton* m_closeX = nullptr;
    CQNF_CtrlButton* m_previewButton = nullptr;
    CQNF_CtrlButton* m_random = nullptr;
    CQNF_CtrlButton* m_radios[8] = {};
    CQNF_Control* m_previewCheck = nullptr;
    CQNF_Control* m_autoCheck = nullptr;
    CQNF_CtrlStaticImage* m_object = nullptr;
    CQNF_CtrlStaticImage* m_frame = nullptr;
    CQNF_CtrlStaticText* m_status = nullptr;
    CStatusFader m_fader;
};

// The effect windows the main window opens in piece mode.
enum class FxWindowKind : uint8_t {
    BrightnessContrast,
    Blur,
    Opacity,
    Bevel,
    MotionBlur,
    ColorOverlay,
    Stroke,
    HSL,
    ImageOverlay,
};

// Opens one effect window as the main window's effect buttons and menus do:
// the window held before is deleted, the new one built from its resource at
// its stored position (centred when none) as a child of the main window;
// only when that succeeds effect mode is entered (the undo snapshot) and the
// window drawn and shown. False when the window cannot be made (no pieces,
// a missing resource, or hue-saturation in a document that is not RGB, the
// one mode that effect renders in); nothing then changes in the main window.
bool FxOpenWindow(FxWindowKind kind, CFxWindowLink& link, std::unique_ptr<CWndFX_Base>& held);
