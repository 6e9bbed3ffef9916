// The piece-map half of the one-step undo: every selection, visibility and
// effect change of the pieces is one step, and Undo exchanges the held step
// with the current state (so a second Undo brings the change back).
//
// A record is the piece's 92-byte effect record (SFX_ONEPIECE) of its
// applied effect blocks with its selected and shown flags, kept in this
// machine's layout: it never leaves memory.
#include "app/PieceMap.h"

#include <cstring>

namespace {

using Record = CTessolo::SFX_ONEPIECE;

Record Snapshot(const CTessolo::SPLITEDCELL& c)
{
    Record r = CTessolo::MakeOnePiece(c);
    // Row and column are not part of a step.
    r.row = 0;
    r.column = 0;
    return r;
}

}  // namespace

void CPieceMap::unpm_PreSave()
{
    if (!pm_IsBound() || m_nUnpmPieces != pm_PieceCount() ||
        m_Unpm.GetSize() < uint64_t(m_nUnpmPieces) * kUndoRecord * 2) {
        m_bUnpmEmpty = 1;
        return;
    }
    uint8_t* pre = m_Unpm.GetPtr() + size_t(m_nUnpmPieces) * kUndoRecord;
    for (uint32_t i = 0; i < m_nUnpmPieces; ++i) {
        const Record r = Snapshot(*i_Piece(i));
        std::memcpy(pre + size_t(i) * kUndoRecord, &r, kUndoRecord);
    }
    m_nUnpmPrePiece = m_nCurrentPiece;
}

void CPieceMap::unpm_SaveState(uint8_t compare)
{
    if (!pm_IsBound() || m_nUnpmPieces != pm_PieceCount() ||
        m_Unpm.GetSize() < uint64_t(m_nUnpmPieces) * kUndoRecord * 2) {
        m_bUnpmEmpty = 1;
        return;
    }
    uint8_t* held = m_Unpm.GetPtr();
    const uint8_t* pre = held + size_t(m_nUnpmPieces) * kUndoRecord;
    if (compare) {
        bool changed = false;
        for (uint32_t i = 0; i < m_nUnpmPieces && !changed; ++i) {
            const Record r = Snapshot(*i_Piece(i));
            changed = std::memcmp(pre + size_t(i) * kUndoRecord, &r, kUndoRecord) != 0;
        }
        if (!changed)
            return;
    }
    std::memcpy(held, pre, size_t(m_nUnpmPieces) * kUndoRecord);
    m_bUnpmEmpty = 0;
    m_nUnpmHeldPiece = m_nUnpmPrePiece;
}

void CPieceMap::unpm_Restore()
{
    // Not while a re-render runs (this call came from the events it pumps):
    // the pieces are being rendered from the very blocks Undo exchanges.
    if (m_bBusy || m_bUnpmEmpty || !pm_IsBound() || m_nUnpmPieces != pm_PieceCount() ||
        m_Unpm.GetSize() < uint64_t(m_nUnpmPieces) * kUndoRecord)
        return;
    m_bBusy = 1;
    m_PendingRect = qnNullRect;
    i_SetProgress("Rendering is in progress:");
    i_Report(0);
    qntRECT_s dirty = qnNullRect;
    bool selectionChanged = false, failed = false;
    const uint32_t count = m_nUnpmPieces;
    for (uint32_t i = 0; i < count; ++i) {
        i_Report(uint8_t(float(70.0 * i / count)));
        CTessolo::SPLITEDCELL& c = *i_Piece(i);
        Record held;
        std::memcpy(&held, m_Unpm.GetPtr() + size_t(i) * kUndoRecord, kUndoRecord);
        Record swapped = Snapshot(c);
        bool changed = false;
        if (held.shown != c.shown) {
            c.shown = held.shown;
            changed = true;
        }
        if (held.selected != c.selected) {
            pmop_Sel_SetSelectionToPiece(i, 1, held.selected ? 0 : 1, 0);
            selectionChanged = true;
        }
        CTessolo::PutOnePieceRequested(held, c);
        std::memcpy(m_Unpm.GetPtr() + size_t(i) * kUndoRecord, &swapped, kUndoRecord);
        if (i_pmop_CheckPieceFXUpdates(i)) {
            if (!pm_RenderPiece(i)) {
                failed = true;
                dirty = qnUnionRect(dirty, qntRECT_s{c.left, c.top, c.right, c.bottom});
                break;
            }
            changed = true;
        }
        if (changed)
            dirty = qnUnionRect(dirty, qntRECT_s{c.left, c.top, c.right, c.bottom});
    }
    m_nCurrentPiece = m_nUnpmHeldPiece;
    if (failed) {
        // Half exchanged: the held step no longer describes one state.
        m_bUnpmEmpty = 1;
    }
    dirty = qnUnionRect(dirty, m_PendingRect);
    m_PendingRect = qnNullRect;
    if (!qnIsNullRect(dirty)) {
        i_Report(70);
        i_CompositeAll(dirty, 70, 100);
        pm_RedrawPreview(1);
        OnCommonFXChanged();
    } else if (selectionChanged) {
        pm_RedrawPreview(1);
        OnCommonFXChanged();
    }
    i_Report(100);
    pm_StatusDone();
    m_bBusy = 0;
    i_AfterBusy();
}
