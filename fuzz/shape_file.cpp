// The knife shape file reader on arbitrary bytes (both forms: a container
// and the legacy 53-byte file). A shape it accepts must be one the editor
// can use, and must survive the writer and the reader again unchanged.
#include "cutter/CutterModel.h"

#include "core/StdFile.h"
#include "core/String.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using M = CWnd_CutterModel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    M::SPLINE_STRUCT shape;
    std::memset(&shape, 0x5A, sizeof shape);
    const M::SPLINE_STRUCT before = shape;
    const ShapeIoError e = M::stLoadShapeFromMem(data, size, &shape);
    if (e != ShapeIoError::None) {
        // A refused file leaves the caller's shape alone.
        if (std::memcmp(&shape, &before, sizeof shape) != 0)
            __builtin_trap();
        return 0;
    }
    if (!qnShapeIsSound(shape))
        __builtin_trap();
    if (size == M::kLegacyFileSize && std::memcmp(data, M::kLegacyMagic, M::kLegacyMagicLength) == 0) {
        for (uint32_t i = 0; i < shape.nodeCount; ++i)
            if (shape.pos[i].U < 0 || shape.pos[i].U > 1 || shape.pos[i].H < -3 || shape.pos[i].H > 3 ||
                shape.S[i] < 0 || shape.S[i] > 1)
                __builtin_trap();
    }
    // Written again, it reads back the same.
    const int fd = ::memfd_create("shape_fuzz", 0);
    if (fd < 0)
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    CQNF_StdFile file;
    if (file.Open(CQNF_String(path.c_str()), 4)) {
        if (M::stSaveShapeToFile(&file, &shape) != ShapeIoError::None)
            __builtin_trap();
        M::SPLINE_STRUCT again = before;
        if (M::stLoadShapeFromFile(&file, &again) != ShapeIoError::None || !qnSameShapeValues(again, shape))
            __builtin_trap();
    }
    ::close(fd);
    return 0;
}
