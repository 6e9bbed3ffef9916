// The zip block reader on arbitrary bytes; what inflates must pack and
// inflate back to itself. The XTEA envelope reader rides along.
#include "core/SecureBlock.h"
#include "core/ZipBlock.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CQNF_ZipBlock zip;
    CQNF_Mem raw;
    zip.SetMode(0);
    zip.SetSourceBlock(data, size);
    zip.SetDestBlock(&raw);
    if (zip.Process()) {
        CQNF_ZipBlock pack;
        CQNF_Mem block, back;
        pack.SetMode(3);
        pack.SetSourceBlock(raw);
        pack.SetDestBlock(&block);
        if (!pack.Process())
            __builtin_trap();
        // The source is borrowed as it is now: set it once the block is made.
        CQNF_ZipBlock unpack;
        unpack.SetMode(0);
        unpack.SetSourceBlock(block);
        unpack.SetDestBlock(&back);
        if (!unpack.Process() || back.GetSize() != raw.GetSize() ||
            std::memcmp(back.GetPtr(), raw.GetPtr(), raw.GetSize()) != 0)
            __builtin_trap();
    }

    CQNF_SecureBlock secure;
    secure.SetPassword("fuzz", 4);
    secure.SetMode(1);
    secure.SetSourceBlock(data, size);
    secure.Process();
    return 0;
}
