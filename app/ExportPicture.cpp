#include "app/ExportPicture.h"

#include "app/MainModel.h"

#include <cstring>
#include <map>
#include <utility>

CExportPicture::~CExportPicture() { m_Engine.FreeSpliting(); }

bool CExportPicture::Cut(CWnd_MainModel& layout, const uint8_t* const planes[3], uint32_t stride, uint16_t width,
                         uint16_t height, const uint8_t* records, uint32_t recordCount, CQNF_Progress* progress,
                         std::string& error, const uint8_t* alpha)
{
    if (!m_Engine.FreeSpliting()) {
        error = "the engine is busy";
        return false;
    }
    if (!planes || !width || !height || stride < width) {
        error = "no picture";
        return false;
    }
    const size_t area = size_t(width) * height;
    m_pAlpha = nullptr;
    const int count = alpha ? 4 : 3;
    if (!m_Planes.alloc(qnMulSize({size_t(count), area}))) {
        error = "out of memory";
        return false;
    }
    const uint8_t* from[4] = {planes[0], planes[1], planes[2], alpha};
    uint8_t* copy[4] = {};
    for (int k = 0; k < count; ++k) {
        copy[k] = m_Planes.GetPtr() + k * area;
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(copy[k] + size_t(y) * width, from[k] + size_t(y) * stride, width);
    }
    m_pAlpha = copy[3];
    m_nWidth = width;
    m_nHeight = height;
    if (!layout.engine_PutLayoutToPuzzleEngine(&m_Engine)) {
        error = "the layout does not fit the engine";
        return false;
    }
    m_Engine.m_nColorMode = 1;
    m_Engine.m_pProgress = progress;
    const bool split = m_Engine.SplitCells(width, height, m_pAlpha, width, copy, width, 3, 0, 50, 0);
    m_Engine.m_pProgress = nullptr;
    if (!split) {
        const char* why = CTessolo::SplitFailureText(m_Engine.LastSplitFailure());
        error = std::string("the picture could not be cut") + (*why ? ": " : "") + why;
        return false;
    }

    // The records of a document saved in piece mode go to the pieces they
    // were taken from: in order while rows and columns agree, else by place.
    const uint32_t n = m_Engine.m_nPieces;
    CTessolo::SPLITEDCELL* cells = m_Engine.m_pPieces;
    auto record = [&](uint32_t k) { return CTessolo::SFX_ONEPIECE::LoadLE(records + size_t(k) * 92); };
    bool inOrder = records && recordCount == n;
    for (uint32_t i = 0; inOrder && i < n; ++i) {
        const CTessolo::SFX_ONEPIECE r = record(i);
        inOrder = r.row == uint8_t(cells[i].row) && r.column == uint8_t(cells[i].column);
    }
    std::map<std::pair<uint8_t, uint8_t>, uint32_t> byPlace;
    if (records && !inOrder)
        for (uint32_t k = 0; k < recordCount; ++k) {
            const CTessolo::SFX_ONEPIECE r = record(k);
            byPlace.emplace(std::make_pair(r.row, r.column), k);
        }
    for (uint32_t i = 0; i < n; ++i) {
        if (progress) {
            progress->Progress(uint8_t(50 + 50 * uint64_t(i) / n), nullptr);
            if (progress->IsCanceled()) {
                error = "cancelled";
                return false;
            }
        }
        int64_t k = -1;
        if (inOrder) {
            k = i;
        } else if (records) {
            const auto it = byPlace.find({uint8_t(cells[i].row), uint8_t(cells[i].column)});
            k = it == byPlace.end() ? -1 : int64_t(it->second);
        }
        if (k >= 0) {
            const CTessolo::SFX_ONEPIECE r = record(uint32_t(k));
            CTessolo::PutOnePieceRequested(r, cells[i]);
            cells[i].selected = r.selected;
            cells[i].shown = r.shown;
        }
        if (!m_Engine.RenderPiece(i)) {
            // A piece of the table always renders but for want of memory.
            error = "piece " + std::to_string(i) + " could not be rendered: out of memory";
            return false;
        }
    }
    return true;
}
