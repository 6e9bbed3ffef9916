// Writing image files so that a failure never costs the user a good file.
//
// CQNF_CodecFile opens a temporary file beside the target; the writer fills
// it; Commit() flushes it to the disk and renames it over the target in one
// step. Until then the target is untouched, and a writer that fails (or a
// file that is dropped without Commit) leaves no trace: the temporary file
// is removed. Error numbers are the file's (32 to 37), or 33 for a failed
// flush, sync or rename.
#pragma once

#include "core/ErrorManager.h"
#include "core/StdFile.h"

#include <cstdint>
#include <string>

class CQNF_CodecFile : public CQNF_FrameWork {
public:
    CQNF_CodecFile() = default;
    CQNF_CodecFile(const CQNF_CodecFile&) = delete;
    CQNF_CodecFile& operator=(const CQNF_CodecFile&) = delete;
    ~CQNF_CodecFile() override { Abandon(); }

    // Creates the temporary file for target (in the same folder, so the
    // rename stays on one file system), open for reading and writing.
    bool Open(const char* target);
    CQNF_StdFile& File() { return m_file; }
    // Makes the written file the target; false (and the target untouched)
    // when any step fails.
    bool Commit();
    // Closes and removes the temporary file.
    void Abandon();

private:
    CQNF_StdFile m_file;
    std::string m_target;
    std::string m_temp;
};

// Saves decoded planes as a PNG at path through a CQNF_CodecFile: colour
// (codec mode 1) and CMYK (mode 3, stored inverted as in PSD and Adobe JPEG
// files, 255 = no ink) become RGBA, grey (mode 2) grey with alpha. planes
// holds the channels in the file's order (null channels read as 0); alpha
// may be null (opaque). Returns false with the codec's or file's number in
// error.
bool qnCodecSavePNG(const char* path, uint16_t width, uint16_t height, uint8_t codecMode,
                    const unsigned char* const planes[4], const unsigned char* alpha, uint32_t stride,
                    double resolution, const char* product, unsigned short& error);
