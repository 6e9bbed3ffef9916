// The controls gallery's resource file for tests: compiled from the gallery's
// manifest by the resource compiler, as the build does for the tool.
#pragma once

#include "core/SafeFile.h"
#include "resources/compiler/Compile.h"
#include "resources/compiler/Error.h"
#include "resources/compiler/Manifest.h"

#include <string>

namespace ctrltest {

inline bool BuildControlsGallery(const std::string& out, std::string& error)
{
    const std::string root = TESSOLO_SOURCE_DIR;
    try {
        const rc::Manifest m = rc::ParseManifest(root + "/ui/gallery/controls.qnui");
        const auto problems = rc::Lint(m);
        if (!problems.empty()) {
            error = problems.front();
            return false;
        }
        const auto bytes = rc::Compile(m, {root + "/resources/fonts"});
        if (qnReplaceFile(out, bytes.data(), bytes.size()) != 0) {
            error = "cannot write " + out;
            return false;
        }
    } catch (const rc::Error& e) {
        error = e.what();
        return false;
    }
    return true;
}

}  // namespace ctrltest
