// The compiler's one failure: a message that names the manifest line it came
// from, if any. The build stops on it and prints it.
#pragma once

#include <stdexcept>
#include <string>

namespace rc {

struct Error : std::runtime_error {
    explicit Error(const std::string& what) : std::runtime_error(what) {}
};

}  // namespace rc
