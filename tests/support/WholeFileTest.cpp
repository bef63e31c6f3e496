#include "support/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "TestSupport.h"
#include "support/FileDescriptor.h"

namespace {

using namespace lumo;
using lumo::test::TempDir;

TEST(WholeFile, ReadsTheBytesOrTellsWhyNot) {
    const TempDir dir;
    // More than one read's buffer, with bytes a text read would alter.
    const std::string big = std::string(200000, 'x') + "\r\n\0\xff" + "end";
    lumo::test::WriteFile(dir / "big", big);
    lumo::test::WriteFile(dir / "empty", "");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);

    const struct {
        std::string name;
        ReadableFiles accept;
        std::string bytes;
        int error;
    } cases[] = {
        {"big", ReadableFiles::AllButFolders, big, 0},
        {"big", ReadableFiles::RegularOnly, big, 0},
        {"empty", ReadableFiles::RegularOnly, "", 0},
        {"missing", ReadableFiles::AllButFolders, "", ENOENT},
        {"", ReadableFiles::AllButFolders, "", EISDIR},  // the folder itself
        {"", ReadableFiles::RegularOnly, "", EINVAL},
        {"pipe", ReadableFiles::RegularOnly, "", EINVAL},  // refused, never waited on
    };
    for (const auto& c : cases) {
        const WholeFile file = ReadWholeFile(dir / c.name, c.accept);
        EXPECT_EQ(file.error, c.error) << c.name;
        EXPECT_EQ(file.Ok(), c.error == 0) << c.name;
        EXPECT_EQ(file.bytes, c.bytes) << c.name;
    }
}

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

TEST(FileDescriptor, ClosesWhatItOwnsExactlyOnce) {
    const TempDir dir;
    const auto open = [&] {
        return ::open((dir / "f").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    };

    int fd = -1;
    {
        FileDescriptor owner(open());
        fd = owner.Get();
        ASSERT_TRUE(IsOpen(fd));
        FileDescriptor moved(std::move(owner));
        EXPECT_FALSE(owner.IsOpen());
        EXPECT_EQ(moved.Get(), fd);
    }
    EXPECT_FALSE(IsOpen(fd));

    FileDescriptor owner(open());
    const int released = owner.Release();
    EXPECT_TRUE(IsOpen(released));
    owner.Reset(released);
    const int replaced = owner.Get();
    owner.Reset(open());
    EXPECT_FALSE(IsOpen(replaced));
    EXPECT_EQ(owner.Close(), 0);
    EXPECT_EQ(owner.Close(), EBADF);  // nothing left to close
}

}  // namespace
