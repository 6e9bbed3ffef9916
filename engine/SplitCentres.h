// Private to the engine: the index of cell centres a split uses to give each
// piece the grid cell whose centre lies nearest the middle of its box.
#pragma once

#include "engine/Tessolo.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

// Uniform buckets over the centres; a query searches rings of buckets
// outward until no unsearched bucket can hold a closer centre. The result is
// the one of the plain scan: the smallest squared distance below 1e10, the
// first centre in table order among equal distances.
struct CTessolo::CentreIndex {
    const qntFPOS* centres = nullptr;
    const qntPOS* cells = nullptr;
    uint32_t count = 0;
    double x0 = 0, y0 = 0, size = 1;
    int32_t gw = 0, gh = 0;
    std::vector<uint32_t> start;  // bucket b holds items[start[b] .. start[b + 1])
    std::vector<uint32_t> items;

    void Build(const qntFPOS* c, const qntPOS* k, uint32_t n)
    {
        centres = c;
        cells = k;
        count = n;
        if (n == 0)
            return;
        double x1 = c[0].x, y1 = c[0].y;
        x0 = x1;
        y0 = y1;
        for (uint32_t i = 1; i < n; ++i) {
            x0 = std::min(x0, c[i].x);
            y0 = std::min(y0, c[i].y);
            x1 = std::max(x1, c[i].x);
            y1 = std::max(y1, c[i].y);
        }
        const double side = std::ceil(std::sqrt(double(n)));
        size = std::max({x1 - x0, y1 - y0, 1.0}) / side;
        gw = int32_t(std::min((x1 - x0) / size, 4096.0)) + 1;
        gh = int32_t(std::min((y1 - y0) / size, 4096.0)) + 1;
        start.assign(size_t(gw) * gh + 1, 0);
        for (uint32_t i = 0; i < n; ++i)
            ++start[Bucket(c[i].x, c[i].y) + 1];
        for (size_t b = 1; b < start.size(); ++b)
            start[b] += start[b - 1];
        items.resize(n);
        std::vector<uint32_t> fill(start.begin(), start.end() - 1);
        for (uint32_t i = 0; i < n; ++i)  // ascending: each bucket lists its centres in table order
            items[fill[Bucket(c[i].x, c[i].y)]++] = i;
    }

    int32_t Column(double x) const { return std::clamp(int32_t(std::clamp((x - x0) / size, -1.0, 1e6)), 0, gw - 1); }
    int32_t Row(double y) const { return std::clamp(int32_t(std::clamp((y - y0) / size, -1.0, 1e6)), 0, gh - 1); }
    size_t Bucket(double x, double y) const { return size_t(Row(y)) * gw + Column(x); }

    void Nearest(double qx, double qy, int32_t& column, int32_t& row) const
    {
        column = 1;
        row = 1;
        if (count == 0)
            return;
        const int32_t bx = Column(qx);
        const int32_t by = Row(qy);
        double best = 1e10;
        uint32_t bestIndex = UINT32_MAX;
        auto visit = [&](int32_t cx, int32_t cy) {
            const size_t b = size_t(cy) * gw + cx;
            for (uint32_t k = start[b]; k < start[b + 1]; ++k) {
                const uint32_t i = items[k];
                const double dx = centres[i].x - qx;
                const double dy = centres[i].y - qy;
                const double d = dx * dx + dy * dy;
                if (d < best || (bestIndex != UINT32_MAX && d == best && i < bestIndex)) {
                    best = d;
                    bestIndex = i;
                }
            }
        };
        for (int32_t r = 0;; ++r) {
            const int32_t l = bx - r, rt = bx + r, t = by - r, b = by + r;
            for (int32_t cx = std::max(l, 0); cx <= std::min(rt, gw - 1); ++cx) {
                if (t >= 0)
                    visit(cx, t);
                if (b < gh && r > 0)
                    visit(cx, b);
            }
            for (int32_t cy = std::max(t + 1, 0); cy <= std::min(b - 1, gh - 1); ++cy) {
                if (l >= 0)
                    visit(l, cy);
                if (rt < gw && r > 0)
                    visit(rt, cy);
            }
            // The closest a centre outside the searched square can be.
            double bound = 1e300;
            bool more = false;
            if (l > 0) {
                more = true;
                bound = std::min(bound, qx - (x0 + l * size));
            }
            if (rt < gw - 1) {
                more = true;
                bound = std::min(bound, x0 + (rt + 1) * size - qx);
            }
            if (t > 0) {
                more = true;
                bound = std::min(bound, qy - (y0 + t * size));
            }
            if (b < gh - 1) {
                more = true;
                bound = std::min(bound, y0 + (b + 1) * size - qy);
            }
            if (!more)
                break;
            bound = std::max(bound, 0.0) * (1.0 - 1e-9);
            if (bestIndex != UINT32_MAX && bound * bound > best)
                break;
        }
        if (bestIndex != UINT32_MAX) {
            column = cells[bestIndex].x;
            row = cells[bestIndex].y;
        }
    }
};
