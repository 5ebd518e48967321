#include "host/private_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mirravale::host {
namespace {

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_;
};

std::string reason(int error) {
    return std::strerror(error);
}

int open_retrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int fsync_retrying(int fd) {
    int result;
    do {
        result = ::fsync(fd);
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

std::filesystem::path companion_of(const std::filesystem::path& path) {
    return std::filesystem::path(path).replace_extension("tmp");
}

Status write_private(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    const std::filesystem::path companion = companion_of(path);
    // O_NOFOLLOW: a planted link at the companion's name must not redirect the write.
    Descriptor file(
        open_retrying(companion.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0600));
    // A companion left from before keeps its old mode; the new content is owner-only still.
    if (!file || ::fchmod(file.get(), 0600) != 0) {
        return fail("cannot write " + companion.string() + ": " + reason(errno));
    }

    for (std::size_t written = 0; written < bytes.size();) {
        const ssize_t n = ::write(file.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(reason(errno));
        }
        written += static_cast<std::size_t>(n);
    }
    if (fsync_retrying(file.get()) != 0 || ::rename(companion.c_str(), path.c_str()) != 0) {
        return fail(reason(errno));
    }

    // The rename lives in the directory: flush it too, or a crash may bring back the old name.
    std::filesystem::path directory = path.parent_path();
    if (directory.empty()) {
        directory = ".";
    }
    Descriptor parent(open_retrying(directory.c_str(), O_RDONLY | O_DIRECTORY));
    // Some file systems cannot flush a directory; the file itself is already safe there.
    if (parent && fsync_retrying(parent.get()) != 0 && errno != EINVAL && errno != ENOTSUP) {
        return fail(reason(errno));
    }
    return {};
}

Status write_private(const std::filesystem::path& path, std::string_view text) {
    return write_private(
        path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

Result<std::vector<std::uint8_t>, ReadError> read_whole(const std::filesystem::path& path) {
    Descriptor file(open_retrying(path.c_str(), O_RDONLY));
    if (!file) {
        return fail(ReadError{errno, reason(errno)});
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[16384];
    while (true) {
        const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(ReadError{errno, reason(errno)});
        }
        if (n == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
}

}  // namespace mirravale::host
