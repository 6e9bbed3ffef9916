// CExportPicture: a picture cut into rendered pieces by a layout, without any
// window, as the knife editor's Cut leaves them for the main window: the
// export command of the tool, the benchmark and the tests start here and then
// run the same CPiecesExport as the export dialog.
//
// Cut hands the layout model to the engine, splits a copy of the picture's
// three colour planes (the engine's pieces point into that copy, which this
// object keeps) by the picture's transparency, as the window's Cut splits the
// document by its alpha, gives the pieces the layout's effect records (in order when
// they match the pieces row for row, else by row and column; a piece without
// a record keeps the engine's defaults), with their selected and shown
// flags, and renders every piece.
#pragma once

#include "core/Mem.h"
#include "core/Progress.h"
#include "engine/Tessolo.h"

#include <cstdint>
#include <string>

class CWnd_MainModel;

class CExportPicture {
public:
    CExportPicture() = default;
    ~CExportPicture();
    CExportPicture(const CExportPicture&) = delete;
    CExportPicture& operator=(const CExportPicture&) = delete;

    // planes: red, green, blue of width x height, stride bytes a row.
    // records: 92-byte effect records as documents store them (may be null).
    // alpha: the picture's transparency, stride bytes a row as the colours
    // (null: opaque); the pieces keep it, and Alpha() is what the export
    // limits the composited picture to, as Apply does.
    bool Cut(CWnd_MainModel& layout, const uint8_t* const planes[3], uint32_t stride, uint16_t width,
             uint16_t height, const uint8_t* records, uint32_t recordCount, CQNF_Progress* progress,
             std::string& error, const uint8_t* alpha = nullptr);

    CTessolo& Engine() { return m_Engine; }
    uint16_t Width() const { return m_nWidth; }
    uint16_t Height() const { return m_nHeight; }
    // The copy of the picture's colour planes (k 0..2) and of its alpha
    // (Width() bytes a row), the alpha null when it was cut opaque.
    const uint8_t* Plane(int k) const { return m_Planes.GetPtr() + size_t(k) * m_nWidth * m_nHeight; }
    const uint8_t* Alpha() const { return m_pAlpha; }

private:
    CTessolo m_Engine;
    CQNF_Mem m_Planes;
    uint8_t* m_pAlpha = nullptr;
    uint16_t m_nWidth = 0;
    uint16_t m_nHeight = 0;
};
