// The knife editor's dialogs: the presets manager, adding the knife to the
// presets, shape files, auto layout and custom mutations, each over the
// editor window with the running application's services.
#include "cutter/Wnd_Cutter.h"

#include "app/App.h"
#include "app/Wnd_PrefAppHost.h"
#include "cutter/PresetsModel.h"
#include "cutter/Wnd_Dialogs.h"
#include "cutter/Wnd_PresetsManager.h"
#include "host/PluginMain.h"

std::unique_ptr<CDialogHost> CWnd_Cutter::i_DialogHost()
{
    // Outside a run (no application) the plain services still show the
    // dialog: no stored places, messages through the platform.
    if (auto* app = dynamic_cast<CApp*>(m_App))
        return std::make_unique<CAppDialogHost>(*app);
    return std::make_unique<CDialogHost>();
}

std::string CWnd_Cutter::PresetsPath() const
{
    if (!m_pPlugin)
        return {};
    const std::string& folder = m_pPlugin->GetPluginFolder().path;
    return (folder.empty() ? std::string(".") : folder) + "/ckss.data";
}

void CWnd_Cutter::DoPresMngWindow()
{
    const std::string path = PresetsPath();
    if (path.empty() || m_bCutting)
        return;
    auto host = i_DialogHost();
    CQNF_PresetsFileAtPath store(path);
    ::DoPresMngWindow(this, *host, store, [this](const SPLINE_STRUCT& shape) { opSetShapeFromData(shape, 1); });
}

void CWnd_Cutter::DoAddShapeToPresets()
{
    const std::string path = PresetsPath();
    if (path.empty() || m_bCutting)
        return;
    auto host = i_DialogHost();
    CQNF_PresetsFileAtPath store(path);
    ::DoAddShapeToPresets(this, *host, store, m_Shape);
}

void CWnd_Cutter::opLoadShape()
{
    if (m_bCutting)
        return;
    auto host = i_DialogHost();
    SPLINE_STRUCT shape = m_Shape;
    if (::DoLoadShapeFile(this, *host, shape))
        opSetShapeFromData(shape, 1);
}

void CWnd_Cutter::opSaveShapeQNTH()
{
    if (m_bCutting)
        return;
    auto host = i_DialogHost();
    ::DoSaveShapeFile(this, *host, m_Shape);
}

void CWnd_Cutter::DoAutoLayoutWindow()
{
    if (!m_pMainWnd || m_bCutting)
        return;
    auto host = i_DialogHost();
    // On OK the main window lays the new layout, every knife takes the
    // editor's shape and the editor is told the new grid.
    if (::DoAutoLayoutWindow(this, *host, m_pMainWnd) == 1)
        m_pMainWnd->i_FullRedraw();
}

void CWnd_Cutter::SetCustomMutationsMode()
{
    if (m_bCutting)
        return;
    auto host = i_DialogHost();
    ::DoCustomMutationsWindow(this, *host, static_cast<CWnd_CutterEditor&>(*this));
}
