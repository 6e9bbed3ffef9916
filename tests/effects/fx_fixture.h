// A small picture cut into a grid of pieces by the real engine, and a fake
// main window for the effect sessions: it re-renders what changed as the main
// window does, keeps the piece undo snapshot and counts undo steps.
#pragma once

#include "core/RandomSource.h"
#include "effects/FxLayers.h"
#include "effects/FxSession.h"
#include "engine/Tessolo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

namespace fxtest {

struct Puzzle {
    CTessolo e;
    int32_t w, h;
    std::vector<std::vector<uint8_t>> planes;

    Puzzle(int32_t width = 160, int32_t height = 120, uint16_t cols = 4, uint16_t rows = 3) : w(width), h(height)
    {
        planes.assign(3, std::vector<uint8_t>(size_t(w) * h));
        for (int k = 0; k < 3; ++k)
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    planes[k][size_t(y) * w + x] = uint8_t((x * (k + 2) + y * (5 - k) + ((x * 7 + y * 13) % 11)) & 0xFF);
        EXPECT_TRUE(e.Init(cols, rows, 0));
        for (uint16_t c = 0; c + 1 < cols; ++c)
            e.m_fColumnGuides[c] = float(c + 1) / cols;
        for (uint16_t r = 0; r + 1 < rows; ++r)
            e.m_fRowGuides[r] = float(r + 1) / rows;
        uint8_t* ptrs[3] = {planes[0].data(), planes[1].data(), planes[2].data()};
        EXPECT_TRUE(e.SplitCells(w, h, nullptr, 0, ptrs, uint32_t(w), 3, 0, 100, 1));
    }

    // Every rendered plane of every piece, for byte-for-byte comparisons.
    std::vector<uint8_t> Rendered() const
    {
        std::vector<uint8_t> out;
        for (uint32_t i = 0; i < e.m_nPieces; ++i) {
            const CTessolo::SPLITEDCELL& p = e.m_pPieces[i];
            for (uint8_t k = 0; k < e.m_nWorkPlaneCount; ++k)
                for (int32_t y = 0; y < p.Height(); ++y) {
                    const uint8_t* row = p.planePtrs[k] + size_t(y) * p.planeStrides[k];
                    out.insert(out.end(), row, row + p.Width());
                }
        }
        return out;
    }

    std::vector<uint8_t> Records() const
    {
        std::vector<uint8_t> out(size_t(e.m_nPieces) * 92);
        for (uint32_t i = 0; i < e.m_nPieces; ++i)
            CTessolo::MakeOnePiece(e.m_pPieces[i]).StoreLE(out.data() + size_t(i) * 92);
        return out;
    }
};

// A fixed sequence of draws.
class ListRandom : public CQNF_RandomSource {
public:
    std::vector<uint32_t> draws;
    size_t next = 0;
    uint32_t Next() override { return draws.empty() ? 0 : draws[next++ % draws.size()]; }
};

class FakeMain : public CFxMainLink {
public:
    explicit FakeMain(Puzzle& puzzle) : p(puzzle) {}
    Puzzle& p;
    ListRandom random;
    uint32_t current = 0xFFFFFFFFu;
    bool busy = false;
    int renders = 0;           // re-render calls
    int piecesRendered = 0;    // pieces that actually changed
    int restarts = 0;          // calls while busy
    int undoSteps = 0;
    bool inFxMode = false;
    std::vector<uint8_t> snapshot;
    std::vector<bool> interruptible;

    void Enter()
    {
        snapshot = p.Records();
        inFxMode = true;
    }
    CTessolo& FxEngine() override { return p.e; }
    uint32_t FxCurrentPiece() override { return current; }
    bool FxBusy() override { return busy; }
    bool FxRerenderPieces(const std::vector<uint32_t>& pieces, bool canInterrupt) override
    {
        if (busy) {
            ++restarts;
            return true;
        }
        ++renders;
        interruptible.push_back(canInterrupt);
        for (uint32_t i : pieces) {
            CTessolo::SPLITEDCELL& c = p.e.m_pPieces[i];
            // Rendered only when a requested block differs from the applied one.
            bool differs = false;
            for (const FxKind* k : {&fxkind::kBrightnessContrast, &fxkind::kBlur, &fxkind::kOpacity,
                                    &fxkind::kBevel, &fxkind::kMotionBlur, &fxkind::kColorOverlay,
                                    &fxkind::kStroke, &fxkind::kHSL, &fxkind::kImageOverlay})
                differs |= std::memcmp(k->block(c, CTessolo::FX_APPLIED), k->block(c, CTessolo::FX_REQUESTED),
                                       k->blockSize) != 0;
            if (differs) {
                EXPECT_TRUE(p.e.RenderPiece(i));
                ++piecesRendered;
            }
        }
        return true;
    }
    void FxExitMode() override
    {
        inFxMode = false;
        if (p.Records() != snapshot)
            ++undoSteps;
    }
    CQNF_RandomSource& FxRandom() override { return random; }
};

// Timers on a fake clock: Advance() fires what falls due, in time order.
class FakeTimers : public CFxTimers {
public:
    struct Timer {
        uint32_t period;
        uint64_t due;
    };
    uint64_t now = 0;
    std::map<uint16_t, Timer> running;
    CFxSession* session = nullptr;

    void FxStartTimer(uint16_t id, uint32_t ms) override { running[id] = Timer{ms, now + ms}; }
    void FxStopTimer(uint16_t id) override { running.erase(id); }
    bool Running(uint16_t id) const { return running.count(id) != 0; }
    void Advance(uint64_t ms)
    {
        const uint64_t end = now + ms;
        for (;;) {
            uint16_t id = 0;
            uint64_t due = end + 1;
            for (auto& [k, t] : running)
                if (t.due < due)
                    due = t.due, id = k;
            if (due > end)
                break;
            now = due;
            running[id].due = due + running[id].period;
            if (session)
                session->OnTimer(id);
        }
        now = end;
    }
};

}  // namespace fxtest
