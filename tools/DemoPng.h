// A small PNG writer for the demo commands: an RGB or RGBA image as an 8-bit
// PNG, written to a temporary file beside the target and renamed over it once
// complete, so a failed write never leaves a half-written picture.
#pragma once

#include "imaging/Image.h"

#include <string>

namespace tool {

bool WriteImagePng(CQNF_Image& image, const std::string& path, std::string& error);

}  // namespace tool
