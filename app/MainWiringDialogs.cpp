// The dialogs the main window's commands open, over the window, with the
// application's services: configuration, window positions, status tips,
// help, colour picker and the skinned message box.
#include "app/App.h"
#include "app/MainWiring.h"
#include "app/Preferences.h"
#include "app/Wnd_Export.h"
#include "app/Wnd_Main.h"
#include "app/Wnd_Pref.h"
#include "app/Wnd_PrefAppHost.h"
#include "host/PluginMain.h"
#include "imaging/ImageFile.h"
#include "ui/App.h"

#include <memory>

namespace {

// The application's services when the window runs in the application,
// else the plain ones (no configuration, boxes counted as OK).
std::unique_ptr<CDialogHost> HostOf()
{
    if (auto* app = dynamic_cast<CApp*>(m_App))
        return std::make_unique<CAppDialogHost>(*app);
    return std::make_unique<CDialogHost>();
}

EXPORTPICTURE PictureOf(const CWnd_Main& w)
{
    EXPORTPICTURE pic;
    pic.width = uint16_t(w.m_SourceImage.GetImageWidth());
    pic.height = uint16_t(w.m_SourceImage.GetImageHeight());
    if (w.m_pPlugin) {
        const CQNF_8BFPluginVirtual::PLUGINDATA* d = w.m_pPlugin->GetPluginDataPtr();
        double down = d->resolutionV;
        pic.resolution = d->resolutionH;
        qnTakenResolution(pic.resolution, down);
        pic.iccProfile = d->iccProfile;
        pic.iccSize = d->iccSize;
        pic.colorMode = d->colorMode;
        int32_t aw = 0, ah = 0;
        const uint8_t* alpha = w.m_pPlugin->GetCompositeAlpha(aw, ah);
        if (alpha && aw == pic.width && ah == pic.height)
            pic.limit = alpha;
        for (int k = 0; k < 3; ++k)
            pic.colours[k] = w.m_SourceImage.GetPlane(uint8_t(k));
        // The files keep the canvas the host handed, each piece in its
        // place there, as Apply writes it.
        const CWnd_Main::CANVAS c = w.i_Canvas();
        pic.canvasWidth = uint16_t(c.width);
        pic.canvasHeight = uint16_t(c.height);
        pic.left = uint16_t(c.left);
        pic.top = uint16_t(c.top);
    }
    return pic;
}

}  // namespace

void CMainDialogsLink::DoPrefDialog()
{
    std::unique_ptr<CDialogHost> host = HostOf();
    CPreferences prefs = m_w.m_Prefs;
    prefs.delKnifeOpacity = m_w.m_nDelKnifeOpacity;
    bool opacityChanged = false;
    if (::DoPrefDialog(&m_w, *host, prefs, &opacityChanged) != 1)
        return;
    m_w.m_Prefs = prefs;
    CQNF_CtrlPreview& preview = m_w.GetPreview();
    prefs.TransparencyPair(preview.m_inner1, preview.m_inner2);
    prefs.FramePair(preview.m_outer1, preview.m_outer2);
    if (m_w.GetWindowHandle())
        preview.DoRedraw(1, 1);
    if (opacityChanged) {
        m_w.m_nDelKnifeOpacity = prefs.delKnifeOpacity;
        // In piece mode the knives are not shown: the value waits for cut mode.
        if (m_w.m_bCutMode) {
            m_w.DoRedrawOverlay();
            m_w.view_RenderAndUpdate(m_w.m_rcPreview);
        }
    }
}

void CMainDialogsLink::DoExportDialog()
{
    if (!m_w.m_pPlugin)
        return;
    std::unique_ptr<CDialogHost> host = HostOf();
    ::DoExportDialog(&m_w, *host, m_w.m_pPlugin->GetEngine(), PictureOf(m_w), &m_w);
}

void CMainDialogsLink::DoExportLMDialog()
{
    std::unique_ptr<CDialogHost> host = HostOf();
    ::DoExportLMDialog(&m_w, *host, m_w, PictureOf(m_w));
}

void CMainDialogsLink::op_LoadSelection(uint8_t redraw) { m_w.op_LoadSelection(redraw); }
