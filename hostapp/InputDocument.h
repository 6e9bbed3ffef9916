// The stand-in host opens its input as an image editor does: the file is
// read once and its kind decides the document. A layered PSD keeps its
// layers; a PNG or JPEG becomes one layer, upright by its EXIF orientation
// as CQNF_ImageFile turns every photo. The document's resolution, across and
// down, comes from the file: JFIF density or EXIF resolution, PNG pHYs, the
// PSD resolution resource; 72 where the file names none (or names 0), as
// CQNF_ImageFile takes every picture's. A PSD whose layers cannot be read but whose
// merged image can opens as one layer, with a note saying so.
#pragma once

#include "hostapp/HostDocument.h"

#include <string>

namespace hostapp {

struct InputFacts {
    double resolution = 0.0;   // pixels per inch across, as CQNF_ImageFile takes it (0: no file)
    double resolutionY = 0.0;  // and down
    int orientation = 1;       // the EXIF orientation applied, 1..8
    std::string note;          // one line for the user, when what opened is not all of the file
};

// Loads path into doc. On failure err holds one line that names the file.
bool LoadInputDocument(const std::string& path, HostDocument& doc, InputFacts& facts, std::string& err);

}  // namespace hostapp
