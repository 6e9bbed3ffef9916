// The storage container reader on arbitrary bytes: open the memory image,
// walk every folder, read every key with every reader; the same bytes
// through the reader of the indexed variant; and, when they open, a few
// writes on a copy, after which the container must open again and carry a
// right stamp.
#include "core/Storage.h"
#include "core/StorageFormat.h"
#include "tests/core/test_storage_util.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// A few writes on a copy held in an anonymous file, steered by the input.
void WriteOnCopy(const uint8_t* data, size_t size)
{
    const int fd = ::memfd_create("storage_fuzz", 0);
    if (fd < 0)
        return;
    if (::write(fd, data, size) != ssize_t(size)) {
        ::close(fd);
        return;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    bool changed = false;
    {
        CQNF_StdFile file;
        CQNF_Storage st;
        if (file.Open(CQNF_String(path.c_str()), 3) && st.Open(&file, 0)) {
            CQNF_StringArray* all = st.GetAllRecordsArray();
            std::vector<std::string> keys;
            for (uint32_t i = 0; i < all->GetSize(); ++i)
                keys.push_back((*all)[i].GetStr());
            keys.push_back("New");
            for (size_t step = 0; step < 6; ++step) {
                const uint8_t pick = data[(step * 7 + 13) % size];
                const std::string& key = keys[pick % keys.size()];
                switch (data[(step * 11 + 5) % size] % 6) {
                case 0:
                    st.SetRecord(CQNF_String(key.c_str()), uint8_t(pick));
                    break;
                case 1:
                    st.SetRecord(CQNF_String(key.c_str()), CQNF_String(std::string(pick % 40, 's').c_str()));
                    break;
                case 2:
                    st.KillRec(CQNF_String(key.c_str()));
                    break;
                case 3:
                    st.Rename(CQNF_String(key.c_str()), CQNF_String((key + "r").c_str()));
                    break;
                case 4:
                    st.AddFolder(CQNF_String((key + ">F").c_str()));
                    break;
                default:
                    st.SetRecord(CQNF_String((key + ">v").c_str()), 1.5);
                    break;
                }
            }
            changed = st.IsChanged();
            st.Close();
        }
    }
    // Whatever our writer made must read again, stamp included; refused
    // writes must leave the bytes as they were.
    const off_t length = ::lseek(fd, 0, SEEK_END);
    std::vector<uint8_t> after(size_t(length > 0 ? length : 0));
    if (!after.empty() && ::pread(fd, after.data(), after.size(), 0) == ssize_t(after.size())) {
        CQNF_Storage check;
        if (changed && (!check.Open(after.data(), after.size()) || !check.CheckMD5(after.data(), after.size())))
            __builtin_trap();
        if (!changed && (after.size() != size || std::memcmp(after.data(), data, size) != 0))
            __builtin_trap();
    }
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CQNF_Storage st;
    const bool opened = st.Open(data, size);
    if (opened)
        storage_test::ReadEverything(st);
    st.Close();
    st.CheckMD5(data, size);

    // The reader of the indexed variant (files only) on the same bytes.
    qnstorage::Container c;
    qnstorage::Parse(data, size, true, c);

    if (opened && size < (64u << 10))
        WriteOnCopy(data, size);
    return 0;
}
