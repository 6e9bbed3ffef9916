// libjpeg glue: a source over memory and an error exit that returns to the
// operation instead of ending the process.
#include "imaging/JPEGSource.h"

#include <jerror.h>

#include <cstring>

extern "C" {

static void init_source_frommem(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<qntJPEGMEMSOURCE*>(cinfo->src);
    src->startOfFile = TRUE;
}

static boolean fill_input_buffer_frommem(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<qntJPEGMEMSOURCE*>(cinfo->src);
    if (src->startOfFile && src->size > 0) {
        src->pub.next_input_byte = src->data;
        src->pub.bytes_in_buffer = src->size;
        src->startOfFile = FALSE;
        return TRUE;
    }
    // Past the end: hand over an end-of-image marker, as the library's own
    // sources do, so truncated data ends instead of being read again from
    // its start.
    static const JOCTET eoi[2] = {0xFF, JPEG_EOI};
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->pub.next_input_byte = eoi;
    src->pub.bytes_in_buffer = 2;
    src->ended = TRUE;
    return TRUE;
}

static void skip_input_data_frommem(j_decompress_ptr cinfo, long n)
{
    if (n < 1)
        return;
    auto* src = reinterpret_cast<qntJPEGMEMSOURCE*>(cinfo->src);
    const size_t skip = static_cast<size_t>(n);
    if (skip > src->pub.bytes_in_buffer) {
        src->pub.next_input_byte += src->pub.bytes_in_buffer;
        src->pub.bytes_in_buffer = 0;
        return;
    }
    src->pub.next_input_byte += skip;
    src->pub.bytes_in_buffer -= skip;
}

static void term_source_frommem(j_decompress_ptr) {}

static void my_error_exit(j_common_ptr cinfo)
{
    // The message is formatted as the library expects, but neither shown
    // nor kept.
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    auto* err = reinterpret_cast<qntJPEGERROR*>(cinfo->err);
    longjmp(err->recovery, 1);
}

static void my_emit_message(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;  // trace messages
    auto* err = reinterpret_cast<qntJPEGERROR*>(cinfo->err);
    err->pub.num_warnings++;
    const auto* dinfo = cinfo->is_decompressor ? reinterpret_cast<j_decompress_ptr>(cinfo) : nullptr;
    switch (err->pub.msg_code) {
    case JWRN_HIT_MARKER:
        // A scan's data stopping at the end marker is a cut file (the
        // source hands one out past the end); at any other marker, the data
        // in the middle of the file does not match its frame.
        if (dinfo && dinfo->unread_marker != JPEG_EOI)
            err->damaged = TRUE;
        else
            err->truncated = TRUE;
        break;
    case JWRN_MUST_RESYNC:
        // The end marker where a restart marker belongs: the data was cut
        // at an interval's end. Any other marker there is damage.
        if (dinfo && dinfo->unread_marker == JPEG_EOI)
            err->truncated = TRUE;
        else
            err->damaged = TRUE;
        break;
    case JWRN_EXTRANEOUS_DATA:
        err->unusedBytes += err->pub.msg_parm.i[0];
        break;
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_BOGUS_PROGRESSION:
        err->damaged = TRUE;
        break;
    default:
        break;
    }
    // Nothing decoded after the first of these counts: the operation stops
    // at once, before the library spends time on the rest (every scan left
    // of a file that repeats one, each a pass over all of its blocks).
    if (err->truncated || err->damaged) {
        err->marker = dinfo ? dinfo->unread_marker : 0;
        longjmp(err->recovery, 1);
    }
}

}  // extern "C"

void jpeg_frommem_src(j_decompress_ptr cinfo, const void* data, size_t size)
{
    auto* src = static_cast<qntJPEGMEMSOURCE*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(qntJPEGMEMSOURCE)));
    std::memset(src, 0, sizeof *src);
    src->pub.init_source = init_source_frommem;
    src->pub.fill_input_buffer = fill_input_buffer_frommem;
    src->pub.skip_input_data = skip_input_data_frommem;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = term_source_frommem;
    src->pub.next_input_byte = nullptr;
    src->pub.bytes_in_buffer = 0;
    src->size = size;
    src->data = static_cast<const JOCTET*>(data);
    src->startOfFile = TRUE;
    src->ended = FALSE;
    cinfo->src = &src->pub;
}

void qnJpegErrorSetup(j_decompress_ptr cinfo, qntJPEGERROR* err)
{
    std::memset(cinfo, 0, sizeof *cinfo);
    std::memset(err, 0, sizeof *err);
    cinfo->err = jpeg_std_error(&err->pub);
    err->pub.error_exit = my_error_exit;
    err->pub.emit_message = my_emit_message;
}
