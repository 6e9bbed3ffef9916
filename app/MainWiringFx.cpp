// The effect windows of piece mode, opened from the main window's effect
// buttons, menus and shortcuts. One is open at a time; while it is, the
// window is in effect mode and everything done in it is one undo step.
#include "app/App.h"
#include "app/MainWiring.h"
#include "app/Wnd_Main.h"
#include "effects/WndFX_Base.h"
#include "ui/App.h"

namespace {

// The effect windows there are, by effect bit; the other effects have none.
bool WindowOfBit(uint8_t bit, FxWindowKind& kind)
{
    switch (bit) {
    case CPieceMap::FX_BLUR: kind = FxWindowKind::Blur; return true;
    case CPieceMap::FX_BEVEL: kind = FxWindowKind::Bevel; return true;
    case CPieceMap::FX_BRIGHTCONTRAST: kind = FxWindowKind::BrightnessContrast; return true;
    case CPieceMap::FX_MOTIONBLUR: kind = FxWindowKind::MotionBlur; return true;
    case CPieceMap::FX_OPACITY: kind = FxWindowKind::Opacity; return true;
    case CPieceMap::FX_COLOROVERLAY: kind = FxWindowKind::ColorOverlay; return true;
    case CPieceMap::FX_STROKE: kind = FxWindowKind::Stroke; return true;
    case CPieceMap::FX_HSL: kind = FxWindowKind::HSL; return true;
    case CPieceMap::FX_IMAGEOVERLAY: kind = FxWindowKind::ImageOverlay; return true;
    default: return false;
    }
}

}  // namespace

void CWnd_Main::pmfx_DoEffect(uint8_t bit)
{
    FxWindowKind kind{};
    if (!WindowOfBit(bit, kind) || m_bCutMode || m_bFXMode || !m_pPlugin || !pm_IsBound() || pm_IsRendering() ||
        !GetWindowHandle())
        return;
    if (!m_pFxLink)
        m_pFxLink = std::make_unique<CMainFxLink>(*this, *m_pPlugin);
    FxOpenWindow(kind, *m_pFxLink, m_pFXWnd);
}

bool CWnd_Main::pm_HasFXWindow() const { return m_pFXWnd && m_pFXWnd->GetWindowHandle(); }

void CWnd_Main::pm_DeleteFXWindow()
{
    // A window still open ends as with Cancel, so effect mode ends with it.
    if (pm_HasFXWindow())
        m_pFXWnd->Close();
    if (!pm_HasFXWindow())
        m_pFXWnd.reset();
}

// ---- What the effect windows ask of the main window ---------------------------------

uint32_t CMainFxLink::FxCurrentPiece() { return m_w.m_nCurrentPiece; }
bool CMainFxLink::FxBusy() { return m_w.pm_IsRendering(); }

bool CMainFxLink::FxRerenderPieces(const std::vector<uint32_t>& pieces, bool interruptible)
{
    return m_w.pmop_RerenderPieces(pieces, 1, interruptible ? 1 : 0) != 0;
}

void CMainFxLink::FxExitMode() { m_w.ExitFXMode(); }
void CMainFxLink::FxEnterMode() { m_w.EnterFXMode(); }
CQNF_Window* CMainFxLink::FxParentWindow() { return &m_w; }

void CMainFxLink::FxCheckerColors(qntRGBA8& first, qntRGBA8& second)
{
    first = m_w.GetPreview().m_inner1;
    second = m_w.GetPreview().m_inner2;
}

unsigned char CMainFxLink::FxForwardShortcut(unsigned short msg, unsigned long id, char* name, unsigned char type,
                                             void* data)
{
    return m_w.OnCtrlMessage(msg, id, name, type, data);
}

void CMainFxLink::FxFillHelpMenu(CQNF_PlatformPopupMenu& menu)
{
    if (auto* app = dynamic_cast<CApp*>(m_App))
        app->FillHelpMenu(&menu, 0);
}

unsigned char CMainFxLink::FxHelpChosen(unsigned short item, CQNF_Window* window)
{
    auto* app = dynamic_cast<CApp*>(m_App);
    return app ? app->HelpMenuDispatcher(item, window) : 0;
}

FxAlphaDisplay CMainFxLink::FxTransparencyDisplay()
{
    const CPreferences& p = m_w.m_Prefs;
    FxAlphaDisplay d;
    d.solid = p.alphaSolid != 0;
    d.solidColour = p.alphaColorSolid;
    d.colour1 = p.alphaColor1;
    d.colour2 = p.alphaColor2;
    d.extSolid = p.extAlphaSolid != 0;
    d.extSolidColour = p.extAlphaColorSolid;
    d.extColour1 = p.extAlphaColor1;
    d.extColour2 = p.extAlphaColor2;
    return d;
}

const char* CMainFxLink::FxLayersTip(const char* name, bool enabled, uint8_t kind)
{
    return CApp::GetStatusTip(CQNF_String(name), CQNF_String("Layers"), enabled ? 1 : 0, kind);
}
