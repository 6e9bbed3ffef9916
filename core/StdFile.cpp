#include "core/StdFile.h"

#include "core/Launcher.h"
#include "core/ProgramOutput.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <new>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace {

thread_local int g_lastWriteErrno = 0;

// "e": close-on-exec, so programs we launch do not inherit open files.
const char* ModeString(uint32_t mode)
{
    switch (mode) {
    case qnfile::kRead: return "rbe";
    case qnfile::kWrite: return "wbe";
    case qnfile::kUpdate: return "r+be";
    case qnfile::kReadWrite: return "w+be";
    default: return nullptr;
    }
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool DecodeUtf8(const unsigned char* s, size_t n, std::u32string& out)
{
    out.clear();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        char32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            len = 4;
        } else {
            return false;
        }
        if (i + len > n)
            return false;
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        static const char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        out.push_back(cp);
        i += len;
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

// The UTF-8 form of a converted name, as the folder entry is named.
std::string Utf8Name(const HFSUniStr255& name)
{
    std::string out;
    for (uint16_t i = 0; i < name.length; ++i) {
        char32_t cp = name.unicode[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < name.length) {
            const char32_t low = name.unicode[i + 1];
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        AppendUtf8(out, cp);
    }
    return out;
}

}  // namespace

int qnLastWriteErrno() { return g_lastWriteErrno; }

void qnNoteWriteErrno(int error) { g_lastWriteErrno = error; }

int qnOpenRegularFile(const char* path, int flags)
{
    const int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    qnRefuseStandardOutputOnInput(fd, path);
    // Reading a regular file never waits; later reads need not be told so.
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl >= 0)
        ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

CQNF_StdFile::CQNF_StdFile(const CQNF_String& path, uint32_t mode) { Open(path, mode); }

CQNF_StdFile::~CQNF_StdFile() { Close(); }

// ---------------------------------------------------------------------------
// Opening and closing

bool CQNF_StdFile::Open(const CQNF_String& path, uint32_t mode)
{
    Close();
    m_canRead = m_canWrite = 0;
    const char* how = ModeString(mode);
    if (!how) {
        SetError(qnerr::BadArgument);
        return false;
    }
    if (path.GetLength() == 0) {
        SetError(qnerr::FileNotOpened);
        return false;
    }
    FILE* f = nullptr;
    if (mode == qnfile::kRead || mode == qnfile::kUpdate) {
        // What is read must be a regular file: a FIFO without a writer
        // would block the open for ever, a device may never end. The kind
        // is checked on a descriptor opened without waiting.
        const int fd = qnOpenRegularFile(path.GetStr(), mode == qnfile::kRead ? O_RDONLY : O_RDWR);
        if (fd >= 0 && !(f = ::fdopen(fd, how)))
            ::close(fd);
    } else {
        f = std::fopen(path.GetStr(), how);
        // fopen opens folders on this system; they are no file.
        struct stat st;
        if (f && (fstat(fileno(f), &st) != 0 || S_ISDIR(st.st_mode))) {
            std::fclose(f);
            f = nullptr;
        }
    }
    if (!f) {
        SetError(qnerr::FileNotOpened);
        return false;
    }
    i_Adopt(f, mode);
    return true;
}

void CQNF_StdFile::i_Adopt(FILE* stream, uint32_t mode)
{
    m_stream = stream;
    m_canRead = (mode != qnfile::kWrite);
    m_canWrite = (mode != qnfile::kRead);
    m_last = LastOp::None;
    ResetError();
    if (m_canWrite)
        qnNoteWriteErrno(0);
}

void CQNF_StdFile::i_Failed(unsigned short number)
{
    if (m_canWrite)
        qnNoteWriteErrno(errno);
    SetError(number);
}

bool CQNF_StdFile::OpenDescriptor(int fd, uint32_t mode)
{
    Close();
    m_canRead = m_canWrite = 0;
    // fdopen would truncate nothing anyway; "w" only names the direction.
    const char* how = mode == qnfile::kRead    ? "rb"
                      : mode == qnfile::kWrite ? "wb"
                      : mode == qnfile::kUpdate || mode == qnfile::kReadWrite ? "r+b"
                                                                              : nullptr;
    if (!how || fd < 0) {
        if (fd >= 0)
            ::close(fd);
        SetError(how ? qnerr::FileNotOpened : qnerr::BadArgument);
        return false;
    }
    FILE* f = ::fdopen(fd, how);
    if (!f) {
        ::close(fd);
        SetError(qnerr::FileNotOpened);
        return false;
    }
    i_Adopt(f, mode);
    return true;
}

bool CQNF_StdFile::Open(const FSRef* ref, uint32_t mode)
{
    if (!ref) {
        Close();
        m_canRead = m_canWrite = 0;
        SetError(ModeString(mode) ? qnerr::FileNotOpened : qnerr::BadArgument);
        return false;
    }
    return Open(CQNF_String(ref->path.c_str()), mode);
}

bool CQNF_StdFile::i_PathInFolder(const CQNF_String& name, const FSRef* folder, CQNF_String& path)
{
    HFSUniStr255 unicode;
    const std::string_view n(name.GetStr(), name.GetLength());
    if (!folder || folder->path.empty() || n.empty() || n == "." || n == ".." || n.find('/') != n.npos ||
        HFSNameGetUnicodeName(name.GetStr(), &unicode, qnos::SystemEncoding) != qnos::NoErr) {
        SetError(qnerr::FileNotOpened);
        return false;
    }
    std::string full = folder->path;
    if (full.back() != '/')
        full.push_back('/');
    full += Utf8Name(unicode);
    path = full.c_str();
    return true;
}

bool CQNF_StdFile::Open(const CQNF_String& name, const FSRef* folder, uint32_t mode)
{
    // Modes 2 and 4 create the file when it is missing and truncate it
    // otherwise; modes 1 and 3 need it to exist. fopen does exactly that.
    CQNF_String path;
    if (!i_PathInFolder(name, folder, path)) {
        Close();
        m_canRead = m_canWrite = 0;
        if (!ModeString(mode))
            SetError(qnerr::BadArgument);
        return false;
    }
    return Open(path, mode);
}

bool CQNF_StdFile::Close()
{
    if (!m_stream)
        return true;
    // Buffered data reaches the disk only here; losing it must not pass
    // for a success.
    const bool ok = std::fclose(m_stream) == 0;
    m_stream = nullptr;
    m_last = LastOp::None;
    if (!ok && m_canWrite) {
        i_Failed(qnerr::FileWrite);
        return false;
    }
    return true;
}

bool CQNF_StdFile::i_Closed()
{
    if (m_stream)
        return false;
    SetError(qnerr::FileClosed);
    return true;
}

// ---------------------------------------------------------------------------
// Positioning

int64_t CQNF_StdFile::SetPos(uint64_t offset)
{
    if (i_Closed())
        return -1;
    if (offset > uint64_t(INT64_MAX)) {
        SetError(qnerr::FileSeek);
        return -1;
    }
    if (fseeko(m_stream, off_t(offset), SEEK_SET) != 0) {
        i_Failed(qnerr::FileSeek);
        return -1;
    }
    m_last = LastOp::None;
    return int64_t(offset);
}

int64_t CQNF_StdFile::OffsetPos(int64_t delta)
{
    if (i_Closed())
        return -1;
    if (fseeko(m_stream, off_t(delta), SEEK_CUR) != 0) {
        i_Failed(qnerr::FileSeek);
        return -1;
    }
    m_last = LastOp::None;
    return GetPos();
}

int64_t CQNF_StdFile::GetPos()
{
    if (i_Closed())
        return -1;
    const off_t pos = ftello(m_stream);
    if (pos < 0) {
        i_Failed(qnerr::FileSeek);
        return -1;
    }
    return int64_t(pos);
}

int64_t CQNF_StdFile::GetLength()
{
    const int64_t pos = GetPos();
    if (pos < 0)
        return -1;
    if (fseeko(m_stream, 0, SEEK_END) != 0) {
        i_Failed(qnerr::FileSeek);
        return -1;
    }
    const off_t length = ftello(m_stream);
    if (fseeko(m_stream, off_t(pos), SEEK_SET) != 0 || length < 0) {
        i_Failed(qnerr::FileSeek);
        return -1;
    }
    m_last = LastOp::None;
    return int64_t(length);
}

// ---------------------------------------------------------------------------
// Transfers

bool CQNF_StdFile::i_Turn(LastOp next)
{
    // The C library leaves a read right after a write (or the reverse)
    // undefined without a positioning call in between.
    if (m_last != LastOp::None && m_last != next && fseeko(m_stream, 0, SEEK_CUR) != 0) {
        i_Failed(qnerr::FileSeek);
        return false;
    }
    m_last = next;
    return true;
}

int64_t CQNF_StdFile::Read(void* buffer, uint32_t n)
{
    if (i_Closed())
        return -1;
    if (!m_canRead) {
        SetError(qnerr::FileAccess);
        return -1;
    }
    if (n == 0)
        return 0;
    if (!buffer) {
        SetError(qnerr::BadArgument);
        return -1;
    }
    if (!i_Turn(LastOp::Read))
        return -1;
    const size_t got = std::fread(buffer, 1, n, m_stream);
    if (got == 0) {
        SetError(qnerr::FileRead);
        return -1;
    }
    return int64_t(got);
}

int64_t CQNF_StdFile::Read(CQNF_Mem& block, uint32_t n)
{
    const uint32_t count = (n != 0 && n < block.GetSize()) ? n : block.GetSize();
    return Read(block.GetPtr(), count);
}

int64_t CQNF_StdFile::Write(const void* data, uint32_t n)
{
    if (i_Closed())
        return -1;
    if (!m_canWrite) {
        SetError(qnerr::FileAccess);
        return -1;
    }
    if (n == 0)
        return 0;
    if (!data) {
        SetError(qnerr::BadArgument);
        return -1;
    }
    if (!i_Turn(LastOp::Write))
        return -1;
    const size_t put = std::fwrite(data, 1, n, m_stream);
    if (put == 0) {
        i_Failed(qnerr::FileWrite);
        return -1;
    }
    // A short count is no error of the file's, but the system's reason for
    // it is kept for the caller's message.
    if (put < n && std::ferror(m_stream))
        qnNoteWriteErrno(errno);
    return int64_t(put);
}

int64_t CQNF_StdFile::Write(const CQNF_Mem& block, uint32_t n)
{
    const uint32_t count = (n != 0 && n < block.GetSize()) ? n : block.GetSize();
    return Write(block.GetPtr(), count);
}

bool CQNF_StdFile::Flush()
{
    if (i_Closed())
        return false;
    if (std::fflush(m_stream) != 0) {
        i_Failed(qnerr::FileWrite);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Names and launching

int32_t CQNF_StdFile::HFSNameGetUnicodeName(const char* name, HFSUniStr255* out, uint32_t encoding)
{
    if (!out)
        return qnos::ParamErr;
    out->length = 0;
    if (!name || !*name)
        return qnos::NoErr;
    if (encoding != qnos::SystemEncoding)
        return qnos::ParamErr;
    const auto* bytes = reinterpret_cast<const unsigned char*>(name);
    const size_t n = std::strlen(name);
    std::u32string cps;
    if (!DecodeUtf8(bytes, n, cps)) {
        cps.assign(bytes, bytes + n);  // Latin-1: every byte is its code point
    }
    uint16_t units = 0;
    for (char32_t cp : cps) {
        const uint16_t need = cp >= 0x10000 ? 2 : 1;
        if (units + need > 255) {
            out->length = 0;
            return qnos::NameTooLongErr;
        }
        if (need == 2) {
            cp -= 0x10000;
            out->unicode[units++] = uint16_t(0xD800 + (cp >> 10));
            out->unicode[units++] = uint16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out->unicode[units++] = uint16_t(cp);
        }
    }
    out->length = units;
    return qnos::NoErr;
}

bool CQNF_StdFile::LaunchFile(const FSRef* ref)
{
    std::error_code ec;
    if (!ref || ref->path.empty() || !std::filesystem::exists(ref->path, ec)) {
        SetError(qnerr::FileNotOpened);
        return false;
    }
    // An absolute path cannot be mistaken for an option of the opener.
    const std::filesystem::path absolute = std::filesystem::absolute(ref->path, ec);
    if (ec || !CQNF_Launcher::Open(absolute.string())) {
        SetError(qnerr::FileNotOpened);
        return false;
    }
    return true;
}

bool CQNF_StdFile::LaunchFile(const CQNF_String& name, const FSRef* folder)
{
    CQNF_String path;
    if (!i_PathInFolder(name, folder, path))
        return false;
    const FSRef ref{path.GetStr()};
    return LaunchFile(&ref);
}
