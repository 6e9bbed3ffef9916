// Layered PSD documents as the stand-in host's documents, read with the
// system's own PSD codec.
#pragma once

#include "hostapp/HostDocument.h"

#include <string>

class CQNF_ImageFile;

namespace hostapp {

// Every pixel layer becomes a host layer placed on the canvas (ids 1, 2, ...
// bottom first, with its name, visibility, opacity and transparency); group
// markers are skipped. A document without layers becomes a flat background
// from its merged image. The top layer is the target.
bool ReadPsdDocument(const std::string& path, HostDocument& doc, std::string& err);
// The same from a PSD file already loaded (path names it in messages).
bool DocumentFromPsd(CQNF_ImageFile& file, const std::string& path, HostDocument& doc, std::string& err);

}  // namespace hostapp
