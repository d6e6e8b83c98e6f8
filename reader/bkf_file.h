// A BKF file opened read-only, read by position. Reads past the end of the
// file deliver zero bytes, so nothing beyond it can ever look like a block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ostrel {

class BkfFile {
 public:
  BkfFile() = default;
  ~BkfFile();
  BkfFile(BkfFile&& other) noexcept;
  BkfFile& operator=(BkfFile&& other) noexcept;
  BkfFile(const BkfFile&) = delete;
  BkfFile& operator=(const BkfFile&) = delete;

  // Opens `path` read-only (no lock: Linux has no share modes). On failure
  // answers false and leaves the reason in Error().
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  const std::string& Error() const { return error_; }

  // Length in bytes, asked of the file system each time.
  std::uint64_t Size() const;

  // Reads `count` bytes at `position` into `buffer`; the part that lies past
  // the end of the file (or that the system could not read) is zero-filled.
  // Answers how many bytes came from the file.
  std::size_t ReadAt(std::uint64_t position, void* buffer, std::size_t count) const;

 private:
  int fd_ = -1;
  std::string path_;
  std::string error_;
};

}  // namespace ostrel
