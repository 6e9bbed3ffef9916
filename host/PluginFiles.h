// The files the plug-in reads or loads from its own folder (the folder its
// library lies in, links followed), besides the library itself: its window
// backend, its skin, its preferences and window places, its last settings,
// its knife presets and its help document. The plug-in checks what it
// writes for itself against them; the host program, which includes nothing
// of the plug-in's, keeps the same names for its outputs.
// Each is named as what it is when a file would be written over it.
#pragma once

#include "core/SafeFileRunInputs.h"

struct QnPluginFolderFile {
    const char* name;
    QnRunInput what;
};

inline constexpr QnPluginFolderFile kQnPluginFolderFiles[] = {
    {"tessolo_gtk.so", QnRunInput::WindowBackend},
    {"resource_ts31_d.qns4", QnRunInput::PluginSkin},
    {"plugin.conf", QnRunInput::PluginSettings},
    {"last.data", QnRunInput::PluginSettings},
    {"ckss.data", QnRunInput::PluginSettings},
    {"Quorvin Tessolo 3.1 Help.pdf", QnRunInput::PluginHelp}};
