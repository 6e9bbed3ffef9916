// The main window's side of the piece map: binding it when piece mode
// begins, the view hooks (preview, overlay, effect check boxes, status
// line), and loading a selection from a document channel in either mode.
#include "app/Wnd_ChannelList.h"
#include "app/Wnd_Main.h"

#include "host/PluginMain.h"
#include "ui/Control.h"

#include <memory>

bool CWnd_Main::BeginPieceMode(int32_t width, int32_t height, const uint8_t* alpha)
{
    if (!m_pPlugin || width <= 0 || height <= 0)
        return false;
    return pm_Begin(&m_pPlugin->GetEngine(), &m_MainImage, alpha, m_pSelMask, uint32_t(width), uint32_t(height),
                    m_pPlugin->GetPluginDataPtr()->colorMode);
}

void CWnd_Main::pm_RedrawPreview(uint8_t highQuality)
{
    if (GetWindowHandle())
        m_Preview.DoRedraw(1, highQuality);
}

void CWnd_Main::pm_OnExtrasChanged(uint8_t on)
{
    m_bPMExtras = on;
    if (!GetWindowHandle())
        return;
    OnChangeExtrasState();
    m_Preview.SetMaskChannel(on ? const_cast<uint8_t*>(pm_SelMap()) : nullptr, on ? m_nImageWidth : 0);
}

void CWnd_Main::pm_RefreshControls(uint16_t word)
{
    if (m_bCutMode || m_bFXMode || !GetWindowHandle())
        return;
    static const struct {
        const char* name;
        uint8_t bit;
    } boxes[] = {{"Main_FXBC", FX_BRIGHTCONTRAST}, {"Main_FXBevel", FX_BEVEL},    {"Main_FXBlur", FX_BLUR},
                 {"Main_FXCOver", FX_COLOROVERLAY}, {"Main_FXHSL", FX_HSL},        {"Main_FXIOver", FX_IMAGEOVERLAY},
                 {"Main_FXMBlur", FX_MOTIONBLUR},   {"Main_FXOpacity", FX_OPACITY}, {"Main_FXStroke", FX_STROKE}};
    for (const auto& b : boxes)
        if (CQNF_Control* c = FindControl(b.name, qnctl::CheckBox)) {
            c->SetCheck((word >> b.bit) & 1, 0);
            view_RenderAndUpdate(c->GetRenderRect());
        }
    const struct {
        const char* name;
        uint8_t on;
    } buttons[] = {{"Main_Show", uint8_t((word & kSomeHidden) != 0)}, {"Main_Hide", uint8_t((word & kSomeShown) != 0)}};
    for (const auto& b : buttons)
        if (CQNF_Control* c = FindControl(b.name, qnctl::Button)) {
            c->Enable(b.on);
            view_RenderAndUpdate(c->GetRenderRect());
        }
}

void CWnd_Main::pm_StatusDone() { m_Fader.Restart(); }

void CWnd_Main::pm_ProcessEvents() { SubProcessMessages(nullptr, 1, 1, 1, 1); }

long CWnd_Main::DoChannelListDialog(CWnd_ChannelList& dialog, uint8_t combineAllowed, uint8_t tipMode)
{
    std::unique_ptr<CHostChannelSource> host;
    if (!m_pChannelSource && m_pPlugin)
        host = std::make_unique<CHostChannelSource>(*m_pPlugin);
    dialog.m_pSource = m_pChannelSource ? m_pChannelSource : host.get();
    if (!dialog.m_pSource)
        return 0;
    dialog.m_bCombineAllowed = combineAllowed ? 1 : 0;
    dialog.m_nTipMode = tipMode;
    qntPOS at{-32000, -32000};
    if (m_pPlugin)
        at = m_pPlugin->WindowPosFromConf("ChannelList", "MAIN", qnNullSize, 1);
    if (!dialog.CreateFromResource(CQNF_String("ChannelList"), short(at.x), short(at.y), this, 1))
        return 0;
    dialog.RenderRect(qnNullRect);
    const long result = dialog.DoModal();
    if (result == 1 && m_pPlugin && !qnIsNullRect(dialog.m_ClosedAt))
        m_pPlugin->PutWindowPosToConf("ChannelList", "MAIN", qntPOS{dialog.m_ClosedAt.left, dialog.m_ClosedAt.top});
    return result;
}

void CWnd_Main::pmop_LoadSelection(uint8_t redraw)
{
    if (m_bCutMode || !pm_IsBound())
        return;
    CWnd_ChannelList dialog;
    if (DoChannelListDialog(dialog, SelectedCount() > 0, 0) != 1 || !dialog.HasChannel())
        return;
    pmop_LoadSelectionFromMap(dialog.GetChannel(), dialog.GetChannelWidth(), dialog.GetChannelHeight(),
                              dialog.m_nOperation, dialog.m_bInvert, redraw);
}

void CWnd_Main::op_LoadSelection(uint8_t)
{
    if (!m_bCutMode)
        return;
    CWnd_ChannelList dialog;
    if (DoChannelListDialog(dialog, m_bKnifeSelection, 1) != 1 || !dialog.HasChannel())
        return;
    qnSelectKnivesFromMap(*this, dialog.GetChannel(), dialog.GetChannelWidth(), dialog.GetChannelHeight(),
                          dialog.m_nOperation, dialog.m_bInvert);
    view_RenderAndUpdate(m_rcPreview);
}
