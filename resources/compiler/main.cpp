// tessolo-rc: compiles the resource manifest into the resource storage file.
//   tessolo-rc MANIFEST -o OUT --fonts DIR
// The lint runs first; any problem stops the build with the whole list.
#include "core/ErrorWords.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/SafeFileRunInputs.h"
#include "resources/compiler/Compile.h"
#include "resources/compiler/Error.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv)
{
    qnCheckStandardOutputAtExit("tessolo-rc", qnExitFailed);
    std::string manifest, out, fonts;
    bool manifestGiven = false, outGiven = false, fontsGiven = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::printf("usage: tessolo-rc MANIFEST -o OUT --fonts DIR\n"
                        "  compiles the resource manifest into a resource storage file\n");
            return 0;
        }
        if (!std::strcmp(argv[i], "-o") && i + 1 < argc)
            out = argv[++i], outGiven = true;
        else if (!std::strcmp(argv[i], "--fonts") && i + 1 < argc)
            fonts = argv[++i], fontsGiven = true;
        else if (!manifestGiven && argv[i][0] != '-')
            manifest = argv[i], manifestGiven = true;
        else {
            std::fprintf(stderr, "tessolo-rc: unexpected argument '%s' (see --help)\n", qnShownLine(argv[i]).c_str());
            return 2;
        }
    }
    if (!manifestGiven || !outGiven || !fontsGiven) {
        std::fprintf(stderr, "tessolo-rc: MANIFEST, -o OUT and --fonts DIR are required (see --help)\n");
        return 2;
    }
    // An empty name names no file and no folder.
    for (const auto& [name, what] : {std::pair{&manifest, "MANIFEST"}, std::pair{&out, "OUT"}, std::pair{&fonts, "DIR"}})
        if (name->empty()) {
            std::fprintf(stderr, "tessolo-rc: %s is an empty name (see --help)\n", what);
            return 2;
        }
    // The resource file is a storage container, and its name says so.
    if (const QnRefusal why = qnOutputNameRefusal(out, {".qns4"}); !why.empty()) {
        std::fprintf(stderr, "tessolo-rc: %s (see --help)\n", qnShownLine(why.Detail()).c_str());
        return 2;
    }
    if (const std::string why = qnInputRefusal(out, {manifest}); !why.empty()) {
        std::fprintf(stderr, "tessolo-rc: %s\n", qnShownLine(why).c_str());
        return 1;
    }
    if (const std::string why = qnTargetRefusal(out); !why.empty()) {
        std::fprintf(stderr, "tessolo-rc: %s\n", qnShownLine(why).c_str());
        return 1;
    }
    try {
        const rc::Manifest m = rc::ParseManifest(manifest);
        const auto problems = rc::Lint(m);
        if (!problems.empty()) {
            for (const auto& p : problems)
                std::fprintf(stderr, "%s\n", qnShownLine(p).c_str());
            std::fprintf(stderr, "tessolo-rc: %zu problem(s) in the manifest\n", problems.size());
            return 1;
        }
        // Every file the compiler reads: the manifest's own files, its fonts,
        // the painter's fonts and the icons.
        std::vector<std::string> inputs = m.files;
        for (const rc::FontDef& f : m.fonts)
            inputs.push_back(f.file);
        for (const auto& [folder, ending] : {std::pair{fonts, ".ttf"}, std::pair{m.iconDir, ".svg"}}) {
            std::error_code ec;
            for (std::filesystem::directory_iterator it(folder, ec), end; !folder.empty() && !ec && it != end;
                 it.increment(ec))
                if (it->path().extension() == ending)
                    inputs.push_back(it->path().string());
        }
        // Standard output takes the line saying what was written: never
        // one of these files either.
        inputs.push_back(manifest);
        qnAddRunInputs(inputs);
        if (const std::string why = qnInputRefusal(out, inputs); !why.empty()) {
            std::fprintf(stderr, "tessolo-rc: %s\n", qnShownLine(why).c_str());
            return 1;
        }
        const auto bytes = rc::Compile(m, {fonts});
        if (const unsigned short error = qnReplaceFile(out, bytes.data(), bytes.size())) {
            std::fprintf(stderr, "tessolo-rc: %s\n", qnShownLine(qnFileFailure(out, true, error)).c_str());
            return 1;
        }
        std::printf("wrote %s\n", qnShownName(out).c_str());
    } catch (const rc::Error& e) {
        std::fprintf(stderr, "tessolo-rc: %s\n", qnShownLine(e.what()).c_str());
        return 1;
    }
    return 0;
}
