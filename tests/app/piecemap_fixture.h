// A real engine split of a small picture with a piece map bound to it, and
// a piece map that records what it asked of the window and counts renders.
#pragma once

#include "app/MainModel.h"
#include "app/PieceMap.h"
#include "core/RandomSource.h"
#include "engine/Tessolo.h"
#include "imaging/Image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace pm_test {

class RecordingMap : public CPieceMap, public CMainProgressTarget {
public:
    std::vector<uint32_t> rendered;  // every piece rendered, in order
    int depth = 0, maxDepth = 0;     // re-entrance of the render
    int failAt = -1;                 // the n-th render fails
    int batches = 0;                 // calls that render pieces side by side
    int previewRedraws = 0, quickRedraws = 0, refreshes = 0, statusDone = 0;
    uint16_t lastWord = 0;
    int extrasChanges = 0;
    bool fxWindow = false;
    int fxDeleted = 0;
    std::vector<int> reports;
    std::function<void()> onEvents;  // what the pumped events do
    std::function<void()> onRender;  // runs inside each render (as progress pumping would)

    using CPieceMap::m_bBusy;
    using CPieceMap::m_bRestart;

    void pm_RedrawPreview(uint8_t hq) override { ++(hq ? previewRedraws : quickRedraws); }
    void pm_OnExtrasChanged(uint8_t) override { ++extrasChanges; }
    void pm_RefreshControls(uint16_t w) override
    {
        ++refreshes;
        lastWord = w;
    }
    void pm_StatusDone() override { ++statusDone; }
    CMainProgressTarget* pm_ProgressTarget() override { return this; }
    void pm_ProcessEvents() override
    {
        if (onEvents)
            onEvents();
    }
    bool pm_HasFXWindow() const override { return fxWindow; }
    void pm_DeleteFXWindow() override
    {
        if (fxWindow)
            ++fxDeleted;
        fxWindow = false;
    }
    bool pm_RenderPiece(uint32_t piece) override
    {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        if (onRender)
            onRender();
        const bool fail = failAt >= 0 && int(rendered.size()) == failAt;
        bool ok = false;
        if (!fail) {
            ok = CPieceMap::pm_RenderPiece(piece);
            rendered.push_back(piece);
        }
        --depth;
        return ok;
    }
    // A batch as the pieces one at a time would go: the n-th render fails,
    // and the batch is rendered up to it through the real call.
    // A batch that fails is rendered without its composite.
    uint32_t pm_RenderPieces(const std::vector<uint32_t>& pieces, const std::vector<uint32_t>* area) override
    {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        ++batches;
        if (onRender)
            onRender();
        std::vector<uint32_t> part = pieces;
        if (failAt >= int(rendered.size()) && failAt < int(rendered.size() + part.size()))
            part.resize(size_t(failAt) - rendered.size());
        const uint32_t done =
            part.empty() ? 0 : CPieceMap::pm_RenderPieces(part, part.size() == pieces.size() ? area : nullptr);
        rendered.insert(rendered.end(), part.begin(), part.begin() + done);
        --depth;
        return done;
    }
    void UpdateStatusProgress(const char*, uint8_t percent) override { reports.push_back(percent); }
    void ProcessPendingEvents() override {}
};

// A width x height RGB picture cut into columns x rows cells, every piece
// rendered with the engine's default effects and composited.
struct Split {
    uint32_t w, h;
    CTessolo engine;
    std::vector<std::vector<uint8_t>> planes;
    std::vector<uint8_t*> ptrs;
    CQNF_Image image, source;
    std::vector<uint8_t> alpha, selMap;
    RecordingMap map;
    CQNF_SeededRandom random{3};

    Split(uint16_t columns, uint16_t rows, uint8_t razor, uint32_t width = 96, uint32_t height = 72,
          uint8_t colorMode = 1)
        : w(width), h(height)
    {
        CWnd_MainModel layout;
        layout.SetImageSize(w, h);
        EXPECT_TRUE(layout.spl_SplitEvenParts(columns, rows, 1, 1));
        layout.m_bRazorCut = razor;
        layout.m_bAntiAlias = 1;
        for (uint32_t i = 0; i < layout.m_nColKnives; ++i)
            layout.m_ColKnives[i].thickness = 2;
        for (uint32_t i = 0; i < layout.m_nRowKnives; ++i)
            layout.m_RowKnives[i].thickness = 2;
        EXPECT_TRUE(layout.engine_PutLayoutToPuzzleEngine(&engine));
        planes.assign(3, std::vector<uint8_t>(size_t(w) * h));
        for (uint32_t k = 0; k < 3; ++k)
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 0; x < w; ++x)
                    planes[k][size_t(y) * w + x] = uint8_t((x * (k + 2) + y * (5 - k) + (x * y) % 13) & 0xFF);
        for (auto& p : planes)
            ptrs.push_back(p.data());
        EXPECT_TRUE(engine.SplitCells(w, h, nullptr, 0, ptrs.data(), w, 3, 0, 100, 1));
        EXPECT_TRUE(image.Create(uint16_t(w), uint16_t(h), 2));
        EXPECT_TRUE(source.Create(uint16_t(w), uint16_t(h), 2));
        for (uint32_t k = 0; k < 3; ++k)
            std::memcpy(source.GetPlane(k), planes[k].data(), size_t(w) * h);
        alpha.assign(size_t(w) * h, 255);
        selMap.assign(size_t(w) * h, 0);
        EXPECT_TRUE(map.pm_Begin(&engine, &image, &source, alpha.data(), selMap.data(), w, h, colorMode));
        map.pm_SetRandomSource(&random);
        Composite();
    }

    // The whole image composited from the pieces as they are now, started
    // from the picture's colours, into planes that held something else.
    std::vector<uint8_t> FreshComposite()
    {
        std::vector<uint8_t> out(size_t(w) * h * 4, 7);
        uint8_t* p[4] = {out.data(), out.data() + size_t(w) * h, out.data() + 2 * size_t(w) * h,
                         out.data() + 3 * size_t(w) * h};
        EXPECT_TRUE(engine.CombineSplitedCells(w, h, p, w, 4, alpha.data(), w, qnNullRect, ptrs.data(), 0, 100));
        return out;
    }
    void Composite()
    {
        const std::vector<uint8_t> c = FreshComposite();
        for (int k = 0; k < 4; ++k)
            std::memcpy(image.GetPlane(k), c.data() + size_t(k) * w * h, size_t(w) * h);
    }
    // The window's rendered image, all four planes (the colour under a
    // transparent pixel too: Apply hands it over).
    std::vector<uint8_t> Image() const
    {
        std::vector<uint8_t> out;
        for (int k = 0; k < 4; ++k)
            out.insert(out.end(), image.GetPlane(k), image.GetPlane(k) + size_t(w) * h);
        return out;
    }
    CTessolo::SPLITEDCELL& Piece(uint32_t i) { return engine.m_pPieces[i]; }
    uint32_t Count() const { return engine.m_nPieces; }
    // The centre of a piece's mask (a pixel it covers).
    qntPOS Inside(uint32_t i)
    {
        const CTessolo::SPLITEDCELL& c = Piece(i);
        const int32_t cx = (c.left + c.right) / 2, cy = (c.top + c.bottom) / 2;
        // Nearest covered pixel to the box centre.
        qntPOS best{c.left, c.top};
        int64_t bestD = INT64_MAX;
        for (int32_t y = c.top; y < c.bottom; ++y)
            for (int32_t x = c.left; x < c.right; ++x)
                if (c.mask->GetPtr()[size_t(y - c.top) * c.Width() + (x - c.left)] == 255) {
                    const int64_t d = int64_t(x - cx) * (x - cx) + int64_t(y - cy) * (y - cy);
                    if (d < bestD) {
                        bestD = d;
                        best = qntPOS{x, y};
                    }
                }
        return best;
    }
    std::vector<uint32_t> Selected()
    {
        std::vector<uint32_t> out;
        for (uint32_t i = 0; i < Count(); ++i)
            if (Piece(i).selected)
                out.push_back(i);
        return out;
    }
    // The selection map as it must be: 255 under the masks of the selected pieces.
    std::vector<uint8_t> ExpectedMap()
    {
        std::vector<uint8_t> out(size_t(w) * h, 0);
        for (uint32_t i = 0; i < Count(); ++i) {
            const CTessolo::SPLITEDCELL& c = Piece(i);
            if (!c.selected)
                continue;
            for (int32_t y = c.top; y < c.bottom; ++y)
                for (int32_t x = c.left; x < c.right; ++x)
                    if (c.mask->GetPtr()[size_t(y - c.top) * c.Width() + (x - c.left)])
                        out[size_t(y) * w + x] = 255;
        }
        return out;
    }
};

}  // namespace pm_test
