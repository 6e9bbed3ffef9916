// Work spread over the processor's cores, for jobs whose parts write apart
// from each other (the pieces of a cut, bands of rows), so that the result is
// the same bytes whatever the number of threads and however the parts fall
// to them.
//
// The number of threads follows the machine: the processors this process may
// run on (so `taskset -c 0` gives one). TESSOLO_THREADS=N in the environment
// sets it (1 runs everything on the calling thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace qnpar {

// The numbers TESSOLO_THREADS may hold.
inline constexpr unsigned kMinThreads = 1, kMostThreads = 256;

// Threads a parallel job may use: TESSOLO_THREADS when it holds a number
// from kMinThreads to kMostThreads, else the processors available to this
// process (at least 1). A value it does not take is said in one line on
// standard error, the first time only.
unsigned ThreadCount();

// Runs job(part, worker) once for every part in [0, parts), on at most
// `threads` threads, and returns when all are done. Parts are handed out in
// order as threads become free; worker (0 .. threads - 1) names the thread, so
// that a job can keep per-thread scratch memory. Worker 0 is the calling
// thread. When a thread cannot be started, the calling thread does its share.
// A job started from inside a part of another runs on its caller alone.
void For(uint32_t parts, unsigned threads, const std::function<void(uint32_t part, unsigned worker)>& job);

// Waits, inside a part, until another part sets flag (with release). It
// looks a while, then gives the processor away between looks, so that on a
// busy machine the thread waited for still gets to run.
void WaitForFlag(const std::atomic<uint8_t>& flag);

}  // namespace qnpar
