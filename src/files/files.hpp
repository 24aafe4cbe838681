// File access for every reader of the core: files are opened only when they are regular
// files, read whole or streamed, and closed on every path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "error/error.hpp"

namespace corvane {

// Owns one file descriptor open for reading; closed on destruction.
class FileHandle {
public:
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    ~FileHandle();

    // Opens a regular file, or a symbolic link to one, without ever blocking: a FIFO, socket or
    // device is refused with NotRegularFile. A directory fails as reading one fails (EISDIR);
    // any other failure is the Io error of the operating system.
    static Result<FileHandle> open(const std::filesystem::path& path);

    // Up to `into.size()` bytes, 0 at the end of the file.
    Result<std::size_t> read(std::span<char> into) const;
    // The size the file had when it was opened.
    std::size_t size() const { return size_; }

private:
    friend class MappedFile;
    FileHandle(int fd, std::size_t size) : fd_(fd), size_(size) {}
    int fd_ = -1;
    std::size_t size_ = 0;
};

// A regular file mapped read-only, opened as FileHandle::open opens it: its pages are read as
// they are touched, so that a file of any size opens at once and costs no memory of its own.
// Unmapped on destruction. A file cut short by another process while mapped ends the process
// (SIGBUS) when its lost pages are read, as with any mapping.
class MappedFile {
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    ~MappedFile();

    static Result<MappedFile> open(const std::filesystem::path& path);

    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    MappedFile(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    void unmap() noexcept;
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// The whole file. A file larger than memory throws std::bad_alloc, as every allocation does.
Result<std::vector<std::uint8_t>> read_whole_file(const std::filesystem::path& path);
// The same into `out`, reusing its storage.
Status read_whole_file(const std::filesystem::path& path, std::string& out);

// A path as error texts show it: each maximal invalid UTF-8 sequence becomes U+FFFD.
std::string display_path(const std::filesystem::path& path);

}  // namespace corvane
