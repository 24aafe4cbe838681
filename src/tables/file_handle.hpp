// Plain POSIX file access for the table loaders: an owning descriptor and whole-file reads.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace corvane {

// Owns one open file descriptor, closed on destruction.
class FileHandle {
public:
    FileHandle() = default;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    FileHandle& operator=(FileHandle&& other) noexcept;
    ~FileHandle();

    // Opens for reading; on failure the handle is invalid and errno says why.
    static FileHandle open_read(const char* path);

    bool valid() const { return fd_ >= 0; }
    // Up to `size` bytes, retrying interrupted reads; -1 with errno on failure, 0 at the end.
    ssize_t read(char* data, std::size_t size) const;
    // The file's size when the system knows it, else 0; only a hint for buffer sizes.
    std::size_t size_hint() const;

private:
    explicit FileHandle(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// Reads the whole file into `out`, reusing its storage; 0 on success, else the errno.
int read_whole_file(const char* path, std::string& out);

}  // namespace corvane
