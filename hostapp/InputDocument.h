// The stand-in host opens its input as an image editor does: the file is
// read once and its kind decides the document. A layered PSD keeps its
// layers; a PNG or JPEG becomes one layer, turned upright by its EXIF
// orientation (the APP1 block of a JPEG, the eXIf chunk of a PNG), as
// editors show a photo. The document's resolution comes from the file:
// JFIF density or EXIF resolution, PNG pHYs, the PSD resolution resource.
// A PSD whose layers cannot be read but whose merged image can opens as one
// layer, with a note saying so.
#pragma once

#include "hostapp/HostDocument.h"

#include <string>

class CQNF_ImageFile;

namespace hostapp {

struct InputFacts {
    double resolution = 0.0;  // pixels per inch; 0 when the file names none
    int orientation = 1;      // the EXIF orientation applied, 1..8
    std::string note;         // one line for the user, when what opened is not all of the file
};

// Loads path into doc. On failure err holds one line that names the file.
bool LoadInputDocument(const std::string& path, HostDocument& doc, InputFacts& facts, std::string& err);

// The EXIF orientation of a PNG or JPEG file loaded whole; 1 for a PSD or
// a photo that names none.
int PhotoOrientation(CQNF_ImageFile& file);

// Turns an image upright for an EXIF orientation (1 leaves it; 2..8 flip
// and turn it; other values are ignored).
void ApplyOrientation(RasterImage& image, int orientation);

}  // namespace hostapp
