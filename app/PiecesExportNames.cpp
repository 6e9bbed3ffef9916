// The pieces export's order of pieces, and the names it gives their layers
// and files.
#include "app/PiecesExport.h"

#include "engine/Tessolo.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

using Cell = CTessolo::SPLITEDCELL;

// ---- Piece order ------------------------------------------------------------------

int CPiecesExport::CExportPiecesIDS::CompareElements(const void* a, const void* b)
{
    uint32_t i, j;
    std::memcpy(&i, a, 4);
    std::memcpy(&j, b, 4);
    const uint32_t n = m_Engine.m_nPieces;
    if (i >= n || j >= n)
        return i >= n && j >= n ? 0 : i >= n ? 1 : -1;
    const Cell& p = m_Engine.m_pPieces[i];
    const Cell& q = m_Engine.m_pPieces[j];
    if (p.row != q.row)
        return p.row < q.row ? -1 : 1;
    if (p.column != q.column)
        return p.column < q.column ? -1 : 1;
    return 0;
}

bool CPiecesExport::CExportPiecesIDS::SortByRowColumn()
{
    std::vector<uint32_t> ids(GetSize());
    for (uint32_t k = 0; k < GetSize(); ++k)
        ids[k] = (*this)[k];
    std::stable_sort(ids.begin(), ids.end(),
                     [this](uint32_t a, uint32_t b) { return CompareElements(&a, &b) < 0; });
    for (uint32_t k = 0; k < GetSize(); ++k)
        if (!SetAt(k, ids[k]))
            return false;
    return true;
}

// ---- Names ------------------------------------------------------------------------

std::string CPiecesExport::LayerName(bool extended, uint32_t number, uint32_t piece, int32_t row, int32_t column)
{
    char b[96];
    if (extended)
        std::snprintf(b, sizeof b, "L%u - Piece: %u (R: %d / C: %d)", number, piece, row, column);
    else
        std::snprintf(b, sizeof b, "Layer %u", number);
    return b;
}

std::string CPiecesExport::FileName(const std::string& base, bool extended, uint32_t number, uint32_t piece,
                                    int32_t row, int32_t column)
{
    char b[96];
    if (extended)
        std::snprintf(b, sizeof b, "_F%04u-Piece%u_R%d_C%d", number, piece, row, column);
    else
        std::snprintf(b, sizeof b, "_%04u", number);
    return base + b;
}
