// Layered PSD documents as the stand-in host's documents, read with the
// system's own PSD codec.
#pragma once

#include "hostapp/HostDocument.h"

#include <string>

namespace hostapp {

// True when the file starts with the PSD signature.
bool IsPsdFile(const std::string& path);

// Every pixel layer becomes a host layer placed on the canvas (ids 1, 2, ...
// bottom first, with its name, visibility, opacity and transparency); group
// markers are skipped. A document without layers becomes a flat background
// from its merged image. The top layer is the target.
bool ReadPsdDocument(const std::string& path, HostDocument& doc, std::string& err);

}  // namespace hostapp
