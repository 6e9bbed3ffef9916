// The settings block: one byte block holding a whole layout (grid, knots,
// knives, extra knives, razor cut and anti-aliasing, and in piece mode one
// 92-byte effect record per piece). Numbers are big-endian; the effect
// records are stored as the engine keeps them (little-endian fields).
//
// Blocks come from files and the host, so every reader first walks the
// whole block checking each length, count, node count, knot index and float,
// and only then changes the cut map: a block is taken whole or not at all.
#include "app/MainModel.h"

#include "core/Bytes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

using namespace cutflag;

namespace {

constexpr uint32_t kKnifeBound = 773;     // a knife record at 64 nodes, and its share of spare
constexpr uint32_t kAuxKnifeBound = 781;  // the same with its two knot indices
constexpr uint8_t kFlagAcross = 1, kFlagAlong = 2, kFlagOff = 4, kFlagSelected = 8;

}  // namespace

// Writes the 32 bits of a float most significant byte first, whatever the
// machine's own order.
void qnPlatformFLOATtoMac(float value, unsigned char* out) { qnPutBEFloat(out, value); }

bool CWnd_MainModel::settings_GetPieceRecords(CQNF_Mem* records, uint32_t& count)
{
    count = 0;
    if (!records)
        return false;
    const uint64_t bytes = uint64_t(m_nPieceRecords) * kPieceRecordSize;
    if (bytes > m_PieceRecords.GetSize())
        return false;
    if (bytes == 0) {
        records->free();
        return true;
    }
    if (!records->alloc(bytes))
        return false;
    std::memcpy(records->GetPtr(), m_PieceRecords.GetPtr(), size_t(bytes));
    count = m_nPieceRecords;
    return true;
}

bool CWnd_MainModel::settings_SaveCurLayoutAndCellSettingsToMem(CQNF_Mem* block, uint32_t& length)
{
    length = 0;
    if (!block)
        return false;
    const bool pieces = !m_bCutMode;
    CQNF_Mem records;
    uint32_t recordCount = 0;
    if (pieces && !settings_GetPieceRecords(&records, recordCount)) {
        ShowMessageBox("Memory allocation problem...", "Error!");
        return false;
    }

    const uint32_t R = m_nRowSplitters, C = m_nColSplitters;
    const uint64_t bound = 10 + 4ull * (R + C) + 4 + 8ull * m_nKnots + 4 + uint64_t(m_nColKnives) * kKnifeBound + 4 +
                           uint64_t(m_nRowKnives) * kKnifeBound + 4 + uint64_t(m_nAuxKnives) * kAuxKnifeBound + 2 +
                           (pieces ? 4 + uint64_t(recordCount) * kPieceRecordSize : 0) + 20;
    if (bound > 0xFFFFFFF0ull || (block->GetSize() < bound && !block->alloc(bound))) {
        ShowMessageBox("Memory allocation problem...", "Error!");
        return false;
    }

    uint8_t* const base = block->GetPtr();
    uint8_t* p = base;
    auto u8 = [&](uint8_t v) { *p++ = v; };
    auto u16 = [&](uint16_t v) {
        qnPutBE16(p, v);
        p += 2;
    };
    auto u32 = [&](uint32_t v) {
        qnPutBE32(p, v);
        p += 4;
    };
    auto f32 = [&](float v) {
        qnPlatformFLOATtoMac(v, p);
        p += 4;
    };
    auto knife = [&](const KNIFESTRUCT& k) {
        const uint32_t n = std::min<uint32_t>(k.nodeCount, kMaxNodes);
        u8(uint8_t((k.flipH ? kFlagAcross : 0) | (k.flipU ? kFlagAlong : 0) | (k.off ? kFlagOff : 0) |
                   (k.selected ? kFlagSelected : 0)));
        u16(uint16_t(n));
        u8(uint8_t(k.knobSize));
        u8(uint8_t(k.thickness));
        for (uint32_t i = 0; i < n; ++i)
            f32(k.U[i]);
        for (uint32_t i = 0; i < n; ++i)
            f32(k.H[i]);
        for (uint32_t i = 0; i < n; ++i)
            f32(k.S[i]);
    };

    u8(pieces ? 1 : 0);
    u8(pieces ? 1 : 0);
    u16(uint16_t(R));
    u16(uint16_t(C));
    u32(m_nAuxKnives);
    for (uint32_t i = 0; i < R; ++i)
        f32(m_RowSplitters[i]);
    for (uint32_t i = 0; i < C; ++i)
        f32(m_ColSplitters[i]);
    u32(m_nKnots);
    for (uint32_t i = 0; i < m_nKnots; ++i) {
        f32(m_Knots[i].dx);
        f32(m_Knots[i].dy);
    }
    u32(m_nColKnives);
    for (uint32_t i = 0; i < m_nColKnives; ++i)
        knife(m_ColKnives[i]);
    u32(m_nRowKnives);
    for (uint32_t i = 0; i < m_nRowKnives; ++i)
        knife(m_RowKnives[i]);
    u32(m_nAuxKnives);
    for (uint32_t i = 0; i < m_nAuxKnives; ++i) {
        knife(m_AuxKnives[i].knife);
        u32(m_AuxKnives[i].knotA);
        u32(m_AuxKnives[i].knotB);
    }
    u8(m_bRazorCut ? 1 : 0);
    u8(m_bAntiAlias ? 1 : 0);
    if (pieces) {
        u32(recordCount);
        if (recordCount) {
            std::memcpy(p, records.GetPtr(), size_t(recordCount) * kPieceRecordSize);
            p += size_t(recordCount) * kPieceRecordSize;
        }
    }
    length = uint32_t(p - base);
    return true;
}

// ---- Reading -------------------------------------------------------------------

namespace {

// One walk over a block. Without a target it only checks; with one it
// writes what it reads (the grid already sized for the block).
class BlockWalker {
public:
    BlockWalker(const uint8_t* data, uint32_t size, uint8_t version) : m_data(data), m_size(size), m_version(version)
    {
    }

    // The header's counts, valid once Header() succeeded.
    uint16_t R = 0, C = 0;
    uint32_t A = 0;
    const uint8_t* records = nullptr;
    uint32_t recordCount = 0;

    bool Header()
    {
        if (m_version == 3) {
            if (m_size <= 9)
                return false;
            R = std::min<uint16_t>(qnGetBE16(m_data + 2), 100);
            C = std::min<uint16_t>(qnGetBE16(m_data + 4), 100);
            A = qnGetBE32(m_data + 6);
            m_pos = 10;
            // More extra knives than the cut map can hold, or than the bytes
            // left could describe, fail before anything is sized for them.
            if (A > CWnd_MainModel::kMaxAuxKnives || uint64_t(A) * 13 > m_size - m_pos)
                return false;
        } else {
            if (m_size < 6)
                return false;
            R = std::min<uint16_t>(qnGetBE16(m_data + 2), 100);
            C = std::min<uint16_t>(qnGetBE16(m_data + 4), 100);
            A = 0;
            m_pos = 6;
        }
        return true;
    }

    bool Body(CWnd_MainModel* m)
    {
        const uint32_t knots = uint32_t(C + 2) * (R + 2);
        if (!Has(4ull * (R + C)))
            return false;
        for (uint32_t i = 0; i < uint32_t(R) + C; ++i) {
            const float v = F32();
            if (!std::isfinite(v))
                return false;
            if (m) {
                const float pos = std::clamp(v, 0.0f, 1.0f);
                if (i < R)
                    m->m_RowSplitters[i] = pos;
                else
                    m->m_ColSplitters[i - R] = pos;
            }
        }
        if (!Has(4) || U32() != knots || !Has(8ull * knots))
            return false;
        for (uint32_t i = 0; i < knots; ++i) {
            const float dx = F32(), dy = F32();
            if (!std::isfinite(dx) || !std::isfinite(dy))
                return false;
            if (m) {
                m->m_Knots[i].dx = std::clamp(dx, -1.0f, 1.0f);
                m->m_Knots[i].dy = std::clamp(dy, -1.0f, 1.0f);
            }
        }
        const uint32_t colKnives = uint32_t(C) * (R + 1), rowKnives = uint32_t(C + 1) * R;
        const uint32_t header = m_version == 3 ? 5 : 3;
        if (!Has(4) || U32() != colKnives || !Has(uint64_t(header) * colKnives))
            return false;
        for (uint32_t i = 0; i < colKnives; ++i)
            if (!Knife(m ? &m->m_ColKnives[i] : nullptr))
                return false;
        if (!Has(4) || U32() != rowKnives || !Has(uint64_t(header) * rowKnives))
            return false;
        for (uint32_t i = 0; i < rowKnives; ++i)
            if (!Knife(m ? &m->m_RowKnives[i] : nullptr))
                return false;

        if (m_version == 2) {
            if (!Has(5))
                return false;
            const uint16_t thickness = U16();
            const uint16_t knob = U16();
            const uint8_t aa = U8();
            if (m) {
                const uint32_t th = std::min<uint32_t>(thickness, 255), kb = std::min<uint32_t>(knob, 255);
                for (uint32_t i = 0; i < colKnives; ++i) {
                    m->m_ColKnives[i].thickness = th;
                    m->m_ColKnives[i].knobSize = kb;
                }
                for (uint32_t i = 0; i < rowKnives; ++i) {
                    m->m_RowKnives[i].thickness = th;
                    m->m_RowKnives[i].knobSize = kb;
                }
                m->m_bRazorCut = thickness == 0;
                m->m_bAntiAlias = aa == 1;
            }
            return true;
        }

        if (!Has(4) || U32() != A)
            return false;
        for (uint32_t i = 0; i < A; ++i) {
            CWnd_MainModel::AUXKNIFESTRUCT* aux = m ? &m->m_AuxKnives[i] : nullptr;
            if (aux) {
                delete aux->knife.points;
                std::memset(aux, 0, sizeof(*aux));
            }
            if (!Knife(aux ? &aux->knife : nullptr) || !Has(8))
                return false;
            const uint32_t a = U32(), b = U32();
            if (a >= knots || b >= knots)
                return false;
            if (aux) {
                aux->knotA = a;
                aux->knotB = b;
            }
        }
        if (!Has(2))
            return false;
        const uint8_t razor = U8(), aa = U8();
        if (m) {
            m->m_bRazorCut = razor == 1;
            m->m_bAntiAlias = aa == 1;
        }
        records = nullptr;
        recordCount = 0;
        if (m_data[0] == 1 && Has(4)) {
            const uint32_t p = U32();
            if (uint64_t(p) * CWnd_MainModel::kPieceRecordSize <= m_size - m_pos && RecordsFinite(p)) {
                records = m_data + m_pos;
                recordCount = p;
            }
        }
        return true;
    }

private:
    bool Has(uint64_t n) const { return n <= uint64_t(m_size - m_pos); }
    uint8_t U8() { return m_data[m_pos++]; }
    uint16_t U16()
    {
        const uint16_t v = qnGetBE16(m_data + m_pos);
        m_pos += 2;
        return v;
    }
    uint32_t U32()
    {
        const uint32_t v = qnGetBE32(m_data + m_pos);
        m_pos += 4;
        return v;
    }
    float F32()
    {
        const float v = qnGetBEFloat(m_data + m_pos);
        m_pos += 4;
        return v;
    }

    // The light direction of the bevel must be a number: an effect record
    // that carries anything else is not taken.
    bool RecordsFinite(uint32_t count) const
    {
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* rec = m_data + m_pos + size_t(i) * CWnd_MainModel::kPieceRecordSize;
            for (int off : {8, 12, 16}) {
                const uint32_t bits = uint32_t{rec[off]} | (uint32_t{rec[off + 1]} << 8) |
                                      (uint32_t{rec[off + 2]} << 16) | (uint32_t{rec[off + 3]} << 24);
                if (!std::isfinite(std::bit_cast<float>(bits)))
                    return false;
            }
        }
        return true;
    }

    bool Knife(CWnd_MainModel::KNIFESTRUCT* k)
    {
        const uint32_t header = m_version == 3 ? 5 : 3;
        if (!Has(header))
            return false;
        const uint8_t flags = U8();
        const uint16_t n = U16();
        uint8_t knob = 100, thickness = 3;
        if (m_version == 3) {
            knob = U8();
            thickness = U8();
        }
        if (n > CWnd_MainModel::kMaxNodes || !Has(12ull * n))
            return false;
        const uint8_t* values = m_data + m_pos;
        for (uint32_t i = 0; i < 3u * n; ++i)
            if (!std::isfinite(qnGetBEFloat(values + 4 * i)))
                return false;
        m_pos += 12 * n;
        if (!k)
            return true;
        k->flipH = (flags & kFlagAcross) != 0;
        k->flipU = (flags & kFlagAlong) != 0;
        k->off = (flags & kFlagOff) != 0;
        k->selected = (flags & kFlagSelected) != 0;
        k->nodeCount = n;
        k->knobSize = knob;
        k->thickness = thickness;
        double sum = 0.0;
        for (uint32_t i = 0; i < n; ++i) {
            k->U[i] = std::clamp(qnGetBEFloat(values + 4 * i), 0.0f, 1.0f);
            k->H[i] = std::clamp(qnGetBEFloat(values + 4 * (n + i)), -3.0f, 3.0f);
            k->S[i] = std::clamp(qnGetBEFloat(values + 4 * (2 * n + i)), -2.0f, 2.0f);
            sum += k->U[i];
        }
        k->centerU = n ? static_cast<float>(sum / n) : 0.0f;
        k->length = 0.0f;
        return true;
    }

    const uint8_t* m_data;
    uint32_t m_size;
    uint8_t m_version;
    uint32_t m_pos = 0;
};

}  // namespace

bool CWnd_MainModel::settings_CheckBlock(const uint8_t* data, uint32_t size, uint8_t version)
{
    if (!data || (version != 2 && version != 3))
        return false;
    BlockWalker w(data, size, version);
    return w.Header() && w.Body(nullptr);
}

// Versions 2 and 3 differ only in what the walker reads; version 2 blocks
// carry no extra knives and no piece records.
bool CWnd_MainModel::i_ReadBlock(const uint8_t* data, uint32_t size, uint8_t version, const uint8_t** records,
                                 uint32_t& count)
{
    if (!data)
        return false;
    BlockWalker check(data, size, version);
    if (!check.Header() || !check.Body(nullptr))
        return false;
    if (!spl_SplitEvenParts(uint16_t(check.C + 1), uint16_t(check.R + 1), kForce, kResetExtras)) {
        m_nModelError = qnerr::NoMemory;
        return false;
    }
    if (version == 3 && !spl_InitAuxKnivesMem(check.A))
        return false;
    m_nAuxKnives = version == 3 ? check.A : 0;
    BlockWalker apply(data, size, version);
    apply.Header();
    apply.Body(this);
    if (version == 3) {
        if (records)
            *records = apply.records;
        count = apply.records ? apply.recordCount : 0;
    }
    return true;
}

void CWnd_MainModel::i_AfterRead(uint8_t redraw)
{
    spl_OnKnifeSelChanged();
    if (redraw) {
        DoRedrawOverlay();
        view_RenderAndUpdate(m_rcPreview);
        OnChangeSelectedKnots();
    }
}

bool CWnd_MainModel::i_LoadBlock(const uint8_t* data, uint32_t size, uint8_t version, const uint8_t** records,
                                 uint32_t& count, uint8_t redraw)
{
    if (records)
        *records = nullptr;
    count = 0;
    m_nModelError = 0;
    if (!i_ReadBlock(data, size, version, records, count)) {
        // Only a grid that cannot be allocated fails the read; a damaged
        // block gives the default layout.
        if (m_nModelError == qnerr::NoMemory)
            return false;
        return settings_LoadDefaults();
    }
    i_AfterRead(redraw);
    return true;
}

bool CWnd_MainModel::settings_LoadCurLayoutAndCellSettingsFromMem(const uint8_t* data, uint32_t size,
                                                                  const uint8_t** records, uint32_t& count,
                                                                  uint8_t redraw)
{
    return i_LoadBlock(data, size, 3, records, count, redraw);
}

bool CWnd_MainModel::settings_LoadCurLayoutAndCellSettingsFromMem_old_v2(const uint8_t* data, uint32_t size,
                                                                         const uint8_t** records, uint32_t& count,
                                                                         uint8_t redraw)
{
    return i_LoadBlock(data, size, 2, records, count, redraw);
}

bool CWnd_MainModel::settings_LoadDefaults()
{
    uint32_t columns, rows;
    if (m_nImageWidth <= m_nImageHeight) {
        columns = 2;
        rows = icGetIdealRowsForColumns(2);
    } else {
        rows = 2;
        columns = icGetIdealColumnsForRows(2);
    }
    // Forced, so that no part of the layout before survives.
    if (!spl_SplitEvenParts(uint16_t(columns), uint16_t(rows), kForce, kResetExtras))
        return false;
    m_nAuxKnives = 0;
    for (uint32_t i = 0; i < m_nColKnives; ++i)
        settings_SetDefaultKnife(&m_ColKnives[i]);
    for (uint32_t i = 0; i < m_nRowKnives; ++i)
        settings_SetDefaultKnife(&m_RowKnives[i]);
    auto centre = [](KNIFESTRUCT& k) {
        double sum = 0.0;
        for (uint32_t i = 0; i < k.nodeCount; ++i)
            sum += k.U[i];
        k.centerU = k.nodeCount ? float(sum / k.nodeCount) : 0.0f;
    };
    for (uint32_t i = 0; i < m_nColKnives; ++i)
        centre(m_ColKnives[i]);
    for (uint32_t i = 0; i < m_nRowKnives; ++i)
        centre(m_RowKnives[i]);
    spl_OnKnifeSelChanged();
    return true;
}
