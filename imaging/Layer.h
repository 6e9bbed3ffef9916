// Layers (positioned images) and layer sets (an RGB canvas that composites an
// ordered list of layers, bottom first, into any rectangle of itself).
//
// A layer set never owns its layers: whoever creates a layer deletes it, and
// a layer must outlive its membership in any set that may still render.
//
// Compositing per canvas row: the lowest layer that has a span on the row is
// copied as it is (the window background); every layer above is blended by
// its alpha (when it has one) and its opacity, dividing by 255 with rounding
// so that an opaque pixel lands exactly and a transparent one changes nothing.
// Canvas pixels that no layer covers keep their values.
#pragma once

#include "core/Array.h"
#include "core/ErrorManager.h"
#include "core/Mem.h"
#include "core/String.h"
#include "core/Types.h"
#include "imaging/Image.h"

#include <cstdint>

// What one layer contributes to one canvas row.
struct qntLAYERLINE {
    uint32_t empty;  // 1: nothing on this row
    uint8_t* red;    // layer pixel at the span's first column, per plane
    uint8_t* green;
    uint8_t* blue;
    uint8_t* alpha;  // null when the layer has no alpha plane
    uint16_t start;  // first column, relative to the render rectangle's left
    uint16_t end;    // one past the last column
    uint8_t opacity;
};

inline constexpr qntLAYERLINE qnNullLayerLine{1, nullptr, nullptr, nullptr, nullptr, 0, 0, 255};

class CQNF_Layer : public CQNF_Image {
public:
    CQNF_Layer() = default;
    ~CQNF_Layer() override = default;

    // Creation forms. The position-and-size form and the four-coordinate form
    // differ only in argument types: plain int arguments are ambiguous on
    // purpose, so that a caller always says which one it means.
    bool Create(short x, short y, unsigned short width, unsigned short height, unsigned char mode);
    bool Create(short x, short y, CQNF_Image* source, unsigned char mode);
    bool Create(qntRECT_s rect, unsigned char mode);
    bool Create(long left, long top, long right, long bottom, unsigned char mode);

    bool SetPos(short x, short y);
    bool GetPos(short& x, short& y) const;
    // {x, y, x + width, y + height}.
    qntRECT_s GetRect() const;
    bool SetOpacity(unsigned char opacity);
    unsigned char GetOpacity() const { return m_opacity; }
    bool SetVisible(unsigned char visible);
    unsigned char GetVisible() const { return m_visible; }
    bool SetName(const CQNF_String& name);
    CQNF_String GetName() const { return m_name; }
    // Canvas coordinates; qnNullRect switches clipping off.
    bool SetClipRect(qntRECT_s clip);
    qntRECT_s GetClipRect() const { return m_clip; }

    // The layer's contribution to canvas row y between columns x and
    // x + count.
    qntLAYERLINE GetLine(short x, short y, unsigned short count);
    // The same with canvas coordinates beyond 16 bits (canvases up to 65535).
    qntLAYERLINE GetLineAt(int32_t x, int32_t y, int32_t count);

private:
    int16_t m_x = 0;
    int16_t m_y = 0;
    uint8_t m_opacity = 255;
    uint8_t m_visible = 1;
    qntRECT_s m_clip = qnNullRect;
    uint8_t m_clipOn = 0;
    CQNF_String m_name;
};

class CQNF_LayerSet : public CQNF_FrameWork {
public:
    // Index result meaning "none" (-1 as a 32-bit value).
    static constexpr uint32_t NotFound = 0xFFFFFFFFu;

    CQNF_LayerSet() = default;
    ~CQNF_LayerSet() override;
    CQNF_LayerSet(const CQNF_LayerSet&) = delete;
    CQNF_LayerSet& operator=(const CQNF_LayerSet&) = delete;

    // Clean, then an RGB canvas of the size (contents undefined).
    bool Create(unsigned short width, unsigned short height);
    // A new canvas of the size; the members stay.
    bool Resize(unsigned short width, unsigned short height);
    // Canvas, members and buffers released; the layers themselves untouched.
    void Clean();

    // Appends on top; the new index, or NotFound.
    uint32_t AddLayer(CQNF_Layer* layer);
    // Inserts at index (members above move up); at or past the count appends.
    uint32_t InsertLayer(CQNF_Layer* layer, unsigned long index);
    // Removes the member (not the layer object); 0 for an index out of range.
    uint32_t DeleteLayer(unsigned long index);

    uint32_t GetLayerCount() const { return m_layers.GetSize(); }
    // Null for an index out of range.
    CQNF_Layer* GetLayer(unsigned long index) const;
    CQNF_Image* GetCanvas() { return &m_canvas; }
    unsigned short GetCanvasWidth() const { return m_canvasWidth; }
    unsigned short GetCanvasHeight() const { return m_canvasHeight; }
    // The lowest member whose name equals the text exactly, or NotFound.
    uint32_t FindLayerByName(const CQNF_String& name) const;

    // Composites the members into the canvas inside rect (qnNullRect = all).
    bool Render(qntRECT_s rect);
    // Render of the member's rectangle, whatever its visibility.
    bool RenderLayer(unsigned long index);

private:
    // The line buffer sized for the member count (freed first).
    void ResetLineBuffer();

    CQNF_Image m_canvas;
    uint16_t m_canvasWidth = 0;
    uint16_t m_canvasHeight = 0;
    CQNF_PtrArray m_layers;
    CQNF_PtrArray m_scratch;
    uint32_t m_lineCount = 0;
    CQNF_Mem m_lineBuffer;
};
