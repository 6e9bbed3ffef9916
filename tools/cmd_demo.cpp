// "demo OUTDIR": the main job of the project on its bundled sample, grown as
// subsystems land. For now it exercises the framework core.
#include "tools/Command.h"

#include "core/ErrorManager.h"

#include <cstdio>
#include <filesystem>

namespace {

int Run(const tool::Args& args)
{
    if (args.size() != 1)
        return tool::Fail("demo", "expected one argument OUTDIR");
    std::error_code ec;
    std::filesystem::create_directories(args[0], ec);
    if (ec)
        return tool::Fail("demo", "cannot create " + args[0] + ": " + ec.message());
    CQNF_FrameWork fw;
    std::printf("tessolo demo: framework core ready (error number %u), output in %s\n", fw.GetError(),
                args[0].c_str());
    return 0;
}

tool::Registrar reg({"demo", "demo OUTDIR", "run the main job on the bundled sample image", Run});

}  // namespace
