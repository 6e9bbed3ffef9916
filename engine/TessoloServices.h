// What the cutting engine needs from its surroundings, and nothing more: a
// place to show a message and read access to the layers of the document being
// cut (the image overlay effect). The host adapter implements it over the
// host's layer suite and alert; tests implement it with fakes. The engine
// includes no window and no host code.
#pragma once

#include "core/Types.h"

#include <cstdint>

class CTessoloServices {
public:
    // One entry of the document's layer table: the host's layer id (-1 for
    // the composite) and the bounds of its non-transparent pixels in document
    // coordinates (qnNullRect when it has none).
    struct LAYERBOUNDS {
        int32_t id;
        qntRECT_s bounds;
    };

    virtual ~CTessoloServices() = default;

    // A plain modal alert with an OK button: title as the message, text as
    // its explanation. Each is at most 250 characters.
    virtual void PlatformMessageBox(const char* text, const char* title) = 0;

    // True when the host reports the document's layers at all.
    virtual bool HasDocumentLayers() = 0;

    // Left and top of the host's filter rectangle: added to a piece box to
    // move it into document coordinates.
    virtual qntPOS GetFilterOrigin() = 0;

    // Refreshes the layer table for the document rectangle box and hands it
    // out (owned by the implementation, valid until the next call). False
    // when the table cannot be built.
    virtual bool FillRealLayerBounds(const qntRECT_s& box, const LAYERBOUNDS*& table, uint32_t& count) = 0;

    // Reads layer id over the document rectangle box (width x height pixels)
    // into planeCount planes of width x height bytes each: the colour planes
    // in the document's colour mode, then the layer's alpha. False when the
    // layer cannot be read.
    virtual bool GetLayerPixels(int32_t id, uint8_t** planes, int32_t width, int32_t height, uint8_t planeCount,
                                const qntRECT_s& box) = 0;
};
