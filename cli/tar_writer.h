// A tar stream written through libarchive: POSIX ustar headers, each with a
// pax extended header before it only where ustar cannot hold a field (a path
// over 100 bytes or not ASCII, a size of 8 GiB or more, a date before 1970
// or too far ahead). Paths are UTF-8 and go into pax "path" records as they
// are, whatever the process's locale.
//
// The entries' data goes through the writer as a DataSink, straight to the
// descriptor (no blocking): an entry takes exactly the size its header gave.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "reader/extract.h"

namespace ostrel::cli {

class TarWriter : public DataSink {
 public:
  // Writes to `fd`, which stays open: its owner closes it.
  explicit TarWriter(int fd);
  ~TarWriter() override;
  TarWriter(const TarWriter&) = delete;
  TarWriter& operator=(const TarWriter&) = delete;

  // A folder entry, mode 0755, owner 0/0. `path` is relative, with '/'
  // between its components and none at its end.
  bool AddFolder(const std::string& path, std::int64_t modified);
  // The header of a regular file of `size` bytes, mode 0644, owner 0/0; its
  // data follows through Write, then EndFile.
  bool BeginFile(const std::string& path, std::uint64_t size, std::int64_t modified);
  // The current entry's data. Bytes beyond the size its header gave are
  // dropped (Dropped() counts them).
  bool Write(const std::uint8_t* data, std::uint64_t count) override;
  // Ends the current entry; zeros fill what its data did not give (answers
  // false when the stream fails).
  bool EndFile();
  // Bytes of the last entry that its data did not give (filled with zeros by
  // EndFile) or gave beyond its size (dropped).
  std::uint64_t Padded() const { return padded_; }
  std::uint64_t Dropped() const { return dropped_; }
  // Writes the end of the archive.
  bool Close();
  // From now on nothing more reaches the descriptor, not even the end of the
  // archive: a stream that ends inside an entry stays visibly cut short.
  void Abandon() { abandoned_ = true; }

  // errno of the failed write (0 while none failed; EIO for a failure that
  // gave none).
  int Error() const override;
  // The failure in words: strerror of Error(), or libarchive's message.
  std::string ErrorText() const;
  // Bytes the stream has taken so far.
  std::uint64_t StreamBytes() const { return streamBytes_; }

 private:
  struct Archive;
  bool Header(const std::string& path, bool folder, std::uint64_t size, std::int64_t modified);
  bool Ok(int result);

  int fd_;
  std::unique_ptr<Archive> archive_;
  std::uint64_t remaining_ = 0;  // of the current entry's data
  std::uint64_t padded_ = 0, dropped_ = 0;
  std::uint64_t streamBytes_ = 0;
  int error_ = 0;
  std::string message_;
  bool abandoned_ = false;
  bool closed_ = false;
};

}  // namespace ostrel::cli
