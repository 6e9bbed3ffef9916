#include "effects/FxLight.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// Divides by the length in single precision, as the renderer expects a
// float unit vector.
qnt3D_VECTOR Normalised(float x, float y, float z)
{
    const float len = std::sqrt(x * x + y * y + z * z);
    if (!(len > 0.0f) || !std::isfinite(len))
        return CFxLightZone::kDefaultLight;
    return qnt3D_VECTOR{x / len, y / len, z / len};
}

int32_t SaturatedInt(double v)
{
    if (!(v == v))
        return 0;
    return int32_t(std::clamp(std::trunc(v), -2147483648.0, 2147483647.0));
}

}  // namespace

CFxLightZone::CFxLightZone(const qntRECT_s& rect)
{
    m_cx = (double(rect.left) + double(rect.right)) * 0.5 + 1.0;
    m_cy = (double(rect.top) + double(rect.bottom)) * 0.5 + 1.0;
    m_r = (std::min(double(rect.right) - rect.left, double(rect.bottom) - rect.top) + 3.0) * 0.5;
}

qnt3D_VECTOR CFxLightZone::Usable(qnt3D_VECTOR v)
{
    const bool finite = std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
    if (!finite || v.z < 0.0f || (v.x == 0.0f && v.y == 0.0f && v.z == 0.0f))
        return kDefaultLight;
    return v;
}

qnt3D_VECTOR CFxLightZone::i_ConvertXYToVector(double x, double y) const
{
    const double dx = x - m_cx, dy = y - m_cy;
    const double a = std::atan2(dy, dx);
    const double d = std::max(0.0, std::min(std::sqrt(dx * dx + dy * dy), m_r - 1.0));
    const float vx = float(std::cos(a) * d / m_r);
    const float vy = float(-std::sin(a) * d / m_r);
    const float vz = float(1.0 - d / m_r);
    return Normalised(vx, vy, vz);
}

qntPOS CFxLightZone::i_ConvertVectorToXY(qnt3D_VECTOR v) const
{
    v = Usable(v);
    const double t = std::acos(std::clamp(double(v.z), 0.0, 1.0));
    // The denominator sin(3 pi / 4 - t) stays above sin(pi / 4) for t in
    // 0..pi / 2, which the clamp of z guarantees.
    const double d = std::sin(t) * std::sin(kPi / 4) * m_r / std::sin(kPi - t - kPi / 4);
    const double a = std::atan2(double(v.y), double(v.x));
    return qntPOS{SaturatedInt(float(m_cx + std::cos(a) * d)), SaturatedInt(float(m_cy - std::sin(a) * d))};
}

bool CFxLightZone::AcceptsPress(double x, double y) const
{
    const double dx = x - m_cx, dy = y - m_cy;
    return std::sqrt(dx * dx + dy * dy) <= m_r + 5.0;
}

qnt3D_VECTOR CFxLightZone::i_ConvertAnAlToVector(int32_t angle, int32_t altitude)
{
    const float z = float(std::cos(kPi * altitude / -180.0 + kPi / 2));
    const float x0 = float(std::cos(angle * kPi / 180.0));
    const float y0 = float(std::sin(angle * kPi / 180.0));
    const float c = float(std::cos(kPi * altitude / 180.0));
    return Normalised(c * x0, c * y0, z);
}

void CFxLightZone::i_ConvertVectorToAnAl(qnt3D_VECTOR v, int32_t& angle, int32_t& altitude)
{
    v = Usable(v);
    const double A = v.y >= 0.0f ? std::atan2(double(v.y), double(v.x)) : std::atan2(-double(v.y), -double(v.x)) + kPi;
    angle = SaturatedInt(float(A * 180.0 / kPi));
    altitude = SaturatedInt(float((kPi / 2 - std::acos(std::clamp(double(v.z), -1.0, 1.0))) * 180.0 / kPi));
}

int32_t CFxLightZone::ClampAngle(int32_t angle)
{
    return std::clamp(angle, 0, 359);
}

int32_t CFxLightZone::ClampAltitude(int32_t altitude)
{
    return std::clamp(altitude, 1, 90);
}
