// The undo brackets of the main window's commands, shared by the shortcut,
// button and menu handlers (MainCommands.cpp, MainMenuCommands.cpp).
#pragma once

#include "app/Wnd_Main.h"

namespace maincmd {

// A cut-map change of knife flags, one undo step when it changed anything.
template <class F>
void Bracket3(CWnd_Main& w, F f)
{
    w.uncm_PreSave(CWnd_MainModel::CMUNDO_KNIFEFLAGS);
    f();
    w.uncm_SaveState(CWnd_MainModel::CMUNDO_KNIFEFLAGS, CWnd_MainModel::CMSUB_NONE);
}

template <class F>
void PieceBracket(CMainPieceMap* pm, F f)
{
    if (!pm)
        return;
    pm->unpm_PreSave();
    f(*pm);
    pm->unpm_SaveState(1);
}

}  // namespace maincmd
