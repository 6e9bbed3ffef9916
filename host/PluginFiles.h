// The files the plug-in reads or loads from its own folder (the folder its
// library lies in, links followed), besides the library itself: its window
// backend, its skin, its preferences and window places, its last settings,
// its knife presets and its help document. The plug-in checks what it
// writes for itself against them; the host program, which includes nothing
// of the plug-in's, keeps the same names for its outputs.
#pragma once

inline constexpr const char* kQnPluginFolderFiles[] = {"tessolo_gtk.so", "resource_ts31_d.qns4", "plugin.conf",
                                                       "last.data",      "ckss.data",
                                                       "Quorvin Tessolo 3.1 Help.pdf"};
