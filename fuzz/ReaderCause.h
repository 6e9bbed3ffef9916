// The check every image reader's fuzz target makes of a refusal: its cause
// is one a reader gives, 48 with what is not read or too large, 49 saying
// whether the data is truncated or damaged.
#pragma once

#include "imaging/CodecFormat.h"

#include <string>

// reasonFor49: every 49 of the reader comes with its reason.
inline void CheckCause(const CQNF_ImageReader& reader, bool reasonFor49)
{
    const unsigned short e = reader.GetError();
    const std::string& why = reader.GetReason();
    if (e != qncodec::ErrCorrupt && e != qncodec::ErrUnsupported && e != qncodec::ErrMemory)
        __builtin_trap();
    if (e == qncodec::ErrUnsupported && why.empty())
        __builtin_trap();
    if (e == qncodec::ErrCorrupt && (reasonFor49 || !why.empty()) && why.rfind("truncated", 0) != 0 &&
        why.rfind("damaged", 0) != 0)
        __builtin_trap();
}
