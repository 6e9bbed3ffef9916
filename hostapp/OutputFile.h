// What the stand-in host writes, as an image editor saves: the format the
// output's name asks for, at the document's resolution, never over the
// input and never over a file the user may not write.
//   .png           the filtered layer (gray, RGB or with alpha; CMYK as RGB)
//   .jpg / .jpeg   the filtered layer over white, at a quality of 1..100
//   .psd           a layered document: every layer of the document, the
//                  filtered one in its place, a PSD input's layers whole
//                  where they reach beyond the canvas; refused (see
//                  DocumentRefusal) where it cannot hold the document
#pragma once

#include "hostapp/HostDocument.h"

#include <string>

namespace hostapp {

enum class OutputKind { None, PNG, JPEG, PSD };

// The kind an output name's extension names (any letter case); None for
// any other name.
OutputKind OutputKindOf(const std::string& path);

inline constexpr int kDefaultJpegQuality = 90;

// Why output may not be written now, or empty: it is one of the inputs
// (qnInputRefusal), or no file can be written there (qnTargetRefusal: a
// folder, a read-only file, a name too long, a folder missing or closed).
std::string OutputRefusal(const std::string& output, const std::vector<std::string>& inputs,
                          bool takesStandardOutput = false);

// Why doc may not be written to output in kind, or empty: for a PSD, more
// layers than the format holds, or a PSD input whose groups or layers the
// document did not keep (doc.unkept). Asked before any work is done on doc.
std::string DocumentRefusal(const std::string& output, OutputKind kind, const HostDocument& doc);

// Writes doc to path in kind at doc.resolution; an existing file is
// replaced only by a complete new one. On failure err holds one line.
bool WriteOutput(const std::string& path, OutputKind kind, const HostDocument& doc, int quality, std::string& err);

}  // namespace hostapp
