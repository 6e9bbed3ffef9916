// The libjpeg glue of the JPEG codec: a source over a caller's buffer and an
// error manager that returns to the running operation. Private to
// imaging/JPEG*.cpp; exposed for the codec's tests.
#pragma once

#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE and size_t first

#include <jpeglib.h>

#include <csetjmp>

// The source installed by jpeg_frommem_src. The data belongs to the caller.
struct qntJPEGMEMSOURCE {
    jpeg_source_mgr pub;
    size_t size;
    const JOCTET* data;
    boolean startOfFile;
    // Set once the library asked for bytes past the end of the data.
    boolean ended;
};

// The standard error manager with its exit routine replaced, and the
// recovery point of the running operation. The library's warnings that say
// the picture will not come out whole end the operation at once, as its
// errors do, and are kept as what they say (the library's message stays in
// pub); the others (an unknown JFIF revision, junk between segments, SOS
// fields a sequential file ignores, a bad ICC marker) leave the picture as
// the file codes it and are dropped.
struct qntJPEGERROR {
    jpeg_error_mgr pub;
    jmp_buf recovery;
    // A scan's data ended before its blocks did: the decoder met a marker
    // (the end marker of a cut file, whatever came before it) where coded
    // data was still needed, or an end marker in place of a restart marker.
    boolean truncated;
    // The coded data does not decode: a code no table holds, a missing
    // restart marker, a marker in the middle of a scan's data, or scans
    // that refine what was never sent or send it again.
    boolean damaged;
    // The marker the decoder had met when it stopped on one of the above.
    int marker;
    // Bytes the decoder passed over, unread, before a marker: a few are
    // some encoders' padding; many are data the picture never took, as a
    // cut file filled up with zeros leaves behind.
    long unusedBytes;
};

// More unused bytes than this among a picture's coded data are not padding.
inline constexpr long kJpegMostPaddingBytes = 1024;

// Installs a source over data..data+size, allocated from the library's
// permanent pool.
void jpeg_frommem_src(j_decompress_ptr cinfo, const void* data, size_t size);

// Sets up err as the error manager of cinfo (call before creating it).
void qnJpegErrorSetup(j_decompress_ptr cinfo, qntJPEGERROR* err);

namespace qnjpeg {

// Returns false when the library reported an error during f(). f must
// capture by reference and do nothing but call the library.
template <class F>
bool Guard(qntJPEGERROR& err, F&& f)
{
    if (setjmp(err.recovery))
        return false;
    f();
    return true;
}

}  // namespace qnjpeg
