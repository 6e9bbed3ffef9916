// "storage ls|get|put|check": inspect and edit storage containers.
#include "tools/Command.h"

#include "core/ErrorWords.h"
#include "core/FileLock.h"
#include "core/MD5Digest.h"
#include "core/ProgramOutput.h"
#include "core/SafeFile.h"
#include "core/StdFile.h"
#include "core/Storage.h"
#include "core/String.h"
#include "core/ZipBlock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

const char* kName = "storage";

// A record's length field is 32 bits and counts its head and name too.
constexpr uint64_t kMaxValueSize = UINT32_MAX - 4096;

std::string Why(unsigned short error)
{
    switch (error) {
    case qnerr::FileNotOpened:
        // errno holds a reason only when the system refused.
        return errno ? qnSystemWords(errno) : std::string("cannot open the file");
    case qnerr::FileWrite:
        // The system's reason for a write it refused ("no space left on device").
        return qnLastWriteErrno() ? "cannot write the file (" + qnSystemWords(qnLastWriteErrno()) + ")"
                                  : std::string("cannot write the file");
    case qnerr::FileRead:
        return "cannot read the file";
    case qnerr::StorageStamp:
        return "the MD5 stamp does not match the content";
    case qnerr::StorageFormat:
        return qnErrorWords(error);
    case qnerr::StorageNoKey:
        return "no such record";
    case qnerr::StorageReadOnly:
        return "the container is read-only";
    case qnerr::StorageNotFolder:
        return "a parent is not a folder";
    case qnerr::BadArgument:
        return "bad key or value (empty names are not allowed)";
    case qnerr::NoMemory:
        return "out of memory";
    case qnerr::ZipNotABlock:
        return "the stored key index is corrupt";
    default:
        return "error " + std::to_string(error);
    }
}

int Failed(const std::string& what, unsigned short error) { return tool::Fail(kName, what + ": " + Why(error)); }

// What keeps FILE from being a container at all, said plainly; empty when
// it may be one. A file to write may be missing or empty (it becomes a new
// container); a file to read must hold at least an empty container.
std::string NotAContainer(const std::string& file, bool toWrite)
{
    const bool mayBeMissing = toWrite;
    struct stat sb;
    if (::stat(file.c_str(), &sb) != 0)
        return errno == ENOENT && mayBeMissing ? std::string() : qnReadFailure(file, errno);
    if (S_ISDIR(sb.st_mode))
        return qnOpenRegularFailure(file, EISDIR);
    if (!S_ISREG(sb.st_mode))
        return qnOpenRegularFailure(file, EINVAL);
    if (!toWrite && sb.st_size < off_t(qnstorage::kNewSize))
        return file + ": " + Why(qnerr::StorageFormat);
    return {};
}

// A record value read from standard input, within what a record can hold.
bool ReadValue(std::string& value, std::string& error)
{
    std::vector<uint8_t> bytes;
    if (!qnReadWholeStdin(bytes, error, kMaxValueSize))
        return false;
    value.assign(bytes.begin(), bytes.end());
    return true;
}

// The value's byte count: a string's includes its terminating 0.
uint32_t ValueLength(CQNF_Storage& st, const CQNF_String& key, unsigned char type)
{
    switch (type) {
    case 1:
        return 1;
    case 2:
        return 2;
    case 3:
        return 4;
    case 6:
        return 8;
    case 4:
    case 5: {
        uint32_t size = 0;
        st.GetRec(key, nullptr, size);
        return size;
    }
    default:
        return 0;
    }
}

// Opens FILE to read; a container whose stamp does not match may hide or
// misplace records, so it is not read as if it were whole.
int OpenToRead(CQNF_Storage& st, const std::string& file)
{
    if (const std::string why = NotAContainer(file, false); !why.empty())
        return tool::Fail(kName, why);
    if (!st.Open(CQNF_String(file.c_str()), qnstorage::kOpenReadOnly))
        return Failed(file, st.GetError());
    if (st.CheckMD5())
        return 0;
    if (st.GetError() != qnerr::StorageStamp)
        return Failed(file, st.GetError());
    return tool::Fail(kName, file + ": the MD5 stamp does not match the content, so it may be damaged; nothing was "
                                    "read (put --repair stamps it anew)");
}

int List(const std::string& file)
{
    CQNF_Storage st;
    if (const int failed = OpenToRead(st, file))
        return failed;
    // The index is sorted by key; its tags are record offsets: file order.
    CQNF_StringArray* all = st.GetAllRecordsArray();
    std::vector<CQNF_String> keys;
    for (uint32_t i = 0; i < all->GetSize(); ++i)
        keys.push_back((*all)[i]);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const CQNF_String& a, const CQNF_String& b) { return a.GetTag() < b.GetTag(); });
    // The type is the number storage put takes; the bytes are the value's.
    std::printf("key\ttype\tbytes\n");
    for (const CQNF_String& key : keys) {
        const unsigned char type = st.GetRecType(key);
        std::printf("%s\t%u\t%u\n", qnShownName(key.GetStr()).c_str(), unsigned(type), ValueLength(st, key, type));
    }
    // Records the folder tree does not reach are not listed: say so.
    uint32_t cut = 0;
    for (const QnStorageCutOff& c : st.GetCutOffs())
        cut += uint32_t(c.at.size()) + c.below;
    if (cut)
        return tool::Fail(kName, file + ": " + std::to_string(cut) + (cut == 1 ? " record is" : " records are") +
                                     " cut off from the folder tree, so not listed; the container is damaged "
                                     "(storage check names where)");
    return 0;
}

// A key is names joined by '>' (Folder>Key); none may be empty, a '/' is
// a character of a name like any other. "" if the path is one.
std::string PathRefusal(const std::string& path)
{
    if (path.empty())
        return "PATH is empty: a key is names joined by '>', as Folder>Key";
    if (path.size() > qnstorage::kMaxKeyLength)
        return "PATH is longer than " + std::to_string(qnstorage::kMaxKeyLength) + " bytes";
    if (!qnstorage::IsValidKey(path))
        return "PATH '" + qnShownName(path) + "' has an empty name: a key is names joined by '>', none of them empty";
    return {};
}

int Get(const std::string& file, const std::string& path)
{
    if (const std::string why = PathRefusal(path); !why.empty())
        return tool::BadArguments(kName, why);
    CQNF_Storage st;
    if (const int failed = OpenToRead(st, file))
        return failed;
    const CQNF_String key(path.c_str());
    const unsigned char type = st.GetRecType(key);
    switch (type) {
    case kQnStorageNoRecord:
        return Failed(qnShownName(path), st.GetError());
    case 0:
        return tool::Fail(kName, qnShownName(path) + " is a folder: it has no value (storage ls lists it)");
    case 1:
    case 2:
    case 3: {
        _QNSTORAGEDATA v{};
        st.GetRec(key, v);
        std::printf("%u\n", type == 1 ? unsigned(v.u8) : type == 2 ? unsigned(v.u16) : unsigned(v.u32));
        return 0;
    }
    case 6: {
        double d = 0;
        st.GetRec(key, d);
        std::printf("%.17g\n", d);
        return 0;
    }
    case 4: {
        CQNF_String s;
        if (!st.GetRec(key, s))
            return Failed(qnShownName(path), st.GetError());
        std::printf("%s\n", s.GetStr());
        return 0;
    }
    case 5: {
        CQNF_Mem m;
        if (!st.GetRec(key, m))
            return Failed(qnShownName(path), st.GetError());
        // A failed write is reported, with its reason, when the program ends.
        qnWriteStandardOutput(m.GetPtr(), m.GetSize());
        return 0;
    }
    default:
        return tool::Fail(kName,
                          qnShownName(path) + " has type " + std::to_string(type) + ", which has no known value");
    }
}

// The value a put writes, read from the command line.
struct Value {
    uint64_t type = 0;
    uint64_t number = 0;
    double real = 0;
    std::string bytes;
};

int PutRecord(const std::string& file, const std::string& path, const Value& v, bool repair)
{
    const uint64_t type = v.type;
    const uint64_t number = v.number;
    const double real = v.real;
    const std::string& value = v.bytes;
    CQNF_Storage st;
    if (!st.Open(CQNF_String(file.c_str()), qnstorage::kOpenUpdate))
        return Failed(file, st.GetError());
    // All the changes reach the file in one write, while it is locked.
    if (!st.BeginUpdate())
        return Failed(file, st.GetError());
    if (!repair && !st.CheckMD5())
        return tool::Fail(kName, file + ": the MD5 stamp does not match the content, so it may be damaged; nothing "
                                        "was written (--repair writes and stamps it anew)");

    // The container replaces a folder by a value with everything below it;
    // a put never takes a user's records away unasked.
    const CQNF_String key(path.c_str());
    if (st.GetRecType(key) == 0) {
        const std::string below = path + ">";
        CQNF_StringArray* all = st.GetAllRecordsArray();
        uint32_t count = 0;
        for (uint32_t i = 0; i < all->GetSize(); ++i)
            count += std::strncmp((*all)[i].GetStr(), below.c_str(), below.size()) == 0;
        return tool::Fail(kName, path + " is a folder holding " + std::to_string(count) +
                                     (count == 1 ? " record" : " records") +
                                     "; a value cannot replace it, so nothing was written");
    }

    // Missing parent folders are made on the way down.
    for (size_t gt = path.find('>'); gt != std::string::npos; gt = path.find('>', gt + 1)) {
        const CQNF_String folder(path.substr(0, gt).c_str());
        const unsigned char t = st.GetRecType(folder);
        if (t == 0)
            continue;
        if (t != kQnStorageNoRecord)
            return tool::Fail(kName, path.substr(0, gt) + " is not a folder");
        if (!st.AddFolder(folder))
            return Failed(path.substr(0, gt), st.GetError());
    }

    bool ok = false;
    switch (type) {
    case 1:
        ok = st.SetRecord(key, uint8_t(number));
        break;
    case 2:
        ok = st.SetRecord(key, uint16_t(number));
        break;
    case 3:
        ok = st.SetRecord(key, uint32_t(number));
        break;
    case 4:
        ok = st.SetRecord(key, CQNF_String(value.c_str()));
        break;
    case 5:
        if (value.size() > UINT32_MAX)
            return tool::Fail(kName, "the value is too large");
        ok = st.SetRecord(key, reinterpret_cast<const unsigned char*>(value.data()), uint32_t(value.size()));
        break;
    default:
        ok = st.SetRecord(key, real);
        break;
    }
    if (!ok)
        return Failed(path, st.GetError());
    if (!st.EndUpdate() || !st.Close()) {
        // The file could not be put in place: said as every writer says it.
        const unsigned short error = st.GetError();
        if (error == qnerr::FileNotOpened || error == qnerr::FileWrite)
            return tool::Fail(kName, qnFileFailure(file, true, error));
        return Failed(file, error);
    }
    std::printf("wrote %s: %s\n", qnShownName(file).c_str(), qnShownName(path).c_str());
    return 0;
}

// Whether file holds a container without a record, as opening an empty
// file writes it.
bool HoldsNewContainer(const std::string& file)
{
    std::vector<uint8_t> bytes;
    std::string error;
    if (!qnReadWholeFile(file, bytes, error, qnstorage::kNewSize) || bytes.size() != qnstorage::kNewSize)
        return false;
    uint8_t fresh[qnstorage::kNewSize] = {};
    std::memcpy(fresh, qnstorage::kMagic, qnstorage::kMagicSize);
    std::memcpy(fresh + qnstorage::kNewSize - qnstorage::kTrailerSize, qnstorage::kMagic, qnstorage::kMagicSize);
    CQNF_MD5Digest::Compute(fresh + qnstorage::kStampedFrom, qnstorage::kNewSize - qnstorage::kStampedFrom,
                            fresh + qnstorage::kStampOffset);
    return std::memcmp(bytes.data(), fresh, sizeof fresh) == 0;
}

// Takes away what a failed put made of a missing file: the empty file it
// made, or the container without records that opening it wrote. A missing
// file stays missing, never one that later reads as damaged or as a
// container the put never completed. What another put has written since
// holds a record, and stays.
void RemoveMadeFile(const std::string& file, const struct stat& made)
{
    // Under the lock every writer takes, so that no put is between reading
    // the file and writing into its place.
    CQNF_FileLock lock;
    struct stat now;
    if (!lock.Lock(file) || ::stat(file.c_str(), &now) != 0)
        return;
    const bool placeholder = now.st_dev == made.st_dev && now.st_ino == made.st_ino && now.st_size == 0;
    if (placeholder || HoldsNewContainer(file))
        ::unlink(file.c_str());
}

int Put(const std::string& file, const std::string& path, const std::string& typeText, const std::string& valueText,
        bool repair)
{
    if (const std::string why = PathRefusal(path); !why.empty())
        return tool::BadArguments(kName, why);
    uint64_t type = 0;
    if (!qnParseUnsigned(typeText, 6, type, 0) || type == 0)
        return tool::BadArguments(kName, "TYPE must be a record type 1 to 6, not '" + typeText + "'");
    std::string value = valueText;
    std::string error;
    if ((type == 4 || type == 5) && valueText == "-" && !ReadValue(value, error))
        return tool::Fail(kName, "standard input: " + error);
    if (type == 4 && value.find('\0') != std::string::npos)
        return tool::Fail(kName, "a string value cannot hold a 0 byte; use type 5");

    uint64_t number = 0;
    double real = 0;
    if (type >= 1 && type <= 3) {
        const uint64_t max = type == 1 ? 0xFF : type == 2 ? 0xFFFF : 0xFFFFFFFF;
        if (!qnParseUnsigned(value, max, number, 0))
            return tool::BadArguments(kName, "VALUE '" + value + "' is not a number from 0 to " + std::to_string(max));
    } else if (type == 6) {
        real = tool::RealNumber(value, "VALUE", -std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::max());
    }

    if (const std::string why = NotAContainer(file, true); !why.empty())
        return tool::Fail(kName, why);
    if (const int refused = tool::RefuseOutput(kName, file, {}, {}))
        return refused;
    // A missing file is made empty, never replaced: an empty file opens as
    // a new container under the lock, so a put running beside this one
    // keeps its record. A link stays a link: a dangling one gets the file
    // made where it points, as every writer makes it.
    const std::string landing = qnWrittenPath(file);
    struct stat madeStat {};
    const int made = qnMakeEmptyFile(file, madeStat);
    if (made != 0 && made != EEXIST) {
        // No file can be made there (a full disk, no inode left), or the
        // gate refused it: said as every writer says it.
        return tool::Fail(kName, qnFileFailure(file, true, qnerr::FileNotOpened));
    }
    const bool madeIt = made == 0;
    const int code = PutRecord(file, path, Value{type, number, real, std::move(value)}, repair);
    if (code != 0 && madeIt)
        RemoveMadeFile(landing, madeStat);
    return code;
}

// "folder \"A\" (id 5)" or "record \"x\"".
std::string RecordText(const QnStorageCutOff::Record& r)
{
    const std::string quoted = '"' + qnShownName(r.name) + '"';
    return r.type == qnstorage::kFolder ? "folder " + quoted + " (id " + std::to_string(r.id) + ")"
                                        : "record " + quoted;
}

// Where a container's folder tree breaks, and what it cuts off, in words.
std::string CutOffText(const QnStorageCutOff& cut)
{
    std::string text;
    const bool one = cut.at.size() == 1;
    switch (cut.cause) {
    case qnstorage::CutOff::kMissingParent:
        text = RecordText(cut.at[0]) + " names folder id " + std::to_string(cut.at[0].parent) +
               " as its parent, and no folder has that id";
        break;
    case qnstorage::CutOff::kOwnParent:
        text = RecordText(cut.at[0]) + " is its own parent";
        break;
    case qnstorage::CutOff::kCycle:
        text = "folders";
        for (size_t i = 0; i < cut.at.size(); ++i)
            text += (i == 0 ? " " : i + 1 == cut.at.size() ? " and " : ", ") +
                    RecordText(cut.at[i]).substr(std::strlen("folder "));
        text += " are each other's parents in a circle";
        break;
    }
    text += one ? "; it" : "; they";
    if (cut.below)
        text += " and the " + std::to_string(cut.below) + (cut.below == 1 ? " record" : " records") + " below " +
                (one ? "it" : "them");
    return text + (one && !cut.below ? " is" : " are") + " cut off from the folder tree";
}

int Check(const std::string& file)
{
    if (const std::string why = NotAContainer(file, false); !why.empty())
        return tool::Fail(kName, why);
    CQNF_Storage st;
    if (!st.CheckMD5(CQNF_String(file.c_str())))
        return Failed(file, st.GetError());
    // A stamp vouches for the bytes, not for what they say.
    if (!st.Open(CQNF_String(file.c_str()), qnstorage::kOpenReadOnly))
        return Failed(file, st.GetError());
    const std::vector<QnStorageCutOff> cuts = st.GetCutOffs();
    if (cuts.empty()) {
        std::printf("%s: stamp OK\n", qnShownName(file).c_str());
        return 0;
    }
    // Where the folder tree breaks, one line each.
    constexpr size_t kShown = 20;
    for (size_t i = 0; i < cuts.size() && i < kShown; ++i)
        tool::Fail(kName, file + ": " + CutOffText(cuts[i]));
    if (cuts.size() > kShown)
        tool::Fail(kName, file + ": and " + std::to_string(cuts.size() - kShown) + " more such breaks");
    return qnExitFailed;
}

int Run(const tool::Args& all)
{
    tool::Args args;
    bool repair = false;
    for (const std::string& a : all)
        if (a == "--repair")
            repair = true;
        else
            args.push_back(a);
    const std::string sub = args.empty() ? std::string() : args[0];
    const size_t n = args.size();
    // A value to put may itself begin with '-'.
    for (size_t i = 0; i < n; ++i)
        if (tool::IsOption(args[i]) && !(sub == "put" && i == 4))
            return tool::BadArguments(kName, "unknown option " + args[i]);
    if (repair && sub != "put")
        return tool::BadArguments(kName, "--repair goes with put only");
    if (sub == "ls" && n == 2)
        return List(args[1]);
    if (sub == "get" && n == 3)
        return Get(args[1], args[2]);
    if (sub == "put" && n == 5)
        return Put(args[1], args[2], args[3], args[4], repair);
    if (sub == "check" && n == 2)
        return Check(args[1]);
    return tool::BadArguments(kName, "expected: storage ls FILE | get FILE PATH | put [--repair] FILE PATH TYPE VALUE | "
                                     "check FILE");
}

tool::Registrar reg({kName,
                     "storage ls FILE | get FILE PATH | put [--repair] FILE PATH TYPE VALUE | check FILE\n"
                     "  PATH: names joined by '>' (Folder>Key), none of them empty",
                     "list (key, type, value bytes), read, write (type 1-6; '-' reads a string or binary "
                     "from stdin; --repair writes into a container whose stamp is wrong) and stamp-check "
                     "storage containers",
                     Run});

}  // namespace
