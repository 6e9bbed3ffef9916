// "md5 FILE", "zip IN OUT", "unzip IN OUT": the block stages on whole files.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/MD5Digest.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "core/ZipBlock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

int Md5(const tool::Args& args)
{
    tool::RefuseOptions(args);
    if (args.size() != 1)
        return tool::BadArguments("md5", "expected one argument FILE");
    const int fd = qnOpenRegularFile(args[0].c_str(), O_RDONLY);
    FILE* f = fd >= 0 ? ::fdopen(fd, "rb") : nullptr;
    if (!f) {
        const int why = errno;
        if (fd >= 0)
            ::close(fd);
        return tool::Fail("md5", qnOpenRegularFailure(args[0], why));
    }
    // Streamed, so a file of any size (the empty one too) has its digest.
    CQNF_MD5Digest md5;
    uint8_t buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        md5.Update(buf, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return tool::Fail("md5", "cannot read " + args[0]);
    uint8_t digest[16];
    md5.Final(digest);
    for (uint8_t b : digest)
        std::printf("%02x", b);
    std::printf("  %s\n", qnShownName(args[0]).c_str());
    return 0;
}

int RunZip(const char* name, unsigned char mode, const tool::Args& args)
{
    tool::RefuseOptions(args);
    if (args.size() != 2)
        return tool::BadArguments(name, "expected two arguments IN OUT");
    if (const int refused = tool::RefuseOutput(name, args[1], {args[0]}, {}, true))
        return refused;
    std::vector<uint8_t> in;
    std::string error;
    // What a block can need: raw bytes to pack are refused beyond what a
    // block may hold, and a block's stream cannot be larger than the
    // packing of that much.
    const uint64_t most = mode == 0 ? kQnZipHeaderSize + qnZipCapacity(kQnZipMaxRawSize) : kQnZipMaxRawSize;
    if (!qnReadWholeFile(args[0], in, error, most))
        return tool::Fail(name, error);
    CQNF_ZipBlock zip;
    CQNF_Mem out;
    zip.SetMode(mode);
    zip.SetSourceBlock(in.data(), in.size());
    zip.SetDestBlock(&out);
    if (!zip.Process()) {
        switch (zip.GetError()) {
        case qnerr::ZipBadArgument:
            return tool::Fail(name, args[0] + " is empty: a zip block is never empty");
        case qnerr::ZipNotABlock:
            return tool::Fail(name, args[0] + " is not a valid zip block (\"QNCV2-01\")");
        default:
            return tool::Fail(name, args[0] + ": " + qnErrorWords(zip.GetError()));
        }
    }
    if (const unsigned short error = qnReplaceFile(args[1], out.GetPtr(), out.GetSize()))
        return tool::Fail(name, qnFileFailure(args[1], true, error));
    std::fprintf(qnReportStream(args[1]), "%s: %zu bytes -> %s, %zu bytes\n", qnShownName(args[0]).c_str(),
                 in.size(), qnShownName(args[1]).c_str(), size_t(out.GetSize()));
    return 0;
}

int Zip(const tool::Args& args) { return RunZip("zip", 1, args); }
int Unzip(const tool::Args& args) { return RunZip("unzip", 0, args); }

tool::Registrar md5Reg({"md5", "md5 FILE", "MD5 digest of a file, as md5sum prints it", Md5});
tool::Registrar zipReg({"zip", "zip IN OUT", "compress a file into a zip block (\"QNCV2-01\", level 9)", Zip});
tool::Registrar unzipReg({"unzip", "unzip IN OUT", "expand a zip block into the bytes it holds", Unzip});

}  // namespace
