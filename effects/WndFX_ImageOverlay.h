// CWndFX_ImageOverlay: the image overlay effect window. The listed pieces
// are overlaid, at a graded opacity, with a layer of the host document at the
// pieces' place: a layer chosen per piece by the engine (automatic), or one
// picked for all of them in the document layers list (manual). Its sample is
// a fixed overlay picture over the sample picture at the edited opacity.
#pragma once

#include "effects/FxLayers.h"
#include "effects/WndFX_Graded.h"

class CQNF_CtrlStaticText;

class CWndFX_ImageOverlay : public CWndFX_Graded {
public:
    // The choose menu's items.
    static constexpr unsigned short kItemAuto = 32, kItemLayers = 33;

    explicit CWndFX_ImageOverlay(CFxWindowLink& link);
    unsigned char OnCreate(CQNF_LayerSet* set, unsigned short width, unsigned short height) override;
    unsigned char OnCtrlMessage(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                void* data) override;
    CFxImageOverlayModel& Model() { return m_model; }
    // The area the chosen layer must cover, in document coordinates.
    qntRECT_s PiecesRect() const { return m_piecesRect; }
    const char* CurrentChoiceText() const;
    // Runs the document layers list and takes the layer picked there.
    void DoLayersWindow();

protected:
    void Init() override;
    void LoadValues() override;
    void UpdatePreview() override;
    unsigned char OnOwnMessage(unsigned short msg, CQNF_Control* c, void* data) override;

private:
    void UpdateDisplay();

    CFxImageOverlayModel m_model;
    CFxParam m_opacity;
    CFxHostLayers* m_layers = nullptr;
    CQNF_Control* m_choose = nullptr;
    CQNF_CtrlStaticImage* m_object2 = nullptr;
    CQNF_CtrlStaticText* m_current = nullptr;
    qntRECT_s m_piecesRect = qnNullRect;
};
