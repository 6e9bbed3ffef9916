// The small drawings of the presets: one knife shape per icon.
#include "cutter/PresetsModel.h"

#include "core/2DMath.h"
#include "core/Mem.h"
#include "core/Types.h"
#include "imaging/Image.h"
#include "imaging/ImageDrawing.h"

#include <algorithm>
#include <cmath>

using PM = CWnd_PresetsManagerModel;

void PM::IconBaseSegment(const qntRECT_s& rect, const SHAPESETREC& rec, qntFPOS& start, qntFPOS& end)
{
    const int32_t half = (rect.right - rect.left) / 2;
    double m = 0.51;
    for (uint32_t i = 0; i < std::min<uint32_t>(rec.count, kMaxNodes); ++i)
        m = std::max(m, double(std::fabs(rec.H[i])));
    const double scale = half / m;
    const double height = double(rect.bottom) - rect.top;
    const double x = double(rect.left) + half;
    start = {x, rect.top + std::floor(std::max(0.0, height - scale) / 2.0)};
    end = {x, rect.top + std::floor(std::max(0.0, height + scale) / 2.0)};
}

bool PM::DrawSpline(CQNF_Image& layer, const qntRECT_s& rect, const SHAPESETREC& rec)
{
    qntFPOS start{}, end{};
    IconBaseSegment(rect, rec, start, end);
    CQNF_ImageDrawing drawing;
    if (!drawing.SetDestination(&layer))
        return false;
    drawing.antiAlias = 1;
    drawing.value = 255;

    CQNF_2DMath math;
    CQNF_2DMath::QNSPLINEPOINT points[kMaxNodes + 2];
    uint32_t n = 0;
    points[n++] = {start.x, start.y, 0.0f};
    for (uint32_t i = 0; i < std::min<uint32_t>(rec.count, kMaxNodes); ++i) {
        qntFPOS p{};
        if (!math.HU2Coors(start, end, rec.H[i], rec.U[i], p))
            continue;
        const double dx = p.x - points[n - 1].x, dy = p.y - points[n - 1].y;
        // Nodes on top of each other would give the spline a zero step.
        if (dx * dx + dy * dy > 0.0002)
            points[n++] = {p.x, p.y, rec.S[i]};
    }
    points[n++] = {end.x, end.y, 0.0f};
    if (n < 3)
        return drawing.DrawHQLine(start, end, 1.0, 1, 1, 1);
    CQNF_Mem sampled;
    unsigned long count = 0;
    if (!math.CalcPointSpline(points, n, 2.0, &sampled, count))
        return false;
    return drawing.DrawHQPolyLine(reinterpret_cast<qntFPOS*>(sampled.GetPtr()), count, 1.0, 1, 1, 1, 1.0);
}
