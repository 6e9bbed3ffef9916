// 2D overlap tests and the point-on-triangle evaluation that the shadow-map
// generators use in light space.
#include "surface3d/SurfaceBase.h"

uint8_t CQNF_3D_SurfaceBase::geom2D_TestLineSegIntersection(const qnt2D_VERTEX* A, const qnt2D_VERTEX* B)
{
    const double ex = static_cast<double>(A[1].x) - A[0].x;
    const double ey = static_cast<double>(A[1].y) - A[0].y;
    const double dx = static_cast<double>(B[1].x) - B[0].x;
    const double dy = static_cast<double>(B[1].y) - B[0].y;
    const double oy = static_cast<double>(A[0].y) - B[0].y;
    const double ox = static_cast<double>(A[0].x) - B[0].x;
    const double den = dy * ex - dx * ey;
    const double num = dx * oy - dy * ox;
    if (den == 0.0)
        return num == 0.0 ? 3 : 0;
    const double ua = num / den;
    const double ub = (ex * oy - ey * ox) / den;
    return (ua >= 0.0 && ua <= 1.0 && ub >= 0.0 && ub <= 1.0) ? 1 : 0;
}

uint8_t CQNF_3D_SurfaceBase::geom2D_TestPointInTriange(const qnt2D_VERTEX* T, qnt2D_VERTEX p)
{
    uint8_t inside = 0;
    for (int i = 0, j = 2; i < 3; j = i++) {
        if (((T[i].y <= p.y && p.y < T[j].y) || (T[j].y <= p.y && p.y < T[i].y)) &&
            (T[i].x + (T[j].x - T[i].x) * (p.y - T[i].y) / (T[j].y - T[i].y) > p.x))
            inside ^= 1;
    }
    return inside;
}

uint8_t CQNF_3D_SurfaceBase::geom2D_TestTriangeTriangleIntersection(const qnt2D_VERTEX* A, const qnt2D_VERTEX* B)
{
    for (int i = 0; i < 3; ++i) {
        const qnt2D_VERTEX ea[2] = {A[i], A[(i + 1) % 3]};
        for (int j = 0; j < 3; ++j) {
            const qnt2D_VERTEX eb[2] = {B[j], B[(j + 1) % 3]};
            if (geom2D_TestLineSegIntersection(ea, eb))
                return 1;
        }
    }
    if (geom2D_TestPointInTriange(A, B[0]))
        return 1;
    if (geom2D_TestPointInTriange(B, A[0]))
        return 1;
    return 0;
}

uint8_t CQNF_3D_SurfaceBase::int_ShadowMapTriangleCalc(SHADOW_MAP_ZVAL* result, float x, float y,
                                                       const qnt3D_VERTEX* a, const qnt3D_VERTEX* b,
                                                       const qnt3D_VERTEX* c, const qnt3D_VERTEX* ta,
                                                       const qnt3D_VERTEX* tb, const qnt3D_VERTEX* tc)
{
    const qnt2D_VERTEX tri[3] = {{a->x, a->y}, {b->x, b->y}, {c->x, c->y}};
    if (!geom2D_TestPointInTriange(tri, qnt2D_VERTEX{x, y}))
        return 0;
    const qnt3D_VERTEX* ends[3][4] = {{a, b, ta, tb}, {a, c, ta, tc}, {b, c, tb, tc}};
    float cx[3], cz[3], cu[3], cv[3], cw[3];
    int n = 0;
    for (const auto& e : ends) {
        const qnt3D_VERTEX& s = *e[0];
        const qnt3D_VERTEX& f = *e[1];
        if (!((s.y < y && y < f.y) || (f.y < y && y < s.y)))
            continue;
        if (n == 2)
            return 0;  // three crossings: not a clean cut of the row
        const float t = (y - s.y) / (f.y - s.y);
        cx[n] = s.x + (f.x - s.x) * t;
        cz[n] = s.z + (f.z - s.z) * t;
        cu[n] = e[2]->x + (e[3]->x - e[2]->x) * t;
        cv[n] = e[2]->y + (e[3]->y - e[2]->y) * t;
        cw[n] = e[2]->z + (e[3]->z - e[2]->z) * t;
        ++n;
    }
    if (n != 2)
        return 0;
    // Both crossings at one x only happens on a sliver; take the first.
    const float s = (cx[1] != cx[0]) ? (x - cx[0]) / (cx[1] - cx[0]) : 0.0f;
    result->depth = cz[0] + (cz[1] - cz[0]) * s;
    result->u = cu[0] + (cu[1] - cu[0]) * s;
    result->v = cv[0] + (cv[1] - cv[0]) * s;
    result->w = cw[0] + (cw[1] - cw[0]) * s;
    return 1;
}
