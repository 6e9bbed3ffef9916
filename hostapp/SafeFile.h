// Whole-file reads and writes for the stand-in host. Writes go to a temporary
// file in the same folder that is renamed into place, so a failed write never
// leaves the user's file truncated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hostapp {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& err);
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& err);

}  // namespace hostapp
