// Rebuilding the layout from a layout settings block.
//
// The block has no magic and no version: a header (pieces flag, pieces mode,
// rows - 1, columns - 1, free knife count), the guides, the knot offsets, the
// vertical, horizontal and free knives, the cut and smooth switches and,
// when the pieces flag is 1, the 92-byte effect records. Numbers are
// big-endian; the effect records are little-endian.
//
// The block comes from files and the host's scripting parameters, so it is
// read twice: the first pass checks every length, count, index and float
// without touching the engine, the second writes the layout. A block is thus
// either taken whole or refused with the engine unchanged.
#include "core/Bytes.h"
#include "engine/EngineBytes.h"
#include "engine/Tessolo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace tessolo_bytes;

namespace {

constexpr size_t kHeaderBytes = 10;
constexpr size_t kKnifeHeaderBytes = 5;

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    size_t Left() const { return m_size - m_pos; }
    bool Has(uint64_t n) const { return n <= Left(); }
    const uint8_t* Here() const { return m_data + m_pos; }
    void Skip(size_t n) { m_pos += n; }

    uint8_t U8() { return m_data[m_pos++]; }
    uint16_t U16()
    {
        const uint16_t v = qnGetBE16(Here());
        m_pos += 2;
        return v;
    }
    uint32_t U32()
    {
        const uint32_t v = qnGetBE32(Here());
        m_pos += 4;
        return v;
    }
    float F32()
    {
        const float v = qnGetBEFloat(Here());
        m_pos += 4;
        return v;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Reads (and, with a target, stores) one knife. Refuses a short record, more
// than 64 nodes and non-finite values.
bool ReadKnife(Reader& r, CTessolo::KNIFESTRUCT_RENDERER* out)
{
    if (!r.Has(kKnifeHeaderBytes))
        return false;
    const uint8_t flags = r.U8();
    const uint16_t n = r.U16();
    const uint8_t knob = r.U8();
    const uint8_t width = r.U8();
    if (n > CTessolo::kMaxNodes || !r.Has(uint64_t(12) * n))
        return false;

    float u[CTessolo::kMaxNodes];
    float h[CTessolo::kMaxNodes];
    float s[CTessolo::kMaxNodes];
    for (float* arr : {u, h, s})
        for (uint16_t i = 0; i < n; ++i) {
            arr[i] = r.F32();
            if (!std::isfinite(arr[i]))
                return false;
        }
    if (!out)
        return true;

    // Flip along reverses the node order and mirrors U; flip across negates
    // H after its clamp.
    const bool across = flags & 1;
    const bool along = flags & 2;
    out->width = width;
    out->nodes = n;
    for (uint16_t i = 0; i < n; ++i) {
        const uint16_t slot = along ? uint16_t(n - 1 - i) : i;
        float uu = std::clamp(u[i], 0.0f, 1.0f);
        if (along)
            uu = 1.0f - uu;
        float hh = std::clamp(h[i], -3.0f, 3.0f);
        if (across)
            hh = -hh;
        out->U[slot] = uu;
        out->H[slot] = hh;
        out->S[slot] = std::clamp(s[i], -2.0f, 2.0f);
    }
    if (flags & 4) {
        out->nodes = CTessolo::kKnifeOff;
    } else if (knob != 100 && n > 0) {
        // Grow or shrink the knob around its centre, along the knife and
        // across it alike.
        double m = 0.0;
        for (uint16_t i = 0; i < n; ++i)
            m += out->U[i];
        m /= n;
        const double p = knob / 100.0;
        for (uint16_t i = 0; i < n; ++i) {
            out->U[i] = static_cast<float>(m - (m - out->U[i]) * p);
            out->H[i] = static_cast<float>(out->H[i] * p);
        }
    }
    return true;
}

struct Header {
    uint8_t piecesFlag;
    uint8_t piecesMode;
    uint16_t innerRows;
    uint16_t innerColumns;
    uint32_t freeKnives;
};

// One pass over the block after the header. Without an engine it only
// checks; with one it writes the layout (the engine already sized by Init).
// recordsAt receives the position of the effect records and their count.
bool ReadBody(Reader& r, const Header& hd, CTessolo* engine, const uint8_t** recordsAt, uint32_t* recordCount)
{
    const uint32_t innerR = hd.innerRows;
    const uint32_t innerC = hd.innerColumns;

    if (!r.Has(uint64_t(4) * (innerR + innerC)))
        return false;
    for (uint32_t i = 0; i < innerR + innerC; ++i) {
        const float g = r.F32();
        if (!std::isfinite(g))
            return false;
        if (engine) {
            if (i < innerR)
                engine->m_fRowGuides[i] = g;
            else
                engine->m_fColumnGuides[i - innerR] = g;
        }
    }

    const uint32_t knots = (innerC + 2) * (innerR + 2);
    if (!r.Has(4) || r.U32() != knots || !r.Has(uint64_t(8) * knots))
        return false;
    for (uint32_t i = 0; i < knots; ++i) {
        const float dx = r.F32();
        const float dy = r.F32();
        if (!std::isfinite(dx) || !std::isfinite(dy))
            return false;
        if (engine)
            engine->m_pKnots[i] = CTessolo::KNOT{dx, dy};
    }

    auto knifeList = [&](uint32_t expected, CTessolo::KNIFESTRUCT_RENDERER* list) {
        if (!r.Has(4) || r.U32() != expected || !r.Has(uint64_t(kKnifeHeaderBytes) * expected))
            return false;
        for (uint32_t i = 0; i < expected; ++i)
            if (!ReadKnife(r, list ? &list[i] : nullptr))
                return false;
        return true;
    };
    if (!knifeList(innerC * (innerR + 1), engine ? engine->m_pVKnives : nullptr) ||
        !knifeList((innerC + 1) * innerR, engine ? engine->m_pHKnives : nullptr))
        return false;

    if (!r.Has(4) || r.U32() != hd.freeKnives || !r.Has(uint64_t(kKnifeHeaderBytes + 8) * hd.freeKnives))
        return false;
    for (uint32_t i = 0; i < hd.freeKnives; ++i) {
        CTessolo::FREEKNIFE_RENDERER* fk = engine ? &engine->m_pFreeKnives[i] : nullptr;
        if (!ReadKnife(r, fk ? &fk->knife : nullptr) || !r.Has(8))
            return false;
        const uint32_t a = r.U32();
        const uint32_t b = r.U32();
        // A knot index outside the grid would address memory past the knots.
        if (a >= knots || b >= knots)
            return false;
        if (fk) {
            fk->knotA = a;
            fk->knotB = b;
        }
    }

    if (!r.Has(2))
        return false;
    const uint8_t cut = r.U8();
    const uint8_t smooth = r.U8();
    if (engine) {
        engine->m_bCut = cut == 1;
        engine->m_bSmooth = smooth == 1;
    }

    *recordsAt = nullptr;
    *recordCount = 0;
    if (hd.piecesFlag == 1) {
        if (!r.Has(4))
            return false;
        const uint32_t count = r.U32();
        if (count > r.Left() / CTessolo::kSettingsRecordSize)
            return false;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* rec = r.Here() + size_t(i) * CTessolo::kSettingsRecordSize;
            const CTessolo::SFX_ONEPIECE one = CTessolo::SFX_ONEPIECE::LoadLE(rec);
            if (!std::isfinite(one.bevel.lightX) || !std::isfinite(one.bevel.lightY) ||
                !std::isfinite(one.bevel.lightZ))
                return false;
        }
        *recordsAt = r.Here();
        *recordCount = count;
    }
    return true;
}

}  // namespace

bool CTessolo::InitFromLastSettingsBinary(const CQNF_Mem* block, uint8_t& drawOnly, uint32_t& recordCount,
                                          SFX_ONEPIECE** records)
{
    recordCount = 0;
    if (records)
        *records = nullptr;
    if (!block || !block->GetPtr() || block->GetSize() < kHeaderBytes || m_bBusy)
        return false;

    Reader r(block->GetPtr(), block->GetSize());
    Header hd;
    hd.piecesFlag = r.U8();
    hd.piecesMode = r.U8();
    // Counts above 100 mean 100, as Init takes them; derived directly so
    // that 65535 cannot wrap to 0 on the way.
    hd.innerRows = std::min<uint16_t>(r.U16(), kMaxInner);
    hd.innerColumns = std::min<uint16_t>(r.U16(), kMaxInner);
    hd.freeKnives = r.U32();
    if (hd.freeKnives > kMaxFreeKnives)
        return false;

    const Reader body = r;
    const uint8_t* recordsAt = nullptr;
    uint32_t count = 0;
    if (!ReadBody(r, hd, nullptr, &recordsAt, &count))
        return false;

    // Everything that can fail comes before the layout is touched.
    CQNF_Mem decoded;
    if (count > 0 && !decoded.alloc(qnMulSize({count, sizeof(SFX_ONEPIECE)})))
        return false;
    if (!Init(static_cast<uint16_t>(hd.innerColumns + 1), static_cast<uint16_t>(hd.innerRows + 1), hd.freeKnives))
        return false;

    Reader again = body;
    ReadBody(again, hd, this, &recordsAt, &count);

    SFX_ONEPIECE* out = reinterpret_cast<SFX_ONEPIECE*>(decoded.GetPtr());
    for (uint32_t i = 0; i < count; ++i)
        out[i] = SFX_ONEPIECE::LoadLE(recordsAt + size_t(i) * kSettingsRecordSize);
    m_memRecords = std::move(decoded);

    drawOnly = hd.piecesMode == 0 ? 1 : 0;
    recordCount = count;
    if (records)
        *records = count ? reinterpret_cast<SFX_ONEPIECE*>(m_memRecords.GetPtr()) : nullptr;
    return true;
}
