#include "app/CutterStandIn.h"

CCutterStandIn::CCutterStandIn()
{
    // The classic knob: a neck and a round head on one side of the cut.
    const double U[5] = {0.434, 0.3515, 0.5, 0.6485, 0.566};
    const double H[5] = {0.0, -0.165, -0.297, -0.165, 0.0};
    m_shape.nodeCount = 5;
    for (int i = 0; i < 5; ++i) {
        m_shape.U[i] = U[i];
        m_shape.H[i] = H[i];
        m_shape.S[i] = 0.5;
    }
}
