// PackBits, the run-length code of PSD channel rows (as published for TIFF).
#include "imaging/PSDCodec.h"

#include <cstring>

void CQNF_ImagePSD::PackBits(const unsigned char* in, long length, unsigned char* out, long* outLength)
{
    long i = 0;
    long o = 0;
    while (i < length) {
        // A run of two or more equal bytes, at most 128.
        long j = i + 1;
        while (j < length && in[j] == in[i] && j - i < 128)
            ++j;
        if (j - i >= 2) {
            out[o++] = static_cast<unsigned char>(static_cast<signed char>(1 - (j - i)));
            out[o++] = in[i];
            i = j;
            continue;
        }
        // A literal: it ends where two equal bytes follow each other, which
        // then start a run, or at 128 bytes.
        const long start = i++;
        while (i < length && i - start < 128) {
            if (i + 1 < length && in[i] == in[i + 1])
                break;
            ++i;
        }
        out[o++] = static_cast<unsigned char>(i - start - 1);
        std::memcpy(out + o, in + start, static_cast<size_t>(i - start));
        o += i - start;
    }
    *outLength = o;
}

bool CQNF_ImagePSD::UnpackMacPack(const unsigned char* in, size_t inLength, unsigned char* out, size_t outLength,
                                  size_t* used)
{
    size_t i = 0;
    size_t o = 0;
    while (o < outLength) {
        if (i >= inLength)
            return false;
        const int h = static_cast<signed char>(in[i++]);
        if (h == -128)
            continue;  // no operation in the published code
        if (h < 0) {
            if (i >= inLength)
                return false;
            size_t n = static_cast<size_t>(1 - h);
            if (n > outLength - o)
                n = outLength - o;  // the excess is dropped and ends the row
            std::memset(out + o, in[i++], n);
            o += n;
        } else {
            const size_t n = static_cast<size_t>(h) + 1;
            if (n > inLength - i)
                return false;
            const size_t keep = n > outLength - o ? outLength - o : n;
            std::memcpy(out + o, in + i, keep);
            i += n;
            o += keep;
        }
    }
    if (used)
        *used = i;
    return true;
}

bool CQNF_ImagePSD::ExpandChanelPixels(unsigned char compression, const unsigned char* in, size_t inLength,
                                       unsigned char* out, uint32_t width, uint32_t height, size_t* used,
                                       unsigned char rowCountsSkipped)
{
    if (compression > 1) {
        SetError(qncodec::ErrUnsupported);
        return false;
    }
    const uint64_t total = uint64_t{width} * height;
    if (compression == 0) {
        if (used ? inLength < total : inLength != total) {
            SetError(qncodec::ErrCorrupt);
            return false;
        }
        if (total)
            std::memcpy(out, in, static_cast<size_t>(total));
        if (used)
            *used = static_cast<size_t>(total);
        return true;
    }
    size_t pos = 0;
    if (!rowCountsSkipped) {
        const uint64_t table = uint64_t{height} * 2;
        if (table > inLength) {
            SetError(qncodec::ErrCorrupt);
            return false;
        }
        pos = static_cast<size_t>(table);
    }
    for (uint32_t y = 0; y < height; ++y) {
        size_t n = 0;
        if (!UnpackMacPack(in + pos, inLength - pos, out + static_cast<size_t>(uint64_t{y} * width), width, &n)) {
            SetError(qncodec::ErrCorrupt);
            return false;
        }
        pos += n;
    }
    if (used)
        *used = pos;
    else if (pos != inLength) {
        SetError(qncodec::ErrCorrupt);
        return false;
    }
    return true;
}
