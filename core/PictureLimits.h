// How large a picture may be when its size comes from a person (a number
// typed on the command line) rather than from a file already in memory: the
// check runs before anything is allocated, so a typing slip is one clear
// line instead of gigabytes and minutes.
#pragma once

#include <cstdint>
#include <string>

// The longest side a document may have anywhere in the system.
inline constexpr uint64_t kQnMaxPictureSide = 30000;
// The most memory one picture's planes may take: a 30000 x 30000 grey
// picture, or about 16000 x 16000 in RGBA.
inline constexpr uint64_t kQnMaxPictureBytes = uint64_t(1) << 30;

// True when a width x height picture of `planes` 8-bit planes stays within
// both limits; else false with a one-line reason in error.
bool qnCheckPictureSize(uint64_t width, uint64_t height, uint64_t planes, std::string& error);
