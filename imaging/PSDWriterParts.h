// What the two files of the PSD writer share: the writer's own class, and
// the store that keeps packed rows until their lengths are written.
#pragma once

#include "imaging/PSDBytes.h"
#include "imaging/PSDCodec.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace qnpsdw {

// Canvas rows of the merged image composited at a time: small beside the
// picture, large enough that walking the layers once per band costs nothing.
constexpr uint32_t kMergedBandRows = 64;

// What is kept of the packed rows until their lengths are written: the
// layers' row plans, then the merged image's packed rows. Beyond it a row
// is packed again when it is written.
constexpr size_t kKeptBytes = size_t{64} << 20;

// Rows kept in the order they come, in blocks taken once at their full size
// (never grown, so never copied, and no room asked beyond a block's worth):
// a row's bytes lie in one block, and are read back in the same order.
class RowStore {
public:
    size_t Size() const { return m_size; }
    // Adds a row's bytes; false without memory.
    bool Add(const unsigned char* p, size_t n)
    {
        if (m_blocks.empty() || m_blocks.back().room - m_blocks.back().used < n) {
            Block b;
            b.room = std::max(kBlock, n);
            b.bytes.reset(new (std::nothrow) unsigned char[b.room]);
            if (!b.bytes)
                return false;
            try {
                m_blocks.push_back(std::move(b));
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
        Block& b = m_blocks.back();
        std::memcpy(b.bytes.get() + b.used, p, n);
        b.used += n;
        m_size += n;
        return true;
    }
    // Where the rows end now, and back to there: a row or more dropped.
    std::pair<size_t, size_t> End() const
    {
        return {m_blocks.size(), m_blocks.empty() ? 0 : m_blocks.back().used};
    }
    void DropFrom(std::pair<size_t, size_t> end)
    {
        while (m_blocks.size() > end.first) {
            m_size -= m_blocks.back().used;
            m_blocks.pop_back();
        }
        if (!m_blocks.empty()) {
            m_size -= m_blocks.back().used - end.second;
            m_blocks.back().used = end.second;
        }
    }
    // The next row's bytes, reading from the first; Took(n) passes them.
    // A block read to its end is let go.
    const unsigned char* Next()
    {
        while (m_read < m_blocks.size() && m_at == m_blocks[m_read].used) {
            m_blocks[m_read++].bytes.reset();
            m_at = 0;
        }
        return m_read < m_blocks.size() ? m_blocks[m_read].bytes.get() + m_at : nullptr;
    }
    void Took(size_t n) { m_at += n; }
    // Looking ahead of the reading: a place that starts where it is, the
    // bytes of the row at a place, and past them.
    struct Place {
        size_t block = 0;
        size_t at = 0;
    };
    Place Here() const { return {m_read, m_at}; }
    const unsigned char* At(Place& p) const
    {
        while (p.block < m_blocks.size() && p.at == m_blocks[p.block].used) {
            ++p.block;
            p.at = 0;
        }
        return p.block < m_blocks.size() ? m_blocks[p.block].bytes.get() + p.at : nullptr;
    }
    // Every byte kept, block by block, to f(bytes, n) until it fails.
    template <typename F>
    bool Each(F f) const
    {
        for (const Block& b : m_blocks)
            if (b.used && !f(b.bytes.get(), b.used))
                return false;
        return true;
    }
    void Clear()
    {
        std::vector<Block>().swap(m_blocks);
        m_size = m_read = m_at = 0;
    }

private:
    static constexpr size_t kBlock = size_t{1} << 20;
    struct Block {
        std::unique_ptr<unsigned char[]> bytes;
        size_t room = 0;
        size_t used = 0;
    };
    std::vector<Block> m_blocks;
    size_t m_size = 0;
    size_t m_read = 0;
    size_t m_at = 0;
};

// Colour channels per write mode (1 colour, 2 grey, 3 CMYK); 0 otherwise.

}  // namespace qnpsdw

class CQNF_ImagePSD::Writer {
public:
    explicit Writer(CQNF_ImagePSD& c) : m_c(c) {}

    bool Run();

private:
    bool Validate();
    bool Header();
    // The record of a layer whose channels have the given lengths.
    bool LayerRecord(const WriteLayer& l, const uint32_t* lengths);
    // The length a channel's packed rows give it. Their plans are kept in
    // m_plans while they fit (kept says whether they were), else their row
    // table in table.
    bool MeasureChannel(const unsigned char* plane, uint32_t stride, uint32_t width, uint32_t height,
                        std::vector<unsigned char>& table, uint32_t& length, bool& kept);
    // The channel's compression, its row table and its rows, from their
    // kept plans or packed again; neither plans nor a table: a layer
    // without pixels.
    bool PackedChannel(const unsigned char* plane, uint32_t stride, uint32_t width, uint32_t height,
                       const std::vector<unsigned char>& table, bool kept);
    bool Merged();
    // The caller's merged picture from its source, its colours put over
    // white in m_made, its transparency let go.
    bool MakeMerged();
    // Composites the merged image's channels, a band at a time, calling
    // row(c, y, pixels) for every row.
    template <typename Row>
    bool MergedRows(uint32_t progressFrom, uint32_t progressSpan, Row row);
    // Channel c of canvas rows [y0, y0 + rows): every visible layer over
    // white, in order, or the caller's merged picture over white.
    void MergedBand(uint32_t c, uint32_t y0, uint32_t rows, unsigned char* canvas) const;
    void GivenMergedBand(uint32_t c, uint32_t y0, uint32_t rows, unsigned char* canvas) const;
    static bool Shows(const PSDMLWRITE_LAYERPARAMS& p) { return p.visible && p.opacity && p.width && p.height; }

    // Bytes go to the file, or are only counted while the length of a
    // part that must come first is found.
    bool Put(const void* p, size_t n)
    {
        if (m_counting) {
            m_counted += n;
            return true;
        }
        if (!m_c.Write_Buffer(static_cast<const unsigned char*>(p), n))
            return false;
        m_written += n;
        return true;
    }
    bool Tag(const char* four) { return Put(four, 4); }
    bool U8(uint8_t v) { return Put(&v, 1); }
    bool U16(uint16_t v)
    {
        unsigned char b[2];
        qnpsd::PutU16(b, v);
        return Put(b, 2);
    }
    bool U32(uint32_t v)
    {
        unsigned char b[4];
        qnpsd::PutU32(b, v);
        return Put(b, 4);
    }
    // A length or position the format's 32 bits cannot hold fails (error
    // 33) before anything of it is written, so none is ever truncated.
    bool Fits(uint64_t value)
    {
        if (value <= 0xFFFFFFFFu)
            return true;
        m_c.SetError(qnerr::FileWrite);
        return false;
    }
    bool Report(uint64_t percent)
    {
        if (m_c.i_Report(static_cast<uint8_t>(percent)))
            return true;
        m_cancelled = true;
        return false;
    }

    CQNF_ImagePSD& m_c;
    const PSDMLWRITE_INITPARAMS& P() const { return m_c.m_writeParams; }
    uint32_t m_n = 0;
    CQNF_Mem m_scratch;
    bool m_cancelled = false;
    bool m_counting = false;
    uint64_t m_counted = 0;
    // The layers' row plans, then the merged image's packed rows.
    qnpsdw::RowStore m_plans;
    bool m_keep = true;
    // One channel's row table, as it is made.
    std::vector<unsigned char> m_rows;
    // What the file holds so far, counted as it is written.
    uint64_t m_written = 0;
    // Per layer and row, the columns [first, end) between the first and the
    // last pixel that is not fully transparent (first == end: none): the
    // merged image skips what cannot change it.
    std::vector<std::vector<uint32_t>> m_spans;
    bool Spans();
    // The colour planes of the merged picture made by the caller's source,
    // over white already (empty when there is none).
    CQNF_Mem m_made;
};
