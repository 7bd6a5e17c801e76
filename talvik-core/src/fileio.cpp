#include "talvik/fileio.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "talvik/utf8.hpp"

namespace talvik {

namespace {

// A file descriptor closed on scope exit (unless released).
class Fd {
 public:
  explicit Fd(int fd) noexcept : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  [[nodiscard]] int get() const noexcept { return fd_; }
  [[nodiscard]] int release() noexcept { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// The OS takes NUL-terminated names, so an embedded NUL would silently cut
// the path short; it is refused instead.
Result<std::string> os_path(std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return std::unexpected(CoreError::io_message("path contains a NUL byte"));
  return std::string(path);
}

int open_retrying(const char* path, int flags, mode_t mode = 0) noexcept {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool write_all(int fd, std::string_view bytes) noexcept {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A name no other writer in this or another process is using right now:
// process id, a per-process counter and the clock. O_EXCL settles any clash.
std::string temporary_name(const std::string& directory) {
  static std::atomic<std::uint64_t> counter{0};
  const auto ticks = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  char suffix[80];
  std::snprintf(suffix, sizeof suffix, ".tessarline-%x-%llx-%llx.tmp", static_cast<unsigned>(::getpid()),
                static_cast<unsigned long long>(counter.fetch_add(1, std::memory_order_relaxed)), ticks & 0xFFFFFFFFULL);
  return directory + suffix;
}

// The path a write should replace: a symbolic link is resolved so that the
// file it points to is replaced and the link itself is kept.
std::string resolve_target(std::string path) {
  struct stat link_status;
  if (::lstat(path.c_str(), &link_status) == 0 && S_ISLNK(link_status.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      path = real;
      std::free(real);
    }
  }
  return path;
}

void sync_directory(const std::string& directory) noexcept {
  const int fd = open_retrying(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: the rename has happened either way
  ::close(fd);
}

}  // namespace

Result<std::string> read_file(std::string_view path) {
  auto name = os_path(path);
  if (!name) return std::unexpected(std::move(name.error()));
  Fd fd(open_retrying(name->c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return std::unexpected(CoreError::io_errno(errno));
  // A regular file's size is known up front; one spare byte lets the read
  // that sees the end need no further growth.
  std::size_t capacity = 8192;
  struct stat status;
  if (::fstat(fd.get(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size >= 0) {
    capacity = static_cast<std::size_t>(status.st_size) + 1;
  }
  std::string out(capacity, '\0');
  std::size_t used = 0;
  for (;;) {
    if (used == out.size()) out.resize(out.size() * 2);
    const ssize_t n = ::read(fd.get(), out.data() + used, out.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(CoreError::io_errno(errno));
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  out.resize(used);
  return out;
}

CoreError not_utf8_error() { return CoreError::io_message("stream did not contain valid UTF-8"); }

Result<std::string> read_text_file(std::string_view path) {
  auto bytes = read_file(path);
  if (bytes && !utf8::is_valid(*bytes)) return std::unexpected(not_utf8_error());
  return bytes;
}

Result<void> write_file_atomic(std::string_view path, std::string_view bytes) {
  auto name = os_path(path);
  if (!name) return std::unexpected(std::move(name.error()));
  const std::string target = resolve_target(std::move(*name));
  const std::size_t slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);

  std::string temporary;
  int raw_fd = -1;
  for (int attempt = 0; raw_fd < 0; ++attempt) {
    temporary = temporary_name(directory);
    raw_fd = open_retrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (raw_fd < 0 && (errno != EEXIST || attempt == 16)) return std::unexpected(CoreError::io_errno(errno));
  }
  Fd fd(raw_fd);
  const auto fail = [&](int error_number) -> Result<void> {
    ::close(fd.release());
    ::unlink(temporary.c_str());
    return std::unexpected(CoreError::io_errno(error_number));
  };

  struct stat status;
  if (::stat(target.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    ::fchmod(fd.get(), status.st_mode & 07777);  // best effort: the content matters more than the mode
  }
  if (!write_all(fd.get(), bytes)) return fail(errno);
  if (::fsync(fd.get()) != 0) return fail(errno);
  if (::close(fd.release()) != 0) {
    const int error_number = errno;
    ::unlink(temporary.c_str());
    return std::unexpected(CoreError::io_errno(error_number));
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error_number = errno;
    ::unlink(temporary.c_str());
    return std::unexpected(CoreError::io_errno(error_number));
  }
  sync_directory(directory);
  return {};
}

}  // namespace talvik
