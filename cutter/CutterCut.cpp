// The Cut: the layout goes to the engine, which splits the image and renders
// every piece, while the editor shows a progress bar with an abort button.
// The effects pieces had before (or that loaded settings or a loaded
// document carry) go to the new pieces, in order when the pieces are the
// same, else by row and column.
#include "cutter/CutterEditor.h"

#include "engine/Tessolo.h"

#include <cstring>

namespace {

constexpr uint32_t kRecordSize = CTessolo::kSettingsRecordSize;
// Rows and columns of the row-column table: every value the record's bytes
// can hold, so a grid of 101 rows or columns keeps its last row and column.
constexpr uint32_t kTableSide = 256;
constexpr size_t kTableBytes = size_t(kTableSide) * kTableSide * sizeof(uint32_t);
constexpr uint32_t kNoRecord = 0xFFFFFFFFu;

// Stops the engine reporting to a progress that is about to go away, on
// every way out.
struct ProgressAttachment {
    CTessolo* engine;
    ProgressAttachment(CTessolo* e, CQNF_Progress* p) : engine(e) { engine->m_pProgress = p; }
    ~ProgressAttachment() { engine->m_pProgress = nullptr; }
    ProgressAttachment(const ProgressAttachment&) = delete;
    ProgressAttachment& operator=(const ProgressAttachment&) = delete;
};

}  // namespace

bool CWnd_CutterEditor::i_DoCuttingSetFXByRC(uint8_t* out, const uint8_t* records, uint32_t count, uint32_t row,
                                             uint32_t column, CQNF_Mem* table)
{
    if (!out || !records || !table)
        return false;
    if (table->GetSize() < kTableBytes) {
        if (!table->alloc(kTableBytes))
            return false;
        auto* t = reinterpret_cast<uint32_t*>(table->GetPtr());
        for (size_t i = 0; i < size_t(kTableSide) * kTableSide; ++i)
            t[i] = kNoRecord;
        // A later record of the same row and column wins.
        for (uint32_t k = 0; k < count; ++k) {
            const uint8_t* r = records + size_t(k) * kRecordSize;
            t[size_t(r[90]) * kTableSide + r[91]] = k;
        }
    }
    if (row >= kTableSide || column >= kTableSide)
        return false;
    const uint32_t k = reinterpret_cast<const uint32_t*>(table->GetPtr())[size_t(row) * kTableSide + column];
    if (k == kNoRecord || k >= count)
        return false;
    std::memcpy(out, records + size_t(k) * kRecordSize, kRecordSize);
    return true;
}

void CWnd_CutterEditor::i_CutPump()
{
    if (m_pMain)
        m_pMain->PumpWindowEvents();
    view_PumpOwnEvents();
}

void CWnd_CutterEditor::CutterProgress_SetBar(uint8_t percent)
{
    m_Ctl.progress = percent;
    view_ControlsChanged();
}

void CWnd_CutterEditor::CutterProgress_PumpEvents() { i_CutPump(); }

void CWnd_CutterEditor::i_CutReport(CCutterProgress& progress, uint8_t percent)
{
    m_CutReported.push_back(percent);
    progress.Progress(percent, nullptr);
}

void CWnd_CutterEditor::DoStopCutting()
{
    m_Ctl.cutting = 0;
    m_Ctl.progress = 0;
    m_bCutting = 0;
    view_ControlsChanged();
}

uint8_t CWnd_CutterEditor::i_CutFail(bool piecesGone)
{
    if (piecesGone) {
        // Pieces half made (split but not all rendered) never stay: the
        // engine holds none, and the editor is left only by a new Cut.
        m_pEngine->FreeSpliting();
    } else {
        // The old pieces are still there: the editor may be left as before.
        m_bCancelAllowed = m_bCancelAtOpening;
        m_Ctl.cancel = m_Ctl.closeX = m_bCancelAllowed;
    }
    DoStopCutting();
    return 0;
}

uint8_t CWnd_CutterEditor::DoCutting()
{
    m_CutReported.clear();
    m_bCancelAllowed = 0;
    m_Ctl.cancel = m_Ctl.closeX = 0;
    m_Ctl.cutting = 1;
    m_Ctl.progress = 0;
    m_bCutting = 1;
    m_bAbortRequested = 0;
    view_ControlsChanged();
    i_CutPump();

    // Without a picture to cut nothing can come of the Cut: the old pieces
    // stay, and so does the way out of the editor.
    uint8_t* planes[3] = {m_CutSource.planes[0], m_CutSource.planes[1], m_CutSource.planes[2]};
    const long w = m_CutSource.width;
    if (!planes[0] || !planes[1] || !planes[2] || w <= 0 || m_CutSource.height <= 0)
        return i_CutFail(false);
    if (!m_pEngine || !m_pMain || !m_pMain->engine_PutLayoutToPuzzleEngine(m_pEngine))
        return i_CutFail(false);
    CCutterProgress progress;
    progress.SetEditor(this);
    ProgressAttachment attach(m_pEngine, &progress);
    i_CutReport(progress, 5);
    if (!m_pEngine->FreeSpliting())
        return i_CutFail(false);

    if (!m_pEngine->SplitCells(w, m_CutSource.height, m_CutSource.mask, uint32_t(w), planes, uint32_t(w), 3, 5, 80,
                               0))
        return i_CutFail(true);
    i_CutReport(progress, 80);

    // The records in use: a loaded document's, else those handed over at
    // opening, else none.
    const uint8_t* records = nullptr;
    uint32_t count = 0;
    if (m_DocumentRecords.GetPtr() && m_nDocumentRecords) {
        records = m_DocumentRecords.GetPtr();
        count = m_nDocumentRecords;
    } else if (m_OpeningRecords.GetPtr() && m_nOpeningRecords) {
        records = m_OpeningRecords.GetPtr();
        count = m_nOpeningRecords;
    }
    const uint32_t pieces = m_pEngine->m_nPieces;
    bool inOrder = records && count == pieces;
    for (uint32_t i = 0; inOrder && i < pieces; ++i) {
        const uint8_t* r = records + size_t(i) * kRecordSize;
        inOrder = r[90] == uint8_t(m_pEngine->m_pPieces[i].row) && r[91] == uint8_t(m_pEngine->m_pPieces[i].column);
    }
    const bool byRC = records && !inOrder;

    CQNF_Mem table;
    double p = 80.0;
    int last = 80;
    for (uint32_t i = 0; i < pieces; ++i) {
        if (int(p) != last) {
            last = int(p);
            i_CutReport(progress, uint8_t(last));
            if (progress.IsCanceled())
                return i_CutFail(true);
        }
        CTessolo::SPLITEDCELL& piece = m_pEngine->m_pPieces[i];
        uint8_t bytes[kRecordSize];
        bool have = false;
        if (inOrder) {
            std::memcpy(bytes, records + size_t(i) * kRecordSize, kRecordSize);
            have = true;
        } else if (byRC) {
            have = i_DoCuttingSetFXByRC(bytes, records, count, uint8_t(piece.row), uint8_t(piece.column), &table);
        }
        if (have) {
            const CTessolo::SFX_ONEPIECE rec = CTessolo::SFX_ONEPIECE::LoadLE(bytes);
            CTessolo::PutOnePieceRequested(rec, piece);
            piece.shown = rec.shown;
        }
        if (!m_pEngine->RenderPiece(i))
            return i_CutFail(true);
        p += 20.0 / pieces;
    }
    i_CutReport(progress, 100);
    i_CutPump();
    DoStopCutting();
    m_pMain->MarkPieceUndoAvailable();
    if (byRC)
        m_bFXMatchedByRC = 1;
    return 1;
}
