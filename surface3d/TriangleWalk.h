// Integer scan conversion of a triangle into horizontal spans, shared by the
// preview fills, the draft texture fills and the tiled shadow-map generator.
//
// Rule: the vertices are ordered by row (stable among equal rows) into A, B,
// C; the triangle covers rows A.row .. C.row - 1 and, in each row, columns
// from its left edge up to but not including its right edge. An edge's column
// at row offset k from its upper end P is P.x + ((Q.x - P.x) * k) / (Q.y - P.y)
// in integers (truncating toward zero), plus one where the f32 position runs
// more than half a pixel beyond it. Triangles that share an edge compute the
// same column for it, so they meet without gap or overlap.
//
// Each row is computed on its own (no running sums), so cutting the row range
// to a clip changes nothing in the rows drawn.
#pragma once

#include <algorithm>
#include <cstdint>

namespace s3d {

inline int32_t EdgeColumn(int32_t px, int32_t py, int32_t qx, int32_t qy, int32_t k)
{
    const int64_t dx = static_cast<int64_t>(qx) - px;
    const int64_t dy = static_cast<int64_t>(qy) - py;
    int64_t col = px + (dx * k) / dy;
    const float exact = static_cast<float>(px) + static_cast<float>(dx) * static_cast<float>(k) / static_cast<float>(dy);
    if (exact - static_cast<float>(col) > 0.5f)
        ++col;
    return static_cast<int32_t>(col);
}

// A vertex of the walk: integer position and N float attributes that are
// interpolated linearly along the edges, in f32, as P + (Q - P) * k / dy.
template <int N>
struct WalkVertex {
    int32_t x;
    int32_t y;
    float attr[N];
};

template <int N>
inline void EdgeAttributes(const WalkVertex<N>& p, const WalkVertex<N>& q, int32_t k, float* out)
{
    const float fk = static_cast<float>(k);
    const float dy = static_cast<float>(static_cast<int64_t>(q.y) - p.y);
    for (int i = 0; i < N; ++i)
        out[i] = p.attr[i] + (q.attr[i] - p.attr[i]) * fk / dy;
}

// Calls span(row, leftColumn, leftAttributes, rightColumn, rightAttributes)
// for every row in [rowLo, rowHi) that the triangle covers with at least one
// column; left < right always.
template <int N, class SpanFn>
void WalkTriangle(const WalkVertex<N>& v0, const WalkVertex<N>& v1, const WalkVertex<N>& v2, int32_t rowLo,
                  int32_t rowHi, SpanFn&& span)
{
    const WalkVertex<N>* s[3] = {&v0, &v1, &v2};
    // Stable order by row.
    if (s[1]->y < s[0]->y)
        std::swap(s[0], s[1]);
    if (s[2]->y < s[1]->y) {
        std::swap(s[1], s[2]);
        if (s[1]->y < s[0]->y)
            std::swap(s[0], s[1]);
    }
    const WalkVertex<N>& A = *s[0];
    const WalkVertex<N>& B = *s[1];
    const WalkVertex<N>& C = *s[2];
    float ea[N], eb[N];
    auto emit = [&](int32_t y, int32_t ca, int32_t cb) {
        if (ca == cb)
            return;
        if (ca < cb)
            span(y, ca, static_cast<const float*>(ea), cb, static_cast<const float*>(eb));
        else
            span(y, cb, static_cast<const float*>(eb), ca, static_cast<const float*>(ea));
    };
    if (B.y > A.y) {
        const int32_t y0 = std::max(A.y, rowLo), y1 = std::min(B.y, rowHi);
        for (int32_t y = y0; y < y1; ++y) {
            const int32_t k = y - A.y;
            const int32_t ca = EdgeColumn(A.x, A.y, B.x, B.y, k);
            const int32_t cb = EdgeColumn(A.x, A.y, C.x, C.y, k);
            EdgeAttributes(A, B, k, ea);
            EdgeAttributes(A, C, k, eb);
            emit(y, ca, cb);
        }
    }
    if (C.y > B.y) {
        const int32_t y0 = std::max(B.y, rowLo), y1 = std::min(C.y, rowHi);
        for (int32_t y = y0; y < y1; ++y) {
            const int32_t ka = y - A.y;
            const int32_t kb = y - B.y;
            const int32_t ca = EdgeColumn(A.x, A.y, C.x, C.y, ka);
            const int32_t cb = EdgeColumn(B.x, B.y, C.x, C.y, kb);
            EdgeAttributes(A, C, ka, ea);
            EdgeAttributes(B, C, kb, eb);
            emit(y, ca, cb);
        }
    }
}

}  // namespace s3d
