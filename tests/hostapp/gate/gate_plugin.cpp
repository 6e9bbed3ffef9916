// A filter plug-in that holds its run at a gate, for tests that change the
// files around a host while it runs: on Start it makes "started" in the
// folder that TESSOLO_GATE names and waits until "open" appears there, then
// ends having changed no pixel. The host has by then checked its output and
// read its input, and has not yet written anything.
#include "filterapi/FilterApi.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <unistd.h>

namespace {

int16_t WaitAtGate()
{
    const char* gate = std::getenv("TESSOLO_GATE");
    if (!gate)
        return filterBadParameters;
    const std::string started = std::string(gate) + "/started", open = std::string(gate) + "/open";
    if (FILE* f = std::fopen(started.c_str(), "w"))
        std::fclose(f);
    else
        return filterBadParameters;
    // A test that never opens the gate fails rather than hangs.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (::access(open.c_str(), F_OK) != 0) {
        if (std::chrono::steady_clock::now() > limit)
            return userCanceledErr;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return filterNoErr;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void PluginMain(int16_t selector, FilterRecord* record, intptr_t*,
                                                                  int16_t* result)
{
    *result = selector == filterSelectorStart ? WaitAtGate() : int16_t{filterNoErr};
    // Nothing asked for: no Continue rounds.
    record->inRect = record->outRect = record->maskRect = FilterRect16{0, 0, 0, 0};
}
