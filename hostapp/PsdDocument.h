// Layered PSD documents as the stand-in host's documents, read with the
// system's own PSD codec.
#pragma once

#include "hostapp/HostDocument.h"

#include <string>

class CQNF_ImageFile;

namespace hostapp {

// Every pixel layer becomes a host layer placed on the canvas (ids 1, 2, ...
// bottom first, with its name, visibility, opacity and transparency), and
// one that reaches beyond the canvas is kept whole as well (HostLayer::
// beyond); group markers are skipped, and doc.unkept says so. A document
// without layers becomes a flat background from its merged image. The top
// layer is the target.
//
// Layers of a kind the codec does not read (another blend mode, ZIP-packed
// channels, ...) do not make the file unreadable: with note given, the
// merged image becomes the one layer, note says why, in one line, and
// doc.unkept names the layers; without it, the file is refused.
bool ReadPsdDocument(const std::string& path, HostDocument& doc, std::string& err, std::string* note = nullptr);
// The same from a PSD file already loaded (path names it in messages).
bool DocumentFromPsd(CQNF_ImageFile& file, const std::string& path, HostDocument& doc, std::string& err,
                     std::string* note = nullptr);

}  // namespace hostapp
