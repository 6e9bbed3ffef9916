// Drawing and geometry on hostile numbers: each input is a list of operations
// whose coordinates, widths, clips and rectangles come straight from the
// bytes (NaN, infinities and huge values included). Planes are allocated to
// their exact size, so any write outside one is caught by the sanitizer.
#include "core/2DMath.h"
#include "core/Mem.h"
#include "imaging/Image.h"
#include "imaging/ImageDrawing.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_at >= m_size; }
    template <class T>
    T Get()
    {
        T v{};
        const size_t n = std::min(sizeof(T), m_size - std::min(m_at, m_size));
        std::memcpy(&v, m_data + m_at, n);
        m_at += sizeof(T);
        return v;
    }
    qntRECT_s Rect() { return {Get<int32_t>(), Get<int32_t>(), Get<int32_t>(), Get<int32_t>()}; }
    qntFPOS Point() { return {Get<double>(), Get<double>()}; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in(data, size);
    const int w = 1 + in.Get<uint8_t>() % 48;
    const int h = 1 + in.Get<uint8_t>() % 48;
    std::vector<uint8_t> plane(size_t(w) * h);
    CQNF_ImageDrawing pen;
    pen.SetDestination(plane.data(), w, w, h);
    CQNF_Image img, other;
    img.Create(uint16_t(w), uint16_t(h), 2);
    other.Create(uint16_t(1 + h % 7), uint16_t(1 + w % 9), 1 + (w & 1));
    CQNF_2DMath g;
    for (int op = 0; op < 64 && !in.Empty(); ++op) {
        switch (in.Get<uint8_t>() % 10) {
        case 0:
            pen.antiAlias = in.Get<uint8_t>() & 1;
            pen.bitMode = in.Get<uint8_t>() & 1;
            pen.SetDestination(plane.data(), pen.bitMode && !pen.antiAlias ? (w + 7) / 8 : w, w, h);
            break;
        case 1:
            pen.SetClipRect(in.Rect());
            break;
        case 2: {
            const qntFPOS a = in.Point(), b = in.Point();
            pen.DrawHQLine(a, b, in.Get<double>(), in.Get<uint8_t>(), in.Get<uint8_t>(), in.Get<uint8_t>());
            break;
        }
        case 3: {
            qntFPOS pts[6];
            for (auto& p : pts)
                p = in.Point();
            pen.DrawHQPolyLine(pts, 1 + in.Get<uint8_t>() % 6, in.Get<double>(), 1, 1, 1, in.Get<double>());
            break;
        }
        case 4: {
            CQNF_2DMath::QNSPLINEPOINT nodes[5];
            for (auto& n : nodes)
                n = {in.Get<double>(), in.Get<double>(), in.Get<float>()};
            CQNF_Mem out, idx;
            unsigned long n = 0;
            if (g.CalcPointSpline(nodes, 3 + in.Get<uint8_t>() % 3, in.Get<double>(), &out, n, &idx) && n < 4096)
                pen.DrawHQPolyLine(reinterpret_cast<qntFPOS*>(out.GetPtr()), n, 2.0, 1, 1, 1, 1.0);
            break;
        }
        case 5: {
            const qntFPOS a = in.Point(), b = in.Point(), p = in.Point();
            double H = 0, U = 0;
            qntFPOS q{};
            if (g.Coors2HU(a, b, p, H, U))
                g.HU2Coors(a, b, H, U, q);
            double d = 0, u = 0;
            g.PointToLineDistance(a, b, p, d, u);
            unsigned char col = 0;
            g.IntersectLineSegments_RetPoint({a.x, a.y, b.x, b.y}, {p.x, p.y, q.x, q.y}, col, q);
            break;
        }
        case 6:
            img.DrawLine(in.Get<int16_t>(), in.Get<int16_t>(), in.Get<int16_t>(), in.Get<int16_t>(),
                         qntRGBA8{1, 2, 3, in.Get<uint8_t>()}, in.Rect());
            break;
        case 7:
            img.DrawAALine(in.Get<int16_t>(), in.Get<int16_t>(), in.Get<int16_t>(), in.Get<int16_t>(),
                           qntRGBA8{1, 2, 3, in.Get<uint8_t>()}, in.Rect(), in.Get<uint8_t>());
            img.DrawCircle(in.Get<int16_t>(), in.Get<int16_t>(), in.Get<int16_t>(), qntRGBA8{9, 9, 9, 99}, in.Rect());
            break;
        case 8:
            img.Tile(&other, in.Rect(), in.Rect());
            img.Set(&other, long(in.Get<int32_t>()), long(in.Get<int32_t>()), in.Rect());
            img.Blend(&other, long(in.Get<int32_t>()), long(in.Get<int32_t>()), in.Rect(), in.Get<uint8_t>());
            break;
        default:
            img.Set(in.Get<uint16_t>(), in.Get<uint16_t>(), qntRGBA8{1, 1, 1, 1}, qntRGBA8{2, 2, 2, 2}, in.Rect());
            img.DrawAlphaLine(in.Get<int16_t>(), in.Get<int16_t>(), in.Get<int16_t>(), in.Get<int16_t>(), 7,
                              in.Rect());
            break;
        }
    }
    return 0;
}
