// "storage ls|get|put|check": inspect and edit storage containers.
#include "tools/Command.h"

#include "core/Storage.h"
#include "core/String.h"
#include "core/ZipBlock.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char* kName = "storage";

std::string Why(unsigned short error)
{
    switch (error) {
    case qnerr::FileNotOpened:
        return std::string("cannot open the file (") + std::strerror(errno) + ")";
    case qnerr::FileWrite:
        return "cannot write the file";
    case qnerr::FileRead:
        return "cannot read the file";
    case qnerr::StorageStamp:
        return "the MD5 stamp does not match the content";
    case qnerr::StorageFormat:
        return "not a storage container, or a corrupt one";
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

int List(const std::string& file)
{
    CQNF_Storage st;
    if (!st.Open(CQNF_String(file.c_str()), 1))
        return Failed(file, st.GetError());
    // The index is sorted by key; its tags are record offsets: file order.
    CQNF_StringArray* all = st.GetAllRecordsArray();
    std::vector<CQNF_String> keys;
    for (uint32_t i = 0; i < all->GetSize(); ++i)
        keys.push_back((*all)[i]);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const CQNF_String& a, const CQNF_String& b) { return a.GetTag() < b.GetTag(); });
    for (const CQNF_String& key : keys) {
        const unsigned char type = st.GetRecType(key);
        std::printf("%s\t%u\t%u\n", key.GetStr(), unsigned(type), ValueLength(st, key, type));
    }
    return 0;
}

int Get(const std::string& file, const std::string& path)
{
    CQNF_Storage st;
    if (!st.Open(CQNF_String(file.c_str()), 1))
        return Failed(file, st.GetError());
    const CQNF_String key(path.c_str());
    const unsigned char type = st.GetRecType(key);
    switch (type) {
    case kQnStorageNoRecord:
        return Failed(path, st.GetError());
    case 0:
        return tool::Fail(kName, path + " is a folder: it has no value (storage ls lists it)");
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
            return Failed(path, st.GetError());
        std::printf("%s\n", s.GetStr());
        return 0;
    }
    case 5: {
        CQNF_Mem m;
        if (!st.GetRec(key, m))
            return Failed(path, st.GetError());
        if (m.GetSize() && std::fwrite(m.GetPtr(), 1, m.GetSize(), stdout) != m.GetSize())
            return tool::Fail(kName, "cannot write to the output");
        return 0;
    }
    default:
        return tool::Fail(kName, path + " has type " + std::to_string(type) + ", which has no known value");
    }
}

int Put(const std::string& file, const std::string& path, const std::string& typeText, const std::string& valueText)
{
    if (!qnstorage::IsValidKey(path))
        return tool::BadArguments(kName, "PATH '" + path + "' has an empty name in it");
    uint64_t type = 0;
    if (!qnParseUnsigned(typeText, 6, type, 0) || type == 0)
        return tool::BadArguments(kName, "TYPE must be a record type 1 to 6, not '" + typeText + "'");
    std::string value = valueText;
    if ((type == 4 || type == 5) && valueText == "-") {
        value.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    }
    if (type == 4 && value.find('\0') != std::string::npos)
        return tool::Fail(kName, "a string value cannot hold a 0 byte; use type 5");

    uint64_t number = 0;
    double real = 0;
    if (type >= 1 && type <= 3) {
        const uint64_t max = type == 1 ? 0xFF : type == 2 ? 0xFFFF : 0xFFFFFFFF;
        if (!qnParseUnsigned(value, max, number, 0))
            return tool::BadArguments(kName, "VALUE '" + value + "' is not a number from 0 to " + std::to_string(max));
    } else if (type == 6) {
        char* end = nullptr;
        real = std::strtod(value.c_str(), &end);
        if (value.empty() || *end)
            return tool::BadArguments(kName, "VALUE '" + value + "' is not a number");
    }

    CQNF_Storage st;
    struct stat sb;
    const bool exists = ::stat(file.c_str(), &sb) == 0;
    if (!st.Open(CQNF_String(file.c_str()), exists ? 0 : 2))
        return Failed(file, st.GetError());

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

    const CQNF_String key(path.c_str());
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
    if (!st.Close())
        return Failed(file, st.GetError());
    return 0;
}

int Check(const std::string& file)
{
    CQNF_Storage st;
    if (!st.CheckMD5(CQNF_String(file.c_str())))
        return Failed(file, st.GetError());
    std::printf("%s: stamp OK\n", file.c_str());
    return 0;
}

int Run(const tool::Args& args)
{
    const std::string sub = args.empty() ? std::string() : args[0];
    const size_t n = args.size();
    if (sub == "ls" && n == 2)
        return List(args[1]);
    if (sub == "get" && n == 3)
        return Get(args[1], args[2]);
    if (sub == "put" && n == 5)
        return Put(args[1], args[2], args[3], args[4]);
    if (sub == "check" && n == 2)
        return Check(args[1]);
    return tool::BadArguments(kName, "expected: storage ls FILE | get FILE PATH | put FILE PATH TYPE VALUE | check FILE");
}

tool::Registrar reg({kName,
                     "storage ls FILE | get FILE PATH | put FILE PATH TYPE VALUE | check FILE",
                     "list (key, type, value bytes), read, write (type 1-6; '-' reads a string or binary "
                     "from stdin) and stamp-check storage containers",
                     Run});

}  // namespace
