// Compositing only where some pieces lie: the union of their boxes cut into
// rectangles that do not overlap, each composited as the whole image would
// be there (alpha cleared, every piece over it in table order, the selection
// last), in each row only where the pieces' masks reach. A pixel's bytes
// depend only on the pieces over it, so the result is the whole composite's
// there and the old image elsewhere.
#include "engine/Tessolo.h"
#include "engine/CompositeRow.h"
#include "imaging/Parallel.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The union of boxes as rectangles that do not overlap: the rows cut where
// a box starts or ends, and in each slab of rows the boxes' columns joined.
// A rectangle with the columns of one in the slab above continues it, so
// that a box is not cut up by the edges of boxes beside it (fewer, taller
// rectangles: fewer tasks, and fewer pieces to look through for each).
std::vector<qntRECT_s> DisjointArea(const std::vector<qntRECT_s>& boxes)
{
    std::vector<int32_t> ys;
    for (const qntRECT_s& b : boxes) {
        ys.push_back(b.top);
        ys.push_back(b.bottom);
    }
    std::sort(ys.begin(), ys.end());
    ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
    std::vector<qntRECT_s> out;
    std::vector<std::pair<int32_t, int32_t>> spans;
    std::vector<size_t> above, here;  // the rectangles ending at this slab's top, and at its bottom
    for (size_t i = 0; i + 1 < ys.size(); ++i) {
        const int32_t y0 = ys[i], y1 = ys[i + 1];
        spans.clear();
        for (const qntRECT_s& b : boxes)
            if (b.top <= y0 && b.bottom >= y1)
                spans.emplace_back(b.left, b.right);
        std::sort(spans.begin(), spans.end());
        here.clear();
        for (size_t k = 0; k < spans.size();) {
            int32_t l = spans[k].first, r = spans[k].second;
            for (++k; k < spans.size() && spans[k].first <= r; ++k)
                r = std::max(r, spans[k].second);
            const auto same = std::find_if(above.begin(), above.end(), [&](size_t a) {
                return out[a].left == l && out[a].right == r && out[a].bottom == y0;
            });
            if (same != above.end()) {
                out[*same].bottom = y1;
                here.push_back(*same);
            } else {
                here.push_back(out.size());
                out.push_back(qntRECT_s{l, y0, r, y1});
            }
        }
        above.swap(here);
    }
    return out;
}

}  // namespace

bool CTessolo::CombinePieceAreas(long width, long height, uint8_t** planes, uint32_t stride, uint8_t planeCount,
                                 uint8_t* selection, uint32_t selectionStride, const uint32_t* indices,
                                 uint32_t count, const uint8_t* const* start, uint8_t from, uint8_t to,
                                 const uint32_t* render, uint32_t renderCount)
{
    if (m_bBusy)
        return false;
    BusyScope busy(m_bBusy);
    if (m_nPieces == 0)
        return true;
    if (renderCount && !render)
        return false;
    // Whatever becomes of the composite (a cancel, bad arguments), the
    // pieces to render are rendered: the caller counts on their effects.
    auto renderAlone = [&] { return i_RenderPieces(render, renderCount); };
    if (count == 0)
        return renderAlone();
    bool bad = !indices || !planes || planeCount != m_nWorkPlaneCount || width <= 0 || height <= 0 ||
               stride < uint32_t(width);
    for (uint8_t k = 0; !bad && k < planeCount; ++k)
        bad = !planes[k];
    if (bad || !i_ProgressStep(0, from, to)) {
        renderAlone();
        return false;
    }

    bool outside = false;
    std::vector<qntRECT_s> boxes;
    std::vector<uint8_t> listed(m_nPieces, 0);
    for (uint32_t i = 0; i < count; ++i) {
        if (indices[i] >= m_nPieces) {
            outside = true;
            continue;
        }
        listed[indices[i]] = 1;
        const SPLITEDCELL& p = m_pPieces[indices[i]];
        const qntRECT_s b{std::max<int32_t>(p.left, 0), std::max<int32_t>(p.top, 0),
                          int32_t(std::min<long>(p.right, width)), int32_t(std::min<long>(p.bottom, height))};
        if (b.left < b.right && b.top < b.bottom)
            boxes.push_back(b);
    }
    const std::vector<qntRECT_s> area = DisjointArea(boxes);

    // Tasks of about an even share of the area (at least 64K pixels), each
    // a band of rows of one rectangle with the pieces over it.
    const unsigned threads = qnpar::ThreadCount();
    uint64_t pixels = 0;
    for (const qntRECT_s& r : area)
        pixels += uint64_t(r.right - r.left) * uint64_t(r.bottom - r.top);
    const uint64_t share = std::max<uint64_t>(uint64_t(1) << 16, pixels / (uint64_t(threads) * 8));
    struct Task {
        qntRECT_s rect;
        uint32_t first, last;  // its pieces: over[first .. last)
    };
    std::vector<Task> tasks;
    std::vector<uint32_t> over;
    for (const qntRECT_s& r : area) {
        const uint32_t first = uint32_t(over.size());
        for (uint32_t i = 0; i < m_nPieces; ++i) {
            const SPLITEDCELL& p = m_pPieces[i];
            if (p.left < r.right && p.right > r.left && p.top < r.bottom && p.bottom > r.top)
                over.push_back(i);
        }
        const int32_t rows = std::max<int32_t>(1, int32_t(share / uint64_t(r.right - r.left)));
        for (int32_t y = r.top; y < r.bottom; y += rows)
            tasks.push_back(Task{qntRECT_s{r.left, y, r.right, std::min(r.bottom, y + rows)}, first,
                                 uint32_t(over.size())});
    }

    // The pieces to render go on the threads side by side, and a task starts
    // once the pieces over it that are rendered here are done: the threads
    // that have no piece left composite while the last pieces render. That
    // takes a thread's own filters and work planes for every thread, and no
    // piece that reads the host's layers (the calling thread's alone);
    // otherwise the pieces are rendered first.
    std::vector<uint8_t> skip;
    const bool renderOutside = renderCount && i_MarkRenderList(render, renderCount, skip);
    std::vector<uint8_t> usable;
    bool together = renderCount && m_memWork.GetPtr() && threads > 1 &&
                    i_RenderSlots(std::max(renderCount, threads), usable) == threads;
    for (unsigned t = 0; together && t < usable.size(); ++t)
        together = usable[t] != 0;
    for (uint32_t i = 0; together && i < renderCount; ++i)
        together = skip[i] || !i_ReadsHostLayers(m_pPieces[render[i]]);
    bool renderFailed = false;
    if (renderCount && !together) {
        renderFailed = !renderAlone();
        renderCount = 0;
    }
    // rendered[i] is 0 while piece i is still to be rendered. Tasks are
    // handed out in the order their last piece to render is, so that those
    // that can start first are taken first.
    std::unique_ptr<std::atomic<uint8_t>[]> rendered;
    std::vector<uint32_t> toRender;
    if (renderCount) {
        for (uint32_t i = 0; i < renderCount; ++i)
            if (!skip[i])
                toRender.push_back(render[i]);
        rendered = std::make_unique<std::atomic<uint8_t>[]>(m_nPieces);
        std::vector<uint32_t> order(m_nPieces, 0);  // 1 + the place in the render list
        for (uint32_t i = 0; i < m_nPieces; ++i)
            rendered[i].store(1, std::memory_order_relaxed);
        for (uint32_t i = 0; i < toRender.size(); ++i) {
            rendered[toRender[i]].store(0, std::memory_order_relaxed);
            order[toRender[i]] = i + 1;
        }
        std::vector<uint32_t> last(tasks.size(), 0);
        std::vector<uint32_t> byReady(tasks.size());
        for (size_t t = 0; t < tasks.size(); ++t) {
            byReady[t] = uint32_t(t);
            for (uint32_t k = tasks[t].first; k < tasks[t].last; ++k)
                last[t] = std::max(last[t], order[over[k]]);
        }
        std::stable_sort(byReady.begin(), byReady.end(), [&](uint32_t a, uint32_t b) { return last[a] < last[b]; });
        std::vector<Task> sorted;
        sorted.reserve(tasks.size());
        for (uint32_t t : byReady)
            sorted.push_back(tasks[t]);
        tasks.swap(sorted);
    }

    // Inside a listed piece's box, only the columns of each row between the
    // first and last pixel its mask covers can change: elsewhere in the box
    // its alpha is 0 (every effect keeps the mask's alpha), so those pixels
    // are the other pieces' alone and stay as they are. A part composites
    // in each row only the columns from the first to the last such pixel of
    // the listed pieces over it, often half of the boxes' area, and reads
    // each piece's alpha there only inside its rowSpans (a neighbour's
    // zeros are not looked through).
    const uint8_t colours = uint8_t(planeCount - 1);
    uint8_t* const dstAlpha = planes[colours];
    auto composite = [&](const Task& t) {
        const qntRECT_s& rect = t.rect;
        std::vector<int32_t> spans(2 * size_t(rect.bottom - rect.top));
        for (size_t i = 0; i < spans.size(); i += 2) {
            spans[i] = rect.right;
            spans[i + 1] = rect.left;
        }
        for (uint32_t k = t.first; k < t.last; ++k) {
            if (!listed[over[k]])
                continue;
            const SPLITEDCELL& p = m_pPieces[over[k]];
            const int32_t l = std::max(p.left, rect.left), r = std::min(p.right, rect.right);
            for (int32_t y = std::max(p.top, rect.top); y < std::min(p.bottom, rect.bottom); ++y) {
                const int32_t x0 = std::max(l, p.left + p.rowSpans[2 * (y - p.top)]);
                const int32_t x1 = std::min(r, p.left + p.rowSpans[2 * (y - p.top) + 1]);
                if (x0 < x1) {
                    int32_t* s = &spans[2 * size_t(y - rect.top)];
                    s[0] = std::min(s[0], x0);
                    s[1] = std::max(s[1], x1);
                }
            }
        }
        auto eachSpan = [&](auto&& f) {
            for (int32_t y = rect.top; y < rect.bottom; ++y) {
                const int32_t* s = &spans[2 * size_t(y - rect.top)];
                if (s[0] < s[1])
                    f(size_t(y), size_t(s[0]), int32_t(s[1] - s[0]));
            }
        };
        eachSpan([&](size_t y, size_t x, int32_t n) {
            std::memset(dstAlpha + y * stride + x, 0, size_t(n));
            tessolo_composite::StartRow(planes, start, colours, y * stride + x, size_t(n));
        });
        for (uint32_t k = t.first; k < t.last; ++k)
            i_CompositePiece(m_pPieces[over[k]], planes, stride, colours, rect, spans.data());
        if (selection)
            eachSpan([&](size_t y, size_t x, int32_t n) {
                tessolo_composite::LimitToSelection(dstAlpha + y * stride + x, selection + y * selectionStride + x, n);
            });
    };
    // Rounds of at least a few tasks a thread and 4 MP, progress and cancel
    // between them: the area of a few dozen pieces goes in one round, with
    // no thread waiting for the others halfway.
    constexpr uint64_t kRoundPixels = uint64_t(1) << 22;
    const uint32_t roundTasks = std::max<uint32_t>(1, threads * 4);
    for (uint32_t t0 = 0; t0 < tasks.size();) {
        if (!i_ProgressStep(5.0 + 90.0 * t0 / double(tasks.size()), from, to)) {
            if (t0 == 0)
                renderAlone();
            return false;
        }
        uint32_t t1 = t0;
        for (uint64_t px = 0; t1 < tasks.size() && (t1 - t0 < roundTasks || px < kRoundPixels); ++t1) {
            const qntRECT_s& r = tasks[t1].rect;
            px += uint64_t(r.right - r.left) * uint64_t(r.bottom - r.top);
        }
        // The first round takes the pieces to render as its first parts.
        const uint32_t pieces = t0 == 0 ? uint32_t(toRender.size()) : 0;
        qnpar::For(pieces + t1 - t0, threads, [&](uint32_t i, unsigned worker) {
            if (i < pieces) {
                i_RenderPieceOn(toRender[i], worker);
                rendered[toRender[i]].store(1, std::memory_order_release);
                return;
            }
            const Task& t = tasks[t0 + i - pieces];
            // Every piece still rendering was handed out before this task,
            // to a thread that is at it now: the wait always ends.
            if (rendered)
                for (uint32_t k = t.first; k < t.last; ++k)
                    qnpar::WaitForFlag(rendered[over[k]]);
            composite(t);
        });
        t0 = t1;
    }
    return i_ProgressStep(100, from, to) && !outside && !renderOutside && !renderFailed;
}
