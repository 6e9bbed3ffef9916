#include "effects/WndFX_ImageOverlay.h"
#include "effects/WndFX_Windows.h"

bool FxOpenWindow(FxWindowKind kind, CFxWindowLink& link, std::unique_ptr<CWndFX_Base>& held)
{
    if (kind == FxWindowKind::HSL && link.FxColorMode() != 1)
        return false;
    // The main window holds one effect window at a time.
    held.reset();
    std::unique_ptr<CWndFX_Base> w;
    switch (kind) {
    case FxWindowKind::BrightnessContrast: w = std::make_unique<CWndFX_BC>(link); break;
    case FxWindowKind::Blur: w = std::make_unique<CWndFX_Blur>(link); break;
    case FxWindowKind::Opacity: w = std::make_unique<CWndFX_Opacity>(link); break;
    case FxWindowKind::Bevel: w = std::make_unique<CWndFX_Bevel>(link); break;
    case FxWindowKind::MotionBlur: w = std::make_unique<CWndFX_MBlur>(link); break;
    case FxWindowKind::ColorOverlay: w = std::make_unique<CWndFX_ColorOverlay>(link); break;
    case FxWindowKind::Stroke: w = std::make_unique<CWndFX_Stroke>(link); break;
    case FxWindowKind::HSL: w = std::make_unique<CWndFX_HSL>(link); break;
    case FxWindowKind::ImageOverlay: w = std::make_unique<CWndFX_ImageOverlay>(link); break;
    }
    const qntPOS at = link.FxStoredPosition(w->Prefix());
    const bool made = w->CreateFromResource(CQNF_String(w->Prefix()), short(at.x), short(at.y), link.FxParentWindow(), 0);
    if (made) {
        link.FxEnterMode();
        w->RenderRect(qnNullRect);
        w->Show();
    }
    held = std::move(w);
    return made;
}
