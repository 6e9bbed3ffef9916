// The bevel's light: a unit vector (x to the right, y upwards on the screen,
// z the height above the image), shown as a ball on a disc (the light zone)
// and as an angle (0..359, counterclockwise from the right) with an altitude
// (1..90 above the image).
//
// The vectors come from stored piece records, so every conversion accepts
// any floats: a zero, non-finite or downward vector is shown as the engine's
// default light, acos never sees an argument outside -1..1 and no
// non-finite number reaches an integer conversion.
#pragma once

#include "core/Types.h"

#include <cstdint>

class CFxLightZone {
public:
    // The zone over the window rectangle of the disc.
    explicit CFxLightZone(const qntRECT_s& rect);

    double CentreX() const { return m_cx; }
    double CentreY() const { return m_cy; }
    double Radius() const { return m_r; }

    // The light for a window point over the disc; points on or beyond the rim
    // land at R - 1 from the centre, just above the horizon.
    qnt3D_VECTOR i_ConvertXYToVector(double x, double y) const;
    // The window point of a light on the disc.
    qntPOS i_ConvertVectorToXY(qnt3D_VECTOR v) const;
    // A press counts a few pixels outside the disc too.
    bool AcceptsPress(double x, double y) const;

    // The light for an angle and an altitude in degrees.
    static qnt3D_VECTOR i_ConvertAnAlToVector(int32_t angle, int32_t altitude);
    // Angle (0..360) and altitude (up to 90) of a light, truncated, not clamped.
    static void i_ConvertVectorToAnAl(qnt3D_VECTOR v, int32_t& angle, int32_t& altitude);
    // The fields' clamps.
    static int32_t ClampAngle(int32_t angle);
    static int32_t ClampAltitude(int32_t altitude);

    // v itself when it is a usable light, else the engine's default light.
    static qnt3D_VECTOR Usable(qnt3D_VECTOR v);
    static constexpr qnt3D_VECTOR kDefaultLight{-0.46829286f, 0.74926859f, 0.46829286f};

private:
    double m_cx, m_cy, m_r;
};
