// Plane geometry in double precision and the scanline flood fill.
//
// CQNF_2DMath is stateless apart from the two flood-fill callbacks: every
// geometric operation is a pure function of its arguments. The layout editors
// place knife nodes in the segment-local frame (Coors2HU / HU2Coors), the
// cutting engine finds cell centres with the segment intersection, samples
// every knife with CalcPointSpline and turns each free region into a piece
// with FillBounds.
//
// Non-finite input (NaN, infinities, or values whose products overflow) never
// reaches a float-to-integer conversion: such input is refused.
#pragma once

#include "core/ErrorManager.h"
#include "core/PictureLimits.h"
#include "core/Types.h"

#include <cstdint>

class CQNF_Mem;

class CQNF_2DMath : public CQNF_FrameWork {
public:
    struct QNLINESEGMENT {
        double x1;
        double y1;
        double x2;
        double y2;
    };

    struct QNSPLINEPOINT {
        double x;
        double y;
        float tension;
    };

    // Flood-fill test: nonzero when the position must not be filled (a
    // boundary, outside the raster, or already filled).
    using TestFn = unsigned char (*)(qntPOS pos, void* user);
    // Flood-fill span: the leftmost position of a span and its length.
    using FillLineFn = void (*)(qntPOS pos, uint32_t length, void* user);

    CQNF_2DMath() = default;
    ~CQNF_2DMath() override = default;

    // Callbacks of FillBounds, set by the caller before a fill.
    TestFn fnTest = nullptr;
    FillLineFn fnFillLine = nullptr;

    // 1 when the two closed segments meet. Parallel segments meet exactly when
    // they lie on one line, whether or not their extents overlap.
    unsigned char IntersectLineSegments(QNLINESEGMENT s1, QNLINESEGMENT s2);
    // As above; sets collinear to 1 for segments on one line (point left
    // unwritten), else 0 and the crossing point.
    unsigned char IntersectLineSegments_RetPoint(QNLINESEGMENT s1, QNLINESEGMENT s2, unsigned char& collinear,
                                                 qntFPOS& point);

    // Distance from p to the infinite line through a and b, and the parameter
    // u of the foot of the perpendicular (0 at a, 1 at b). 1 when 0 <= u <= 1;
    // a zero-length or non-finite segment gives 0 with distance and u 0.
    unsigned char PointToLineDistance(double ax, double ay, double bx, double by, double px, double py,
                                      double& distance, double& u);
    unsigned char PointToLineDistance(qntFPOS a, qntFPOS b, qntFPOS p, double& distance, double& u);

    // Segment-local coordinates of p relative to a -> b: U along (0 at a, 1 at
    // b), H across in units of the segment length, positive on the side that
    // HU2Coors puts positive H. The two are exact inverses (up to rounding).
    // 0 with the results untouched for a zero-length segment or non-finite input.
    unsigned char Coors2HU(qntFPOS a, qntFPOS b, qntFPOS p, double& H, double& U);
    // p = a + U (b - a) + H (-dy, dx) with (dx, dy) = b - a.
    unsigned char HU2Coors(qntFPOS a, qntFPOS b, double H, double U, qntFPOS& p);

    // The finest step a knife is sampled with (the cut's, and the shape
    // icons').
    static constexpr double kFinestKnifeStep = 2.0;
    // The most samples one segment of a spline gets: three a step along a
    // chord across the largest picture, at the finest step. A longer chord,
    // or a finer step, is of no picture and is sampled no finer than that,
    // so no nodes and no step make a spline slow or large.
    static constexpr uint32_t kMostSegmentSamples = [] {
        // The diagonal, rounded up, by bisection (no sqrt in a constant).
        const uint64_t square = 2 * kQnMaxPictureSide * kQnMaxPictureSide;
        uint64_t lo = 0, hi = 2 * kQnMaxPictureSide;
        while (lo < hi) {
            const uint64_t mid = (lo + hi) / 2;
            if (mid * mid < square)
                lo = mid + 1;
            else
                hi = mid;
        }
        return uint32_t(3.0 * double(lo) / kFinestKnifeStep);
    }();

    // Samples the tension spline through the nodes (count >= 3) into out as
    // qntFPOS points, growing out (and outIndex, u32 segment numbers) when it
    // is smaller than needed. The last point is always the last node.
    // Each segment gets max(3, 3 chord / step) samples, at most
    // kMostSegmentSamples.
    unsigned char CalcPointSpline(QNSPLINEPOINT* nodes, unsigned long count, double step, CQNF_Mem* out,
                                  unsigned long& outCount, CQNF_Mem* outIndex = nullptr);
    // The same construction as explicit cubic control points, two per segment.
    unsigned char CalcBezierPointSpline(QNSPLINEPOINT* nodes, unsigned long count, CQNF_Mem* out,
                                        unsigned long& outCount);

    // Four-connected scanline fill of the region holding seed, asking fnTest
    // per position and handing each span to fnFillLine. The test must refuse
    // every position outside the raster and every position already handed out.
    void FillBounds(void* user, qntPOS seed);
};
