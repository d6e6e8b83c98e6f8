// The fuzzer's bytes as a file that the core can open by path: an anonymous
// memory file, reached through /proc/self/fd.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace ostrel::fuzz {

// Inputs are capped: every parser must cope with any size, and larger inputs
// only slow the search down.
inline constexpr std::size_t kMaxInput = 4u << 20;

class MemoryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size) {
    fd_ = memfd_create("ostrel-fuzz", MFD_CLOEXEC);
    if (fd_ < 0) return;
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  bool Ok() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace ostrel::fuzz
