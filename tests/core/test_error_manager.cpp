#include "core/ErrorManager.h"
#include "core/ErrorWords.h"
#include "core/SafeFile.h"
#include "test_storage_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include <sys/mount.h>

TEST(ErrorManager, FreshObjectHasNoErrorAndResetClears)
{
    CQNF_FrameWork fw;
    EXPECT_FALSE(fw.IsError());
    EXPECT_EQ(fw.GetError(), 0);
    fw.SetError(17);
    EXPECT_TRUE(fw.IsError());
    EXPECT_EQ(fw.GetError(), 17);
    fw.ResetError();
    EXPECT_EQ(fw.GetError(), 0);
    fw.SetError(17);
    fw.SetError(0);
    EXPECT_FALSE(fw.IsError());
}

// A write refused by a file system mounted read-only is named so, in one
// wording for a new file and for one that is there, as the write gate
// names it: no change of mode would help there.
TEST(ErrorWords, AReadOnlyFileSystemIsNamed)
{
    storage_test::TempDir dir;
    const std::string ro = dir.File("ro");
    std::filesystem::create_directory(ro);
    const std::optional<std::string> said = storage_test::InOwnMounts([&] {
        if (::mount("tmpfs", ro.c_str(), "tmpfs", 0, "size=64k") != 0)
            return std::string("cannot mount a file system: ") + std::strerror(errno);
        storage_test::WriteFile(ro + "/there", {'o', 'l', 'd'});
        if (::mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
            return std::string("cannot mount it read-only: ") + std::strerror(errno);
        std::string failed;
        for (const std::string name : {"new", "there"}) {
            const unsigned short error = qnReplaceFile(ro + "/" + name, "new", 3);
            const std::string message = qnFileFailure(ro + "/" + name, true, error);
            if (message != "cannot write " + ro + "/" + name + ": the folder is on a read-only file system")
                failed += message + "\n";
        }
        return failed;
    });
    if (!said)
        GTEST_SKIP() << "this system gives a process no mounts of its own (not root and no user namespaces, or a chroot whose root is no mount point)";
    EXPECT_EQ(*said, "");
}
