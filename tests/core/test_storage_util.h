// Hand-built containers and a slow oracle for the storage tests.
#pragma once

#include "core/MD5Digest.h"
#include "core/Storage.h"
#include "core/String.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/un.h>
#include <unistd.h>

namespace storage_test {

using Bytes = std::vector<uint8_t>;

// Makes a UNIX socket at path (left with no listener); false when it cannot.
inline bool MakeSocket(const std::string& path)
{
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    if (path.size() >= sizeof at.sun_path)
        return false;
    std::memcpy(at.sun_path, path.c_str(), path.size() + 1);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool made = s >= 0 && ::bind(s, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
    if (s >= 0)
        ::close(s);
    return made;
}

inline void Put32(Bytes& b, uint32_t v)
{
    const uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    b.insert(b.end(), bytes, bytes + 4);
}
inline void Put16(Bytes& b, uint16_t v)
{
    const uint8_t bytes[2] = {uint8_t(v >> 8), uint8_t(v)};
    b.insert(b.end(), bytes, bytes + 2);
}
// Lower-case hexadecimal, as md5sum prints digests.
inline std::string Hex(const uint8_t* p, size_t n)
{
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

inline uint32_t Get32(const Bytes& b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// One record as it goes into a hand-built container.
struct Raw {
    uint8_t type;
    uint32_t parent;
    uint32_t id;
    std::string name;
    Bytes payload;
    int64_t length = -1;  // the length field; -1: the real one
};

inline Bytes Payload32(uint32_t v)
{
    Bytes b;
    Put32(b, v);
    return b;
}
inline Bytes PayloadText(const std::string& s)
{
    Bytes b;
    Put32(b, uint32_t(s.size() + 1));
    b.insert(b.end(), s.c_str(), s.c_str() + s.size() + 1);
    return b;
}

inline Bytes RecordBytes(const Raw& r)
{
    Bytes b;
    const uint32_t len = uint32_t(11 + r.name.size() + r.payload.size());
    Put32(b, r.length >= 0 ? uint32_t(r.length) : len);
    b.insert(b.end(), &r.type, &r.type + 1);
    Put32(b, r.parent);
    Put32(b, r.id);
    Put16(b, uint16_t(r.name.size()));
    b.insert(b.end(), r.name.begin(), r.name.end());
    b.insert(b.end(), r.payload.begin(), r.payload.end());
    return b;
}

inline void StampImage(Bytes& b)
{
    CQNF_MD5Digest::Compute(b.data() + 24, b.size() - 24, b.data() + 8);
}

// A plain container; count < 0 writes the real record count.
inline Bytes Build(const std::vector<Raw>& recs, uint32_t lastId, int64_t count = -1)
{
    Bytes b(24, 0);
    std::memcpy(b.data(), "QNCPSv40", 8);
    Put32(b, count >= 0 ? uint32_t(count) : uint32_t(recs.size()));
    Put32(b, lastId);
    for (const Raw& r : recs) {
        const Bytes rb = RecordBytes(r);
        b.insert(b.end(), rb.begin(), rb.end());
    }
    const char* t = "QNCPSv40";
    b.insert(b.end(), t, t + 8);
    StampImage(b);
    return b;
}

// The key index the record walk of the format gives: from the root, every
// live record whose parent is the folder being walked, recursing into
// folders, then sorted byte-wise. Only for containers whose folder ids are
// unique (the walk never ends otherwise).
inline std::map<std::string, uint32_t> WalkIndex(const Bytes& img)
{
    std::map<std::string, uint32_t> index;
    const uint32_t count = Get32(img, 24);
    std::function<void(const std::string&, uint32_t)> walk = [&](const std::string& prefix, uint32_t id) {
        size_t off = 32;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t len = Get32(img, off);
            const uint8_t type = img[off + 4];
            const uint32_t parent = Get32(img, off + 5);
            const uint32_t rid = Get32(img, off + 9);
            const uint16_t n = uint16_t(img[off + 13] << 8 | img[off + 14]);
            if (parent == id && type != 0x63) {
                const std::string name(reinterpret_cast<const char*>(&img[off + 15]), n);
                const std::string key = prefix.empty() ? name : prefix + ">" + name;
                index[key] = uint32_t(off);
                if (type == 0)
                    walk(key, rid);
            }
            off += 4 + len;
        }
    };
    walk("", 0xFFFFFFFF);
    return index;
}

// Reads every key with every reader and lists every folder; the tests and
// the fuzz target leave judging this to the sanitizers.
inline void ReadEverything(CQNF_Storage& st)
{
    CQNF_StringArray kids;
    st.GetAllRecords("", kids);
    CQNF_StringArray* all = st.GetAllRecordsArray();
    for (uint32_t i = 0; i < all->GetSize(); ++i) {
        const CQNF_String key = (*all)[i];
        uint8_t a;
        uint16_t b;
        uint32_t c;
        double d;
        CQNF_String s;
        CQNF_Mem m;
        st.GetRec(key, a);
        st.GetRec(key, b);
        st.GetRec(key, c);
        st.GetRec(key, d);
        st.GetRec(key, s);
        st.GetRec(key, m);
        uint32_t size = 0;
        if (st.GetRec(key, nullptr, size)) {
            std::vector<unsigned char> buf(size);
            st.GetRec(key, buf.data(), size);
        }
        _QNSTORAGEDATA slot{};
        st.GetRec(key, slot);
        st.GetAllRecords(key, kids);
    }
}

inline Bytes ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& b)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir()
    {
        std::string t = (std::filesystem::temp_directory_path() / "tessolo_storage_XXXXXX").string();
        m_path = ::mkdtemp(t.data()) ? t : std::string();
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// Runs body in a child process; returns its exit status (-1: no child).
template <typename Body>
inline int InChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Gives the calling process mounts of its own, which go with it: as root,
// or in a user namespace of its own where the system lets users make one.
// False where neither is allowed. Call it in a child process: a user
// namespace takes only a process with one thread.
inline bool OwnMounts()
{
    if (::unshare(CLONE_NEWNS) != 0) {
        const std::string uid = std::to_string(::geteuid());
        const std::string gid = std::to_string(::getegid());
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << uid << ' ' << uid << " 1";
        std::ofstream("/proc/self/gid_map") << gid << ' ' << gid << " 1";
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Runs body in a child process with mounts of its own: what it said
// (nothing when all went well), or nothing at all where the system gives
// no such process.
inline std::optional<std::string> InOwnMounts(const std::function<std::string()>& body)
{
    TempDir talk;
    const std::string said = talk.File("said");
    const int status = InChild([&] {
        if (!OwnMounts())
            return 77;
        std::ofstream(said) << body();
        return 0;
    });
    if (status == 77)
        return std::nullopt;
    const Bytes b = ReadFile(said);
    return status == 0 ? std::string(b.begin(), b.end()) : "the child ended with " + std::to_string(status);
}

// An owner and group for a file other than this process's own, as far as
// it may give them: as root another user and group; else this user and one
// of its other groups, when it has one.
inline std::pair<uid_t, gid_t> AnotherOwner()
{
    if (::geteuid() == 0)
        return {4321, 5432};
    gid_t gid = ::getegid();
    gid_t groups[64];
    const int n = ::getgroups(64, groups);
    for (int i = 0; i < n; ++i)
        if (groups[i] != ::getegid())
            gid = groups[i];
    return {::geteuid(), gid};
}

}  // namespace storage_test
