#include "imaging/CodecFile.h"

#include "imaging/PNGCodec.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

bool CQNF_CodecFile::Open(const char* target)
{
    Abandon();
    ResetError();
    if (!target || !*target) {
        SetError(qnerr::BadArgument);
        return false;
    }
    std::string temp = std::string(target) + ".tmp-XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back(0);
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        SetError(qnerr::FileNotOpened);
        return false;
    }
    close(fd);
    m_temp = name.data();
    m_target = target;
    if (!m_file.Open(m_temp.c_str(), 4)) {
        SetError(m_file.GetError());
        std::remove(m_temp.c_str());
        m_temp.clear();
        return false;
    }
    return true;
}

bool CQNF_CodecFile::Commit()
{
    if (m_temp.empty() || !m_file.IsOpened()) {
        SetError(qnerr::FileClosed);
        return false;
    }
    bool ok = m_file.Flush();
    if (ok && m_file.GetStream())
        ok = fsync(fileno(m_file.GetStream())) == 0;
    ok = m_file.Close() && ok;
    if (ok) {
        // The new file gets the target's permissions, or those a newly
        // created file would have.
        struct stat st;
        mode_t mode;
        if (stat(m_target.c_str(), &st) == 0) {
            mode = st.st_mode & 07777;
        } else {
            const mode_t mask = umask(0);
            umask(mask);
            mode = 0666 & ~mask;
        }
        chmod(m_temp.c_str(), mode);
        ok = std::rename(m_temp.c_str(), m_target.c_str()) == 0;
    }
    if (!ok) {
        SetError(m_file.GetError() ? m_file.GetError() : qnerr::FileWrite);
        Abandon();
        return false;
    }
    m_temp.clear();
    return true;
}

void CQNF_CodecFile::Abandon()
{
    if (m_file.IsOpened())
        m_file.Close();
    if (!m_temp.empty()) {
        std::remove(m_temp.c_str());
        m_temp.clear();
    }
}

bool qnCodecSavePNG(const char* path, uint16_t width, uint16_t height, uint8_t codecMode,
                    const unsigned char* const planes[4], const unsigned char* alpha, uint32_t stride,
                    double resolution, const char* product, unsigned short& error)
{
    error = 0;
    const size_t n = size_t{width} * height;
    if (!n || stride < width) {
        error = qncodec::ErrArgument;
        return false;
    }
    const bool grey = codecMode == qncodec::ModeGrey;
    const int out = grey ? 2 : 4;
    CQNF_Mem block;
    if (!block.alloc(qnMulSize({n, static_cast<uint64_t>(out)}))) {
        error = block.GetError();
        return false;
    }
    unsigned char* dst[4];
    for (int k = 0; k < out; ++k)
        dst[k] = block.GetPtr() + k * n;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const size_t s = size_t{y} * stride + x;
            const size_t d = size_t{y} * width + x;
            auto at = [&](int c) -> unsigned { return planes[c] ? planes[c][s] : 0u; };
            if (grey) {
                dst[0][d] = static_cast<unsigned char>(at(0));
            } else if (codecMode == qncodec::ModeCMYK) {
                const unsigned k = at(3);
                for (int c = 0; c < 3; ++c)
                    dst[c][d] = static_cast<unsigned char>(at(c) * k / 255);
            } else {
                for (int c = 0; c < 3; ++c)
                    dst[c][d] = static_cast<unsigned char>(at(c));
            }
            dst[out - 1][d] = alpha ? alpha[s] : 255;
        }
    }
    CQNF_ImagePNG::PNGWRITE_PARAMS p;
    p.width = width;
    p.height = height;
    p.mode = grey ? CQNF_ImagePNG::WriteGreyAlpha : CQNF_ImagePNG::WriteRGBA;
    for (int k = 0; k < out; ++k)
        p.planes[k] = dst[k];
    p.stride = width;
    p.product = product;
    p.resolution = resolution;
    CQNF_CodecFile file;
    if (!file.Open(path)) {
        error = file.GetError();
        return false;
    }
    CQNF_ImagePNG png;
    if (!png.Create(file.File()) || !png.WritePNG(&p)) {
        error = png.GetError() ? png.GetError() : qnerr::FileWrite;
        return false;  // the temporary file goes with `file`
    }
    if (!file.Commit()) {
        error = file.GetError();
        return false;
    }
    return true;
}
