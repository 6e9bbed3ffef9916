// Opening the knife editor window from the main window, and the main
// window's side of the editor's calls.
#include "cutter/Wnd_Cutter.h"

#include "host/PluginMain.h"
#include "ui/Control.h"

namespace {

// The layout model answers through the adapter; the calls only a window
// answers go to the main window itself.
class CMainWindowLink : public CCutterMainAdapter {
public:
    explicit CMainWindowLink(CWnd_Main& main) : CCutterMainAdapter(main), m_Wnd(main) {}

    void OnCutterClose() override { m_Wnd.OnCutterClose(); }
    // Repaints and timers only: the main window takes no input while the
    // editor cuts.
    void PumpWindowEvents() override
    {
        if (m_Wnd.GetWindowHandle())
            m_Wnd.ProcessPendingEvents();
    }
    bool OnForwardedShortcut(uint16_t command) override
    {
        return m_Wnd.GetWindowHandle() && m_Wnd.OnCtrlMessage(qnmsg::Shortcut, command, nullptr, 0, nullptr) != 0;
    }

private:
    CWnd_Main& m_Wnd;
};

}  // namespace

CMainCutterWindow::CMainCutterWindow() : m_Wnd(std::make_unique<CWnd_Cutter>()) {}

CMainCutterWindow::~CMainCutterWindow()
{
    // The window first: it may still call through the link while it goes.
    m_Wnd.reset();
    m_Link.reset();
}

bool CMainCutterWindow::Open(CQNF_Window* parent)
{
    auto* main = dynamic_cast<CWnd_Main*>(parent);
    if (!main)
        return false;
    m_Link = std::make_unique<CMainWindowLink>(*main);
    CWnd_Cutter& w = *m_Wnd;
    w.SetMain(m_Link.get());
    w.SetMainWindow(main);
    CPluginMain* plugin = main->m_pPlugin;
    w.SetPlugin(plugin);
    qntPOS at{-32000, -32000};
    bool mainStored = true;
    if (plugin) {
        w.SetConf(plugin->ConfStorage_GetStorage());
        w.SetEngine(&plugin->GetEngine());
        // The Cut splits the document's colours by the composite's alpha.
        int32_t width = 0, height = 0;
        const uint8_t* alpha = plugin->GetCompositeAlpha(width, height);
        CQNF_Image& src = main->m_SourceImage;
        if (alpha && src.GetImageWidth() == width && src.GetImageHeight() == height && src.GetPlane(2)) {
            CWnd_CutterEditor::CUTSOURCE cut;
            cut.width = width;
            cut.height = height;
            cut.mask = const_cast<uint8_t*>(alpha);
            for (int p = 0; p < 3; ++p)
                cut.planes[p] = src.GetPlane(uint8_t(p));
            w.SetCutSource(cut);
        }
        at = plugin->WindowPosFromConf(CWnd_Cutter::kWindowName, "Main", qnNullSize, 0);
        mainStored = plugin->WindowPosFromConf("Main", "ROOT", qnNullSize, 0).x != -32000;
    }
    return w.CreateWindow(parent, at, mainStored);
}

void CMainCutterWindow::SaveLastKnife() { m_Wnd->settings_SaveLastKnife(m_Wnd->GetConf()); }

std::unique_ptr<CMainCutter> qnMakeCutterWindow() { return std::make_unique<CMainCutterWindow>(); }
