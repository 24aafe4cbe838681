#include "tables/file_handle.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

FileHandle::~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

FileHandle FileHandle::open_read(const char* path) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return FileHandle(fd);
}

ssize_t FileHandle::read(char* data, std::size_t size) const {
    ssize_t n;
    do {
        n = ::read(fd_, data, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

std::size_t FileHandle::size_hint() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || info.st_size <= 0) return 0;
    return static_cast<std::size_t>(info.st_size);
}

int read_whole_file(const char* path, std::string& out) {
    out.clear();
    const FileHandle file = FileHandle::open_read(path);
    if (!file.valid()) return errno;
    // One spare byte lets the read that sees the end fit without growing.
    std::size_t capacity = file.size_hint() + 1;
    if (capacity < 4096) capacity = 4096;
    for (;;) {
        const std::size_t used = out.size();
        if (capacity <= used) capacity = used * 2;
        out.resize(capacity);
        const ssize_t n = file.read(out.data() + used, capacity - used);
        if (n < 0) {
            const int error = errno;
            out.clear();
            return error;
        }
        out.resize(used + static_cast<std::size_t>(n));
        if (n == 0) return 0;
    }
}

}  // namespace corvane
