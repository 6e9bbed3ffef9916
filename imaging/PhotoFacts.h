// What a PNG or JPEG photo says of itself besides its pixels, read from its
// headers: the EXIF orientation (the APP1 block of a JPEG, the eXIf chunk of
// a PNG) and the resolution (JFIF density, else EXIF X/YResolution, for a
// JPEG; pHYs for a PNG). CQNF_ImageFile reads them for every program, and
// turns the picture upright by them.
#pragma once

#include <cstddef>

struct qntPHOTOFACTS {
    int orientation = 1;        // EXIF orientation 1..8 as stored; 1 when none
    double resolutionX = 0.0;   // pixels per inch across the stored picture; 0 when none
    double resolutionY = 0.0;   // and down it
};

// From the bytes of a JPEG or PNG file, whole or up to its picture's data;
// facts a header does not give, or gives damaged, keep their defaults.
qntPHOTOFACTS qnJpegPhotoFacts(const unsigned char* data, size_t size);
qntPHOTOFACTS qnPngPhotoFacts(const unsigned char* data, size_t size);

// Turns a width x height plane upright for an EXIF orientation into out
// (1 copies it; 5..8 give a height x width plane).
void qnTurnUpright(const unsigned char* in, int width, int height, int orientation, unsigned char* out);
