// From a parsed manifest to the resource file: the lint that refuses a broken
// manifest with a list of problems, and the emitter that writes every record
// the windows read.
#pragma once

#include "resources/compiler/Manifest.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rc {

inline constexpr int kScreenWidth = 1366, kScreenHeight = 768;

// Every problem as "file:line: message"; empty when the manifest is sound.
std::vector<std::string> Lint(const Manifest& m);

struct CompileOptions {
    std::string fontDir;  // where the Painter finds the DejaVu faces
};

// The stamped container image. Throws Error when a font or a skin cannot be made.
std::vector<uint8_t> Compile(const Manifest& m, const CompileOptions& options);

}  // namespace rc
