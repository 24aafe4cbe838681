#include "files/files.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tables/table_test_support.hpp"

namespace corvane {
namespace {

using testing::error_text;
using testing::TempDir;

TEST(FileHandleTest, RefusesFifosAndDevicesWithoutBlocking) {
    const TempDir dir;
    const std::filesystem::path fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Nothing ever writes to the FIFO: an open() that waited for a writer would hang here.
    auto from_fifo = read_whole_file(fifo);
    ASSERT_FALSE(from_fifo.ok());
    EXPECT_EQ(from_fifo.error().kind(), ErrorKind::NotRegularFile);
    EXPECT_EQ(from_fifo.error().render(), "not a regular file: " + fifo.string());
    std::string text = "kept?";
    const Status zero = read_whole_file("/dev/zero", text);
    EXPECT_EQ(error_text(zero), "not a regular file: /dev/zero");
    EXPECT_TRUE(text.empty());
    std::filesystem::create_symlink(fifo, dir / "to-pipe");
    EXPECT_EQ(error_text(FileHandle::open(dir / "to-pipe")), "not a regular file: " + (dir / "to-pipe").string());
}

TEST(FileHandleTest, FollowsSymbolicLinksToRegularFiles) {
    const TempDir dir;
    std::string content(100000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 % 251);
    dir.write("data.bin", content);
    std::filesystem::create_symlink(dir / "data.bin", dir / "link");
    std::string whole;
    ASSERT_TRUE(read_whole_file(dir / "link", whole).ok());
    EXPECT_EQ(whole, content);

    auto file = FileHandle::open(dir / "link");
    ASSERT_TRUE(file.ok()) << error_text(file);
    EXPECT_EQ(file->size(), content.size());
    std::string streamed;
    char chunk[4096];
    for (;;) {
        auto n = file->read(chunk);
        ASSERT_TRUE(n.ok()) << error_text(n);
        if (*n == 0) break;
        streamed.append(chunk, *n);
    }
    EXPECT_EQ(streamed, content);
}

TEST(FileHandleTest, ReportsTheOperatingSystemError) {
    auto missing = read_whole_file("/nonexistent/file.bufr");
    EXPECT_EQ(error_text(missing), "io error: No such file or directory (os error 2)");
    auto directory = read_whole_file("/");
    ASSERT_FALSE(directory.ok());
    EXPECT_EQ(directory.error().text(), "Is a directory (os error 21)");
}

TEST(MappedFileTest, MapsRegularFilesOnlyAndOutlivesItsMove) {
    const TempDir dir;
    const std::string content(70000, 'b');
    dir.write("data.bin", content);
    dir.write("empty.bin", "");
    auto mapped = MappedFile::open(dir / "data.bin");
    ASSERT_TRUE(mapped.ok()) << error_text(mapped);
    const MappedFile moved = std::move(*mapped);
    EXPECT_TRUE(mapped->bytes().empty());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(moved.bytes().data()), moved.bytes().size()), content);
    auto empty = MappedFile::open(dir / "empty.bin");
    ASSERT_TRUE(empty.ok()) << error_text(empty);
    EXPECT_TRUE(empty->bytes().empty());
    EXPECT_EQ(error_text(MappedFile::open("/dev/zero")), "not a regular file: /dev/zero");
}

}  // namespace
}  // namespace corvane
