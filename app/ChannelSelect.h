// Selections loaded from a channel of the host document: the list of
// channels the document channels dialog offers, reading one of them into a
// byte buffer, and selecting the knives of the cut map from it by sampling
// the channel at every knot (the pieces' counterpart is
// CPieceMap::pmop_LoadSelectionFromMap).
//
// A channel value below 128 is inside (above 127 with invert). Operations:
// 0 new, 1 add, 2 subtract, 3 intersect.
#pragma once

#include "core/Array.h"
#include "host/PluginAdapter.h"

#include <cstdint>
#include <string>
#include <vector>

class CWnd_MainModel;

struct qntCHANNELITEM {
    std::string text;
    uint32_t value;  // 0xFFFFFFFF the selection, else a plane or document channel number
};

inline constexpr uint32_t kChannelSelection = 0xFFFFFFFFu;

// The dialog's list: the selection (when the document has one), then the
// host's channel names (when it lists channels by name), else the colour
// planes of the mode and the layer transparency.
std::vector<qntCHANNELITEM> qnChannelListItems(const CQNF_8BFPluginVirtual::PLUGINDATA& data,
                                               const CQNF_StringArray& names);

// Reads the channel of a list value into buffer (width x height of the
// filter rectangle, row stride width). The selection without a host mask is
// all 255. False when nothing could be read (the buffer is then unchanged
// only where the host wrote nothing).
bool qnReadChannel(CQNF_8BFPluginVirtual& host, uint32_t value, uint8_t* buffer, uint32_t width, uint32_t height);

// Selects the knives at the knots that lie inside the channel (map of
// width x height, stride width, the image the cut map is laid over). Knots
// on the right and bottom border sample the last column and row.
void qnSelectKnivesFromMap(CWnd_MainModel& model, const uint8_t* map, uint32_t width, uint32_t height,
                           uint8_t operation, uint8_t invert);
