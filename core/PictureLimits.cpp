#include "core/PictureLimits.h"

bool qnCheckPictureSize(uint64_t width, uint64_t height, uint64_t planes, std::string& error)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width == 0 || height == 0 || width > kQnMaxPictureSide || height > kQnMaxPictureSide) {
        error = size + " is not a picture size: each side must be 1 to " + std::to_string(kQnMaxPictureSide);
        return false;
    }
    // Sides of at most 30000 keep the product far inside 64 bits.
    const uint64_t bytes = width * height * planes;
    if (bytes > kQnMaxPictureBytes) {
        error = size + " with " + std::to_string(planes) + " planes needs " + std::to_string(bytes >> 20) +
                " MiB, more than the " + std::to_string(kQnMaxPictureBytes >> 20) + " MiB a picture may take";
        return false;
    }
    return true;
}
