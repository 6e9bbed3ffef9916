// The main window's name for the layout model, until the window class that
// derives from the model takes it over: CWnd_Main::KNIFESTRUCT and the other
// nested types and operations are reachable under it already.
#pragma once

#include "app/MainModel.h"

using CWnd_Main = CWnd_MainModel;
