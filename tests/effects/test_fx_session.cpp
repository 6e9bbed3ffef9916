// Effect sessions over a real engine split: the piece list, grading, the
// change protocol with its timers, live preview, OK and Cancel, undo steps.
#include "effects/FxModels.h"
#include "effects/FxNumbers.h"
#include "fx_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace fxtest;

namespace {

// A session with its fakes, opened as the main window opens an effect window:
// create (pieces, values, first change), then take the undo snapshot.
template <class Model>
struct Open {
    Puzzle& puzzle;
    FakeMain main;
    FakeTimers timers;
    Model model;

    explicit Open(Puzzle& p, uint32_t current = 0xFFFFFFFFu) : puzzle(p), main(p), model(main, timers)
    {
        main.current = current;
        timers.session = &model;
        model.SetCreating(true);
        EXPECT_TRUE(model.OnPreparePieces());
        model.LoadInitialValues();
        model.Changes(CFxSession::kDelayed);
        model.SetCreating(false);
        main.Enter();
        timers.FxStartTimer(CFxSession::kBusyTimer, 50);
    }
    template <class B>
    B ResultOf(uint32_t listIndex) const
    {
        B b;
        std::memcpy(&b, model.Result(listIndex), sizeof b);
        return b;
    }
    // The piece index at column c, row r of the grid (by centre).
    uint32_t ListIndexAt(double fx, double fy) const
    {
        const CTessolo& e = puzzle.e;
        uint32_t best = 0;
        double bestD = 1e18;
        for (uint32_t i = 0; i < model.Pieces().size(); ++i) {
            const auto& c = e.m_pPieces[model.Pieces()[i]];
            const double dx = (c.left + c.right) * 0.5 - fx * puzzle.w, dy = (c.top + c.bottom) * 0.5 - fy * puzzle.h;
            if (dx * dx + dy * dy < bestD)
                bestD = dx * dx + dy * dy, best = i;
        }
        return best;
    }
};

TEST(FxSession, ListsTheSelectedPiecesOrEveryPieceWhenNoneIsSelected)
{
    Puzzle p;
    ASSERT_EQ(p.e.m_nPieces, 12u);
    {
        Open<CFxBlurModel> s(p);
        EXPECT_EQ(s.model.Pieces().size(), 12u);
    }
    p.e.m_pPieces[3].selected = 1;
    p.e.m_pPieces[7].selected = 1;
    Open<CFxBlurModel> s(p);
    EXPECT_EQ(s.model.Pieces(), (std::vector<uint32_t>{3, 7}));
    const auto& a = p.e.m_pPieces[3];
    const auto& b = p.e.m_pPieces[7];
    EXPECT_DOUBLE_EQ(s.model.CentreBox().minX, std::min(a.left + a.right, b.left + b.right) * 0.5);
    EXPECT_DOUBLE_EQ(s.model.CentreBox().maxY, std::max(a.top + a.bottom, b.top + b.bottom) * 0.5);
}

TEST(FxSession, AnEngineWithoutPiecesOpensNothing)
{
    CTessolo empty;
    Puzzle p;
    p.e.FreeSpliting();
    FakeMain main(p);
    FakeTimers timers;
    CFxBCModel model(main, timers);
    EXPECT_FALSE(model.OnPreparePieces());
}

TEST(FxSession, ValueOneStartsAtTheCurrentPieceAndValueTwoAtTheEngineDefault)
{
    Puzzle p;
    p.e.m_pPieces[5].brightnessContrast[CTessolo::FX_APPLIED] = {1, 40, -20};
    p.e.m_pPieces[0].brightnessContrast[CTessolo::FX_APPLIED] = {1, -7, 9};
    Open<CFxBCModel> cur(p, 5);
    EXPECT_EQ(cur.model.value1.brightness, 40);
    EXPECT_EQ(cur.model.value1.contrast, -20);
    EXPECT_EQ(cur.model.value2.brightness, 0);
    EXPECT_EQ(cur.model.value2.contrast, 0);
    Open<CFxBCModel> none(p);
    EXPECT_EQ(none.model.value1.brightness, -7);
}

TEST(FxSession, WithoutAutomaticAdjustmentEveryPieceGetsValueOneSwitchedOn)
{
    Puzzle p;
    Open<CFxBCModel> s(p);
    s.model.value1 = {0, 30, -10};  // its own on byte off
    s.model.DoRegenerateData();
    for (uint32_t i = 0; i < s.model.Pieces().size(); ++i) {
        const auto b = s.ResultOf<CTessolo::SFX_BRIGHTNESSCONTRAST>(i);
        EXPECT_EQ(b.on, 1);
        EXPECT_EQ(b.brightness, 30);
        EXPECT_EQ(b.contrast, -10);
    }
}

TEST(FxSession, GradingFollowsEachDirection)
{
    Puzzle p(150, 120, 3, 3);
    Open<CFxBlurModel> s(p);
    s.model.SetAutoAdjust(true);
    s.model.value1 = {1, 0};
    s.model.value2 = {1, 10};
    struct Case {
        FxDirection d;
        double x1, y1;  // the piece that gets value 2
        double x2, y2;  // the piece that gets value 1
        double xm, ym;  // the piece in the middle
    } cases[] = {
        {FxDirection::Left, 1 / 6.0, 0.5, 5 / 6.0, 0.5, 0.5, 0.5},
        {FxDirection::Right, 5 / 6.0, 0.5, 1 / 6.0, 0.5, 0.5, 0.5},
        {FxDirection::Top, 1 / 6.0, 1 / 6.0, 5 / 6.0, 5 / 6.0, 5 / 6.0, 0.5},
        {FxDirection::Bottom, 5 / 6.0, 5 / 6.0, 1 / 6.0, 1 / 6.0, 1 / 6.0, 0.5},
        {FxDirection::TopLeft, 1 / 6.0, 1 / 6.0, 5 / 6.0, 5 / 6.0, 0.5, 0.5},
        {FxDirection::BottomRight, 5 / 6.0, 5 / 6.0, 1 / 6.0, 1 / 6.0, 0.5, 0.5},
        {FxDirection::TopRight, 5 / 6.0, 1 / 6.0, 1 / 6.0, 5 / 6.0, 0.5, 0.5},
        {FxDirection::BottomLeft, 1 / 6.0, 5 / 6.0, 5 / 6.0, 1 / 6.0, 0.5, 0.5},
    };
    for (const Case& c : cases) {
        s.model.SetAAMode(c.d);
        s.model.DoRegenerateData();
        const int d = int(c.d);
        EXPECT_EQ(s.ResultOf<CTessolo::SFX_GAUSSIANBLUR>(s.ListIndexAt(c.x1, c.y1)).radius, 10) << d;
        EXPECT_EQ(s.ResultOf<CTessolo::SFX_GAUSSIANBLUR>(s.ListIndexAt(c.x2, c.y2)).radius, 0) << d;
        const auto mid = s.ResultOf<CTessolo::SFX_GAUSSIANBLUR>(s.ListIndexAt(c.xm, c.ym)).radius;
        EXPECT_GE(mid, 4) << d;
        EXPECT_LE(mid, 6) << d;
    }
    // Along "_AT" only y counts: the pieces of one row share their value.
    s.model.SetAAMode(FxDirection::Top);
    s.model.DoRegenerateData();
    for (double y : {1 / 6.0, 0.5, 5 / 6.0})
        EXPECT_EQ(s.ResultOf<CTessolo::SFX_GAUSSIANBLUR>(s.ListIndexAt(1 / 6.0, y)).radius,
                  s.ResultOf<CTessolo::SFX_GAUSSIANBLUR>(s.ListIndexAt(5 / 6.0, y)).radius);
}

TEST(FxSession, ADirectionWithoutExtentLeavesEveryPieceAtValueOne)
{
    Puzzle p(160, 60, 4, 1);  // one row: every centre at the same y
    Open<CFxBlurModel> s(p);
    s.model.SetAutoAdjust(true);
    s.model.value1 = {1, 3};
    s.model.value2 = {1, 90};
    for (FxDirection d : {FxDirection::Top, FxDirection::Bottom}) {
        s.model.SetAAMode(d);
        s.model.DoRegenerateData();
        for (uint32_t i = 0; i < s.model.Pieces().size(); ++i)
            EXPECT_EQ(s.ResultOf<CTessolo::SFX_GAUSSIANBLUR>(i).radius, 3);
    }
}

TEST(FxSession, RandomGradingDrawsOncePerPieceFromTheInjectedSource)
{
    Puzzle p(120, 40, 3, 1);
    Open<CFxOpacityModel> s(p);
    s.model.SetAutoAdjust(true);
    s.model.value1 = {1, 0};
    s.model.value2 = {1, 255};
    s.main.random.draws = {0, CQNF_RandomSource::kMax, CQNF_RandomSource::kMax / 2 + 1};
    s.model.DoRegenerateData();
    EXPECT_EQ(s.ResultOf<CTessolo::SFX_OPACITY>(0).opacity, 0);
    EXPECT_EQ(s.ResultOf<CTessolo::SFX_OPACITY>(1).opacity, 255);
    EXPECT_EQ(s.ResultOf<CTessolo::SFX_OPACITY>(2).opacity, 128);
    // Every regeneration draws again.
    s.model.DoRegenerateData();
    EXPECT_EQ(s.main.random.next, 6u);
}

TEST(FxSession, ParametersLeftOutOfTheGradingKeepEachPiecesOwnValue)
{
    Puzzle p(120, 40, 3, 1);
    for (uint32_t i = 0; i < 3; ++i) {
        auto& c = p.e.m_pPieces[i];
        c.brightnessContrast[CTessolo::FX_APPLIED] = {0, int8_t(i), int8_t(10 * i + 5)};
        c.motionBlur[CTessolo::FX_APPLIED] = {0, int8_t(-10 - int(i)), 7};
        c.bevel[CTessolo::FX_APPLIED] = p.e.m_DefBevel;
        c.bevel[CTessolo::FX_APPLIED].depth = uint16_t(100 + i);
        c.bevel[CTessolo::FX_APPLIED].soften = uint8_t(i);
        c.bevel[CTessolo::FX_APPLIED].highlightOpacity = 3;
    }
    p.e.m_pPieces[1].selected = 1;

    Open<CFxBCModel> bc(p);
    bc.model.SetAutoAdjust(true);
    bc.model.gradeContrast = false;
    bc.model.value1 = {1, -50, 77};
    bc.model.value2 = {1, 50, 77};
    bc.model.SetAAMode(FxDirection::Right);
    bc.model.DoRegenerateData();
    const auto r = bc.ResultOf<CTessolo::SFX_BRIGHTNESSCONTRAST>(0);
    EXPECT_EQ(r.on, 1);
    EXPECT_EQ(r.contrast, 15);
    EXPECT_EQ(r.brightness, -50);  // a single listed piece has no extent: value 1 exactly
    bc.model.SetMode(1);
    EXPECT_EQ(bc.model.SampleBlock().contrast, 0);  // the sample shows only what is graded
    EXPECT_EQ(bc.model.SampleBlock().brightness, 50);

    Open<CFxMBlurModel> mb(p);
    mb.model.SetAutoAdjust(true);
    mb.model.gradeAngle = false;
    mb.model.value1 = {1, 60, 20};
    mb.model.value2 = {1, -60, 40};
    mb.model.DoRegenerateData();
    const auto m = mb.ResultOf<CTessolo::SFX_MOTIONBLUR>(0);
    EXPECT_EQ(m.on, 1);
    EXPECT_EQ(m.angle, -11);
    EXPECT_GE(m.distance, 20);
    EXPECT_LE(m.distance, 40);

    Open<CFxBevelModel> bv(p);
    bv.model.SetAutoAdjust(true);
    bv.model.gradeDepth = bv.model.gradeSoften = false;
    bv.model.value1.size = 10;
    bv.model.value2.size = 200;
    bv.model.value1.lightX = 0.5f;
    bv.model.SetHighlightPercent(60);
    bv.main.random.draws = {CQNF_RandomSource::kMax / 2 + 1};
    bv.model.DoRegenerateData();
    const auto b = bv.ResultOf<CTessolo::SFX_BEVEL>(0);
    EXPECT_EQ(b.size, 105);
    EXPECT_EQ(b.depth, 101);
    EXPECT_EQ(b.soften, 1);
    EXPECT_EQ(b.lightX, 0.5f);                 // value 1's light, not the piece's
    EXPECT_EQ(b.highlightOpacity, 153);        // value 1's, not the piece's 3
}

TEST(FxSession, BevelOpacitiesAreSharedOnThePercentScale)
{
    Puzzle p(120, 40, 3, 1);
    p.e.m_pPieces[0].bevel[CTessolo::FX_APPLIED] = p.e.m_DefBevel;
    p.e.m_pPieces[0].bevel[CTessolo::FX_APPLIED].highlightOpacity = 128;
    Open<CFxBevelModel> s(p);
    EXPECT_EQ(s.model.value1.highlightOpacity, 127);
    EXPECT_EQ(s.model.value2.highlightOpacity, 127);
    s.model.SetHighlightPercent(50);
    EXPECT_EQ(s.model.value2.highlightOpacity, 127);
    EXPECT_EQ(fxnum::PercentFromStored(s.model.value1.highlightOpacity), 50);
}

TEST(FxSession, AChangeReachesTheMainWindowFiftyMillisecondsLater)
{
    Puzzle p;
    Open<CFxBlurModel> s(p);
    s.timers.Advance(60);  // the opening change
    const int opened = s.main.renders;
    EXPECT_EQ(opened, 1);
    s.model.value1 = {1, 4};
    s.model.Changes(CFxSession::kDelayed);
    s.timers.Advance(49);
    EXPECT_EQ(s.main.renders, opened);
    s.timers.Advance(1);
    EXPECT_EQ(s.main.renders, opened + 1);
    EXPECT_TRUE(s.main.interruptible.back());
    for (uint32_t i : s.model.Pieces()) {
        EXPECT_EQ(p.e.m_pPieces[i].gaussianBlur[CTessolo::FX_APPLIED].radius, 4);
        EXPECT_EQ(p.e.m_pPieces[i].gaussianBlur[CTessolo::FX_APPLIED].on, 1);
    }
    // The timer fires once.
    s.timers.Advance(500);
    EXPECT_EQ(s.main.renders, opened + 1);
}

TEST(FxSession, AChangeDuringARenderOnlyAsksItToStartOver)
{
    Puzzle p;
    Open<CFxBlurModel> s(p);
    s.main.busy = true;
    s.model.Changes(CFxSession::kNow);
    EXPECT_EQ(s.main.restarts, 1);
    EXPECT_EQ(s.main.renders, 0);
}

TEST(FxSession, OpacityIsReleasedToTheMainWindowAtOnce)
{
    Puzzle p;
    Open<CFxOpacityModel> s(p);
    s.timers.Advance(60);
    const int before = s.main.renders;
    s.model.value1 = {1, 100};
    s.model.Changes(CFxSession::kNow);
    EXPECT_EQ(s.main.renders, before + 1);
    EXPECT_EQ(p.e.m_pPieces[0].opacity[CTessolo::FX_APPLIED].opacity, 100);
    EXPECT_FALSE(s.model.ModalityEnabled());
    s.timers.Advance(50);  // the busy check gives OK and Cancel back
    EXPECT_TRUE(s.model.ModalityEnabled());
}

TEST(FxSession, OpeningLeavesNoUndoStepEvenWhenTheFirstChangeIsImmediate)
{
    Puzzle p;
    p.e.m_pPieces[2].opacity[CTessolo::FX_APPLIED] = {0, 200};
    FakeMain main(p);
    FakeTimers timers;
    CFxOpacityModel model(main, timers);
    timers.session = &model;
    model.SetCreating(true);
    ASSERT_TRUE(model.OnPreparePieces());
    model.LoadInitialValues();
    model.Changes(CFxSession::kNow);  // the opacity slider's release, run by Init
    model.SetCreating(false);
    EXPECT_EQ(main.renders, 0);  // nothing before the undo snapshot
    main.Enter();
    timers.Advance(60);
    EXPECT_EQ(main.renders, 1);
    ASSERT_TRUE(model.Close(false));
    EXPECT_EQ(main.undoSteps, 0);
}

TEST(FxSession, LivePreviewOffShowsTheBackupsAndThePreviewButtonPushesTheResults)
{
    Puzzle p;
    const std::vector<uint8_t> original = p.Rendered();
    Open<CFxBCModel> s(p);
    s.model.value1 = {1, 60, 30};
    s.model.Changes(CFxSession::kNow);
    EXPECT_NE(p.Rendered(), original);
    s.model.SetLivePreview(false);
    EXPECT_EQ(p.Rendered(), original);
    const int renders = s.main.renders;
    s.model.value1 = {1, -60, 30};
    s.model.Changes(CFxSession::kDelayed);
    s.timers.Advance(100);
    EXPECT_EQ(s.main.renders, renders);  // no update while the preview is off
    s.model.PushPreview();
    EXPECT_EQ(p.e.m_pPieces[0].brightnessContrast[CTessolo::FX_APPLIED].brightness, -60);
}

TEST(FxSession, CancelRestoresEveryByteAndMakesNoUndoStep)
{
    Puzzle p;
    p.e.m_pPieces[4].bevel[CTessolo::FX_APPLIED] = p.e.m_DefBevel;
    ASSERT_TRUE(p.e.RenderPiece(4));
    const std::vector<uint8_t> pixels = p.Rendered();
    const std::vector<uint8_t> records = p.Records();
    Open<CFxBevelModel> s(p);
    s.model.SetAutoAdjust(true);
    s.model.SetAAMode(FxDirection::Bottom);
    s.model.value2.size = 9;
    s.model.value2.depth = 40;
    s.model.Changes(CFxSession::kNow);
    s.timers.Advance(200);
    EXPECT_NE(p.Rendered(), pixels);
    ASSERT_TRUE(s.model.Close(false));
    EXPECT_FALSE(s.main.interruptible.back());
    EXPECT_EQ(p.Rendered(), pixels);
    EXPECT_EQ(p.Records(), records);
    EXPECT_EQ(s.main.undoSteps, 0);
    EXPECT_FALSE(s.main.inFxMode);
}

TEST(FxSession, OkKeepsThePreviewedResultAsOneUndoStep)
{
    Puzzle p;
    Open<CFxMBlurModel> s(p);
    s.model.value1 = {1, 30, 6};
    s.model.Changes(CFxSession::kDelayed);
    s.timers.Advance(60);
    const std::vector<uint8_t> previewed = p.Rendered();
    ASSERT_TRUE(s.model.Close(true));
    EXPECT_EQ(p.Rendered(), previewed);
    EXPECT_EQ(s.main.undoSteps, 1);
    for (uint32_t i = 0; i < p.e.m_nPieces; ++i) {
        const auto& m = p.e.m_pPieces[i].motionBlur[CTessolo::FX_APPLIED];
        EXPECT_EQ(m.on, 1);
        EXPECT_EQ(m.angle, 30);
        EXPECT_EQ(m.distance, 6);
    }
}

TEST(FxSession, OkWithLivePreviewOffStillAppliesTheResults)
{
    Puzzle p;
    Open<CFxBlurModel> s(p);
    s.model.SetLivePreview(false);
    s.model.value1 = {1, 2};
    s.model.Changes(CFxSession::kDelayed);
    ASSERT_TRUE(s.model.Close(true));
    EXPECT_EQ(p.e.m_pPieces[0].gaussianBlur[CTessolo::FX_APPLIED].radius, 2);
    EXPECT_EQ(s.main.undoSteps, 1);
}

TEST(FxSession, ClosingIsRefusedWhileTheMainWindowRenders)
{
    Puzzle p;
    Open<CFxBlurModel> s(p);
    s.main.busy = true;
    s.timers.Advance(50);
    EXPECT_FALSE(s.model.ModalityEnabled());
    EXPECT_FALSE(s.model.Close(true));
    EXPECT_FALSE(s.model.Closed());
    EXPECT_TRUE(s.main.inFxMode);
    s.main.busy = false;
    s.timers.Advance(50);
    EXPECT_TRUE(s.model.ModalityEnabled());
    EXPECT_TRUE(s.model.Close(true));
    EXPECT_FALSE(s.timers.Running(CFxSession::kChangeTimer));
    EXPECT_FALSE(s.timers.Running(CFxSession::kBusyTimer));
}

}  // namespace

namespace {

CTessolo::SFX_COLOR Colour(std::initializer_list<int> bytes)
{
    uint8_t b[8] = {};
    int i = 0;
    for (int v : bytes)
        b[i++] = uint8_t(v);
    CTessolo::SFX_COLOR c;
    std::memcpy(&c, b, 8);
    return c;
}

// The middle piece's centre need not be half way (tabs widen a piece's box):
// the ends are exact, the middle strictly between them.
void ExpectAlong(int rank, int value, int left, int right)
{
    if (rank == 1) {
        EXPECT_GT(value, std::min(left, right));
        EXPECT_LT(value, std::max(left, right));
    } else {
        EXPECT_EQ(value, rank == 0 ? left : right);
    }
}

// How many listed pieces lie left of this one.
int Rank(const CTessolo& e, const std::vector<uint32_t>& pieces, uint32_t listIndex)
{
    auto cx = [&e](uint32_t piece) { return e.m_pPieces[piece].left + e.m_pPieces[piece].right; };
    int n = 0;
    for (uint32_t other : pieces)
        n += cx(other) < cx(pieces[listIndex]);
    return n;
}

std::vector<int> Bytes(const CTessolo::SFX_COLOR& c)
{
    uint8_t b[8];
    std::memcpy(b, &c, 8);
    return std::vector<int>(b, b + 8);
}

}  // namespace

// Each of the eight bytes of a colour record moves on its own, whichever way
// it goes, in the colour overlay and the stroke alike; the stroke's size
// stays within 0..100 even from a stored value beyond it.
TEST(FxSession, ColourRecordsAreGradedBytePerByte)
{
    Puzzle p(120, 40, 3, 1);
    const struct {
        CTessolo::SFX_COLOR from, to;
        double t;
        std::vector<int> expected;
    } cases[] = {
        {Colour({0, 0, 0, 0, 0, 0, 0, 0}), Colour({255, 255, 255, 255, 255, 255, 255, 255}), 0.5,
         {128, 128, 128, 128, 128, 128, 128, 128}},
        {Colour({200, 0, 100, 255, 0, 50, 255, 10}), Colour({0, 200, 100, 0, 255, 150, 255, 250}), 0.25,
         {150, 50, 100, 191, 64, 75, 255, 70}},
        {Colour({1, 2, 3, 4, 5, 6, 7, 8}), Colour({9, 9, 9, 9, 9, 9, 9, 9}), 1.0, {9, 9, 9, 9, 9, 9, 9, 9}},
    };
    Open<CFxColorOverlayModel> covr(p);
    Open<CFxStrokeModel> stroke(p);
    for (const auto& c : cases) {
        covr.model.value1.color = stroke.model.value1.color = c.from;
        covr.model.value2.color = stroke.model.value2.color = c.to;
        EXPECT_EQ(Bytes(covr.model.i_GetFXFromRange(c.t).color), c.expected) << "t " << c.t;
        EXPECT_EQ(Bytes(stroke.model.i_GetFXFromRange(c.t).color), c.expected) << "t " << c.t;
        EXPECT_EQ(covr.model.i_GetFXFromRange(c.t).on, 1);
    }
    stroke.model.value1.size = 0;
    stroke.model.value2.size = 100;
    stroke.model.value1.opacity = 0;
    stroke.model.value2.opacity = 255;
    EXPECT_EQ(stroke.model.i_GetFXFromRange(0.25).size, 25);
    EXPECT_EQ(stroke.model.i_GetFXFromRange(0.25).opacity, 64);
    stroke.model.value1.size = 250;  // from a damaged document
    EXPECT_EQ(stroke.model.i_GetFXFromRange(0.0).size, 100);
    EXPECT_EQ(stroke.model.i_GetFXFromRange(0.5).size, 100);
}

// With automatic adjustment on, what is graded comes from the grading and
// everything else from each piece's own block, which is switched on even
// where the effect was off; the sample shows the engine's defaults for what
// is not graded.
TEST(FxSession, ColourOverlayStrokeAndHslKeepWhatIsNotGraded)
{
    Puzzle p(120, 40, 3, 1);
    for (uint32_t i = 0; i < 3; ++i) {
        auto& c = p.e.m_pPieces[i];
        c.colorOverlay[CTessolo::FX_APPLIED] = {0, uint8_t(10 + i), Colour({int(i), 1, 2, 3, 4, 5, 6, int(7 + i)})};
        c.stroke[CTessolo::FX_APPLIED] = {0, uint8_t(20 + i), uint8_t(i), Colour({9, 8, 7, 6, 5, 4, 3, int(i)})};
        c.hsl[CTessolo::FX_APPLIED] = {0, uint8_t(0xA0 + i), int16_t(-170 + int(i)), int8_t(-90 + int(i)),
                                       int8_t(40 + int(i))};
    }
    const auto& pieces = p.e.m_pPieces;

    Open<CFxColorOverlayModel> covr(p);
    covr.model.SetAutoAdjust(true);
    covr.model.gradeColor = false;
    covr.model.value1 = {1, 0, Colour({50, 50, 50, 50, 50, 50, 50, 50})};
    covr.model.value2 = {1, 200, Colour({60, 60, 60, 60, 60, 60, 60, 60})};
    covr.model.SetAAMode(FxDirection::Right);
    covr.model.DoRegenerateData();
    for (uint32_t i = 0; i < 3; ++i) {
        const auto r = covr.ResultOf<CTessolo::SFX_COLOROVERLAY>(i);
        const auto& own = pieces[covr.model.Pieces()[i]].colorOverlay[CTessolo::FX_BACKUP];
        EXPECT_EQ(r.on, 1);
        EXPECT_EQ(Bytes(r.color), Bytes(own.color));
        ExpectAlong(Rank(p.e, covr.model.Pieces(), i), r.opacity, 0, 200);
    }
    covr.model.SetMode(1);
    EXPECT_EQ(covr.model.SampleBlock().opacity, 200);
    EXPECT_EQ(Bytes(covr.model.SampleBlock().color), Bytes(p.e.m_DefColorOverlay.color));

    Open<CFxStrokeModel> stroke(p);
    stroke.model.SetAutoAdjust(true);
    stroke.model.gradeColor = stroke.model.gradeOpacity = false;
    stroke.model.value1 = {1, 9, 0, Colour({1, 1, 1, 1, 1, 1, 1, 1})};
    stroke.model.value2 = {1, 99, 100, Colour({2, 2, 2, 2, 2, 2, 2, 2})};
    stroke.model.SetAAMode(FxDirection::Left);
    stroke.model.DoRegenerateData();
    for (uint32_t i = 0; i < 3; ++i) {
        const auto r = stroke.ResultOf<CTessolo::SFX_STROKE>(i);
        const auto& own = pieces[stroke.model.Pieces()[i]].stroke[CTessolo::FX_BACKUP];
        EXPECT_EQ(r.on, 1);
        EXPECT_EQ(r.opacity, own.opacity);
        EXPECT_EQ(Bytes(r.color), Bytes(own.color));
        ExpectAlong(Rank(p.e, stroke.model.Pieces(), i), r.size, 100, 0);  // value 2 on the left
    }
    const auto sample = stroke.model.SampleBlock();
    EXPECT_EQ(sample.opacity, 255);  // the default, not value 1's 9
    EXPECT_EQ(sample.size, 0);

    Open<CFxHSLModel> hsl(p);
    hsl.model.SetAutoAdjust(true);
    hsl.model.gradeHue = hsl.model.gradeLightness = false;
    hsl.model.value1 = {1, 0, 120, -100, 70};
    hsl.model.value2 = {1, 0, -120, 100, -70};
    hsl.model.SetAAMode(FxDirection::Right);
    hsl.model.DoRegenerateData();
    for (uint32_t i = 0; i < 3; ++i) {
        const auto r = hsl.ResultOf<CTessolo::SFX_HSL>(i);
        const auto& own = pieces[hsl.model.Pieces()[i]].hsl[CTessolo::FX_BACKUP];
        EXPECT_EQ(r.on, 1);
        EXPECT_EQ(r.reserved, own.reserved);
        EXPECT_EQ(r.hue, own.hue);
        EXPECT_EQ(r.lightness, own.lightness);
        ExpectAlong(Rank(p.e, hsl.model.Pieces(), i), r.saturation, -100, 100);
    }
    hsl.model.gradeHue = true;
    hsl.model.gradeSaturation = false;
    const auto s = hsl.model.SampleBlock();
    EXPECT_EQ(s.hue, 120);
    EXPECT_EQ(s.saturation, 0);
    EXPECT_EQ(s.lightness, 0);
    // Without automatic adjustment every piece gets value 1 whole.
    hsl.model.SetAutoAdjust(false);
    hsl.model.DoRegenerateData();
    for (uint32_t i = 0; i < 3; ++i) {
        const auto r = hsl.ResultOf<CTessolo::SFX_HSL>(i);
        EXPECT_EQ(std::vector<int>({r.on, r.hue, r.saturation, r.lightness}), std::vector<int>({1, 120, -100, 70}));
    }
}

// OK keeps what the pieces showed as one undo step; Cancel puts back every
// byte of the pieces' records and pixels, for each of the three effects.
template <class Model>
void CloseAfterAChange(Puzzle& p, bool ok, const typename Model::Block& value1)
{
    Open<Model> s(p);
    s.model.value1 = value1;
    s.model.Changes(CFxSession::kDelayed);  // closed before the update came
    ASSERT_TRUE(s.model.Close(ok));
    EXPECT_EQ(s.main.undoSteps, ok ? 1 : 0);
}

TEST(FxSession, ColourOverlayStrokeAndHslOkKeepsAndCancelRestores)
{
    const CTessolo::SFX_COLOR blue = Colour({30, 0, 90, 180, 255, 165, 75, 255});
    const std::function<void(Puzzle&, bool)> effects[] = {
        [&](Puzzle& p, bool ok) { CloseAfterAChange<CFxColorOverlayModel>(p, ok, {0, 200, blue}); },
        [&](Puzzle& p, bool ok) { CloseAfterAChange<CFxStrokeModel>(p, ok, {0, 255, 4, blue}); },
        [&](Puzzle& p, bool ok) { CloseAfterAChange<CFxHSLModel>(p, ok, {0, 0, 90, 50, -20}); },
    };
    for (size_t k = 0; k < std::size(effects); ++k) {
        Puzzle p;
        const std::vector<uint8_t> pixels = p.Rendered();
        const std::vector<uint8_t> records = p.Records();
        effects[k](p, false);
        EXPECT_EQ(p.Rendered(), pixels) << k;
        EXPECT_EQ(p.Records(), records) << k;
        effects[k](p, true);
        EXPECT_NE(p.Rendered(), pixels) << k;
        EXPECT_NE(p.Records(), records) << k;
        for (uint32_t i = 0; k == 0 && i < p.e.m_nPieces; ++i) {
            const auto& c = p.e.m_pPieces[i].colorOverlay[CTessolo::FX_APPLIED];
            EXPECT_EQ(std::vector<int>({c.on, c.opacity}), std::vector<int>({1, 200}));
            EXPECT_EQ(Bytes(c.color), Bytes(blue));
        }
    }
}
