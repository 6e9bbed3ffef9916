// "draw-demo OUT.png": one picture of what the raster foundation draws: pixel,
// anti-aliased and circle outlines, wide anti-aliased knife polylines, a
// puzzle piece outlined, flood-filled and composited translucently, all as
// layers of one layer set.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/2DMath.h"
#include "core/Mem.h"
#include "imaging/ImageDrawing.h"
#include "imaging/ImageFile.h"
#include "imaging/Layer.h"

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 420;

// One side of a piece: nodes in the frame of the side (U along, H across,
// negative H to the left of the direction of travel), a knob in the middle.
const double kKnobU[] = {0.0, 0.36, 0.40, 0.32, 0.50, 0.68, 0.60, 0.64, 1.0};
const double kKnobH[] = {0.0, 0.00, -0.10, -0.22, -0.28, -0.22, -0.10, 0.00, 0.0};

void AddSide(CQNF_2DMath& g, qntFPOS a, qntFPOS b, double sign, std::vector<CQNF_2DMath::QNSPLINEPOINT>& nodes)
{
    for (size_t i = nodes.empty() ? 0 : 1; i < std::size(kKnobU); ++i) {
        qntFPOS p{};
        g.HU2Coors(a, b, kKnobH[i] * sign, kKnobU[i], p);
        nodes.push_back({p.x, p.y, 0.35f});
    }
}

struct FillContext {
    const std::vector<uint8_t>* walls;
    std::vector<uint8_t>* filled;
    int w;
    int h;
};

unsigned char TestWall(qntPOS p, void* user)
{
    auto* c = static_cast<FillContext*>(user);
    if (p.x < 0 || p.y < 0 || p.x >= c->w || p.y >= c->h)
        return 1;
    const size_t i = size_t(p.y) * c->w + p.x;
    return ((*c->walls)[i] || (*c->filled)[i]) ? 1 : 0;
}

void FillSpan(qntPOS p, uint32_t n, void* user)
{
    auto* c = static_cast<FillContext*>(user);
    for (uint32_t i = 0; i < n; ++i)
        (*c->filled)[size_t(p.y) * c->w + p.x + i] = 1;
}

// A transparent RGBA layer whose colour planes hold one colour.
bool Overlay(CQNF_Layer& layer, qntRECT_s r, qntRGBA8 colour)
{
    if (!layer.Create(r, qnimg::ModeRGBA))
        return false;
    return layer.Set(qntRGBA8{colour.r, colour.g, colour.b, 0}, 0x0F, qnNullRect);
}

int Run(const tool::Args& args)
{
    tool::RefuseOptions(args);
    if (args.size() != 1)
        return tool::BadArguments("draw-demo", "expected one argument OUT.png");
    if (const int refused = tool::RefuseOutput("draw-demo", args[0], {}, {".png"}, true))
        return refused;

    CQNF_LayerSet set;
    CQNF_Layer background, shapes, knives, piece;
    if (!set.Create(kWidth, kHeight) || !background.Create(qntRECT_s{0, 0, kWidth, kHeight}, qnimg::ModeRGB) ||
        !shapes.Create(qntRECT_s{0, 0, kWidth, 180}, qnimg::ModeRGBA) ||
        !Overlay(knives, {0, 170, kWidth, kHeight}, {40, 40, 60, 255}) ||
        !Overlay(piece, {0, 170, kWidth, kHeight}, {240, 140, 30, 255}))
        return tool::Fail("draw-demo", "out of memory");
    background.Set(16, 16, qntRGBA8{236, 236, 236, 255}, qntRGBA8{214, 214, 214, 255}, qnNullRect);
    shapes.Set(qntRGBA8{0, 0, 0, 0}, 0x0F, qnNullRect);

    // One-pixel lines, anti-aliased lines and circles.
    for (int k = 0; k <= 12; ++k) {
        const double t = k * 3.14159265358979 / 24;
        const int16_t ex = int16_t(20 + 150 * std::cos(t)), ey = int16_t(20 + 150 * std::sin(t));
        shapes.DrawLine(20, 20, ex, ey, qntRGBA8{200, 30, 30, 255}, qnNullRect);
        shapes.DrawAALine(qntPOS{220, 20}, qntPOS{220 + (ex - 20), 20 + (ey - 20)}, qntRGBA8{30, 60, 200, 255},
                          qnNullRect, 0);
    }
    for (int16_t r = 8; r <= 72; r += 8)
        shapes.DrawCircle(520, 90, r, qntRGBA8{20, 150, 60, 255}, qnNullRect);
    shapes.DrawRect(qntRECT_s{440, 10, 600, 170}, qntRGBA8{0, 0, 0, 128}, qnNullRect);

    // Knife polylines of growing width through the wide line rasteriser.
    CQNF_2DMath g;
    CQNF_ImageDrawing pen;
    pen.SetDestination(&knives);
    for (int k = 0; k < 4; ++k) {
        std::vector<CQNF_2DMath::QNSPLINEPOINT> nodes;
        AddSide(g, {20, 70.0 + 58 * k}, {200, 70.0 + 58 * k}, 1.0, nodes);
        CQNF_Mem pts;
        unsigned long n = 0;
        if (g.CalcPointSpline(nodes.data(), nodes.size(), 2.0, &pts, n))
            pen.DrawHQPolyLine(reinterpret_cast<qntFPOS*>(pts.GetPtr()), n, 1.0 + 2.0 * k, 1, 1, 1,
                               std::max(1.0, (1.0 + 2.0 * k) * 0.25));
    }

    // A puzzle piece: four sides with knobs out and in, outlined into a mask,
    // flood-filled from its centre and composited at partial opacity.
    const int pw = kWidth, ph = kHeight - 170;
    std::vector<CQNF_2DMath::QNSPLINEPOINT> outline;
    const qntFPOS c0{300, 70}, c1{460, 70}, c2{460, 200}, c3{300, 200};
    AddSide(g, c0, c1, 1.0, outline);
    AddSide(g, c1, c2, -1.0, outline);
    AddSide(g, c2, c3, 1.0, outline);
    AddSide(g, c3, c0, -1.0, outline);
    CQNF_Mem pts;
    unsigned long n = 0;
    std::vector<uint8_t> walls(size_t(pw) * ph, 0), filled(walls.size(), 0);
    if (g.CalcPointSpline(outline.data(), outline.size(), 2.0, &pts, n)) {
        CQNF_ImageDrawing mask;
        mask.SetDestination(walls.data(), pw, pw, ph);
        mask.DrawHQPolyLine(reinterpret_cast<qntFPOS*>(pts.GetPtr()), n, 2.0, 1, 1, 1, 1.0);
        pen.DrawHQPolyLine(reinterpret_cast<qntFPOS*>(pts.GetPtr()), n, 2.5, 1, 1, 1, 1.0);
    }
    FillContext ctx{&walls, &filled, pw, ph};
    g.fnTest = TestWall;
    g.fnFillLine = FillSpan;
    g.FillBounds(&ctx, qntPOS{380, 135});
    uint8_t* alpha = piece.GetPlane(3);
    for (size_t i = 0; i < filled.size(); ++i)
        alpha[i] = filled[i] ? 255 : 0;
    piece.SetOpacity(170);

    set.AddLayer(&background);
    set.AddLayer(&shapes);
    set.AddLayer(&piece);
    set.AddLayer(&knives);
    if (!set.Render(qnNullRect))
        return tool::Fail("draw-demo", "cannot composite the layers");
    unsigned short error = 0;
    if (!qnSaveImagePNG(args[0].c_str(), *set.GetCanvas(), "tessolo-tool", error))
        return tool::Fail("draw-demo", qnFileFailure(args[0], true, error));
    std::fprintf(qnReportStream(args[0]), "wrote %s\n", qnShownName(args[0]).c_str());
    return 0;
}

tool::Registrar reg({"draw-demo", "draw-demo OUT.png",
                     "draw lines, knife polylines, circles, a flood fill and a layer set into a PNG", Run});

}  // namespace
