#include "message/read_file.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

Result<std::vector<std::uint8_t>> read_whole_file(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return BufrError::io_errno(errno);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return BufrError::io_errno(errno);
    if (S_ISDIR(info.st_mode)) return BufrError::io_errno(EISDIR);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(info.st_size > 0 ? static_cast<std::size_t>(info.st_size) : 0);
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return BufrError::io_errno(errno);
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

}  // namespace corvane
