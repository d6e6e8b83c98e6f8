#include "reader/bkf_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace ostrel {

BkfFile::~BkfFile() { Close(); }

BkfFile::BkfFile(BkfFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), error_(std::move(other.error_)) {
  other.fd_ = -1;
}

BkfFile& BkfFile::operator=(BkfFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
    other.fd_ = -1;
  }
  return *this;
}

bool BkfFile::Open(const std::string& path) {
  Close();
  error_.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    error_ = S_ISDIR(st.st_mode) ? "is a directory" : std::strerror(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

void BkfFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::uint64_t BkfFile::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

std::size_t BkfFile::ReadAt(std::uint64_t position, void* buffer, std::size_t count) const {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
  // A hole of a sparse file reads as zeros: skip the reading (and the kernel's
  // zero-filling copy) when the whole request lies in one.
  if (fd_ >= 0 && count >= (64u << 10) && position <= kMaxOffset - count) {
    const off_t data = ::lseek(fd_, static_cast<off_t>(position), SEEK_DATA);
    const bool noDataAfter = data < 0 && errno == ENXIO;
    if (noDataAfter || (data >= 0 && static_cast<std::uint64_t>(data) >= position + count)) {
      const std::uint64_t size = Size();
      const std::size_t inFile =
          position >= size ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(count, size - position));
      std::memset(out, 0, count);
      return inFile;
    }
  }
  while (fd_ >= 0 && done < count && position <= kMaxOffset - done) {
    const ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(position + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  if (done < count) std::memset(out + done, 0, count - done);
  return done;
}

}  // namespace ostrel
