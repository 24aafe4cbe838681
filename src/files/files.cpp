#include "files/files.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "text/text.hpp"

namespace corvane {
namespace {

// Linux opens a directory for reading and fails the first read; fail at once, as that read would.
Status check_kind(const struct stat& info, const std::filesystem::path& path) {
    if (S_ISREG(info.st_mode)) return {};
    if (S_ISDIR(info.st_mode)) return BufrError::io_errno(EISDIR);
    return BufrError::not_regular_file(display_path(path));
}

template <class Bytes>
Status read_all(const std::filesystem::path& path, Bytes& out) {
    out.clear();
    auto file = FileHandle::open(path);
    if (!file) return std::move(file).error();
    // A size the container cannot even describe is as much "too large for memory" as one that
    // fails to allocate.
    if (file->size() >= out.max_size()) throw std::bad_alloc();
    // One spare byte lets the read that sees the end fit without growing.
    std::size_t capacity = std::max<std::size_t>(file->size() + 1, 4096);
    for (;;) {
        const std::size_t used = out.size();
        if (capacity <= used) capacity = used * 2;
        out.resize(capacity);
        auto n = file->read({reinterpret_cast<char*>(out.data()) + used, capacity - used});
        if (!n) {
            out.clear();
            return std::move(n).error();
        }
        out.resize(used + *n);
        if (*n == 0) return {};
    }
}

}  // namespace

FileHandle::FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
    }
    return *this;
}

FileHandle::~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

Result<FileHandle> FileHandle::open(const std::filesystem::path& path) {
    // Opening a device can act by itself (start a watchdog, rewind a tape), so the kind is
    // checked before opening; O_NONBLOCK keeps a FIFO put in its place meanwhile from blocking
    // open(), and the opened descriptor's kind is the one that counts.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return BufrError::io_errno(errno);
    if (Status kind = check_kind(info, path); !kind) return std::move(kind).error();
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return BufrError::io_errno(errno);
    FileHandle file(fd, 0);
    if (::fstat(fd, &info) != 0) return BufrError::io_errno(errno);
    if (Status kind = check_kind(info, path); !kind) return std::move(kind).error();
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return BufrError::io_errno(errno);
    file.size_ = static_cast<std::size_t>(info.st_size);
    return file;
}

Result<std::size_t> FileHandle::read(std::span<char> into) const {
    for (;;) {
        const ssize_t n = ::read(fd_, into.data(), into.size());
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return BufrError::io_errno(errno);
    }
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        unmap();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile::~MappedFile() { unmap(); }

void MappedFile::unmap() noexcept {
    // An empty file has no mapping: mmap refuses a length of 0.
    if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
}

Result<MappedFile> MappedFile::open(const std::filesystem::path& path) {
    auto file = FileHandle::open(path);
    if (!file) return std::move(file).error();
    if (file->size() == 0) return MappedFile();
    void* data = ::mmap(nullptr, file->size(), PROT_READ, MAP_PRIVATE, file->fd_, 0);
    if (data == MAP_FAILED) return BufrError::io_errno(errno);
    // Readers walk a file from its start: let the kernel read ahead, and drop pages behind.
    ::madvise(data, file->size(), MADV_SEQUENTIAL);
    // The mapping outlives the descriptor, which FileHandle closes.
    return MappedFile(static_cast<const std::uint8_t*>(data), file->size());
}

Result<std::vector<std::uint8_t>> read_whole_file(const std::filesystem::path& path) {
    std::vector<std::uint8_t> bytes;
    if (Status read = read_all(path, bytes); !read) return std::move(read).error();
    return bytes;
}

Status read_whole_file(const std::filesystem::path& path, std::string& out) { return read_all(path, out); }

std::string display_path(const std::filesystem::path& path) {
    std::string_view rest = path.native();
    std::string out;
    out.reserve(rest.size());
    for (;;) {
        std::size_t valid = 0;
        if (is_valid_utf8(rest, valid)) {
            out.append(rest);
            return out;
        }
        out.append(rest.substr(0, valid));
        rest.remove_prefix(valid);
        const auto lead = static_cast<unsigned char>(rest[0]);
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
        std::size_t taken = 1;
        if (lead >= 0xC2 && lead <= 0xF4) {
            while (taken < length && taken < rest.size()) {
                const auto b = static_cast<unsigned char>(rest[taken]);
                if (taken == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) break;
                ++taken;
            }
        }
        out.append("\xEF\xBF\xBD");
        rest.remove_prefix(taken);
    }
}

}  // namespace corvane
