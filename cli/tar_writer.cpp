#include "cli/tar_writer.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ostrel::cli {

// libarchive takes a path in the locale's character set and converts it to
// UTF-8 for the pax "path" record. Under the C locale it cannot: a path given
// as UTF-8 crashes this release's pax writer, and one given as it is comes
// out with "hdrcharset=BINARY". So every call that handles a header runs in a
// UTF-8 locale of this thread alone (uselocale): the path, already UTF-8,
// passes unchanged. Without a C.UTF-8 locale on the system the paths still
// reach the stream byte for byte, marked BINARY.
struct TarWriter::Archive {
  struct archive* a = nullptr;
  locale_t utf8 = nullptr;

  Archive() : a(archive_write_new()), utf8(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
  ~Archive() {
    if (a != nullptr) archive_write_free(a);
    if (utf8 != locale_t{}) freelocale(utf8);
  }

  // While it lives, the thread's character set is UTF-8.
  class Utf8Scope {
   public:
    explicit Utf8Scope(locale_t utf8) : old_(utf8 != locale_t{} ? uselocale(utf8) : locale_t{}) {}
    ~Utf8Scope() {
      if (old_ != locale_t{}) uselocale(old_);
    }

   private:
    locale_t old_;
  };

  // libarchive is always told that the bytes were written: a failure it saw
  // would put the archive in a state in which freeing it leaks. The writer
  // keeps the failure and looks at it after every call instead. After a
  // failure, and after Abandon, nothing more is written.
  static la_ssize_t Out(struct archive*, void* client, const void* buffer, size_t count) {
    auto* self = static_cast<TarWriter*>(client);
    if (self->error_ != 0 || self->abandoned_) return static_cast<la_ssize_t>(count);
    const auto* data = static_cast<const char*>(buffer);
    std::size_t left = count;
    while (left > 0) {
      const ssize_t n = ::write(self->fd_, data, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        self->error_ = n < 0 ? errno : EIO;
        break;
      }
      data += n;
      left -= static_cast<std::size_t>(n);
      self->streamBytes_ += static_cast<std::uint64_t>(n);
    }
    return static_cast<la_ssize_t>(count);
  }
};

TarWriter::TarWriter(int fd) : fd_(fd), archive_(std::make_unique<Archive>()) {
  struct archive* a = archive_->a;
  if (a == nullptr) {
    error_ = ENOMEM;
    return;
  }
  const Archive::Utf8Scope utf8(archive_->utf8);
  // No blocking: each header and each piece of data is written as it comes,
  // without a copy, and the archive ends after its two zero blocks.
  (void)(Ok(archive_write_set_format_pax_restricted(a)) && Ok(archive_write_set_bytes_per_block(a, 0)) &&
         Ok(archive_write_set_bytes_in_last_block(a, 1)) &&
         Ok(archive_write_open(a, this, nullptr, &Archive::Out, nullptr)));
}

TarWriter::~TarWriter() {
  // Only Close ends the archive: freeing an archive that is not closed would
  // write its end.
  if (!closed_) Abandon();
  const Archive::Utf8Scope utf8(archive_->utf8);
  archive_.reset();
}

// Answers whether the stream goes on after a call that answered `result`;
// keeps the reason of a failure (the write's own, when a write failed).
bool TarWriter::Ok(int result) {
  if (result >= ARCHIVE_WARN) return error_ == 0;
  if (error_ == 0) {
    error_ = archive_errno(archive_->a) > 0 ? archive_errno(archive_->a) : EIO;
    const char* text = archive_error_string(archive_->a);
    message_ = text != nullptr ? text : "";
  }
  return false;
}

bool TarWriter::Header(const std::string& path, bool folder, std::uint64_t size, std::int64_t modified) {
  if (error_ != 0) return false;
  const Archive::Utf8Scope utf8(archive_->utf8);
  struct archive_entry* entry = archive_entry_new();
  if (entry == nullptr) {
    error_ = ENOMEM;
    return false;
  }
  archive_entry_copy_pathname(entry, folder ? (path + "/").c_str() : path.c_str());
  archive_entry_set_filetype(entry, folder ? AE_IFDIR : AE_IFREG);
  archive_entry_set_perm(entry, folder ? 0755 : 0644);
  archive_entry_set_size(entry, static_cast<la_int64_t>(folder ? 0 : size));
  archive_entry_set_uid(entry, 0);
  archive_entry_set_gid(entry, 0);
  archive_entry_set_mtime(entry, static_cast<time_t>(modified), 0);
  const bool ok = Ok(archive_write_header(archive_->a, entry));
  archive_entry_free(entry);
  remaining_ = ok && !folder ? size : 0;
  padded_ = dropped_ = 0;
  return ok;
}

bool TarWriter::AddFolder(const std::string& path, std::int64_t modified) {
  return Header(path, true, 0, modified);
}

bool TarWriter::BeginFile(const std::string& path, std::uint64_t size, std::int64_t modified) {
  return Header(path, false, size, modified);
}

bool TarWriter::Write(const std::uint8_t* data, std::uint64_t count) {
  if (error_ != 0) return false;
  const std::uint64_t take = std::min(count, remaining_);
  dropped_ += count - take;
  std::uint64_t done = 0;
  while (done < take) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(take - done, 1u << 30));
    const la_ssize_t n = archive_write_data(archive_->a, data + done, piece);
    if (!Ok(n > 0 ? ARCHIVE_OK : n < 0 ? static_cast<int>(n) : ARCHIVE_FATAL)) return false;
    done += static_cast<std::uint64_t>(n);
  }
  remaining_ -= take;
  return true;
}

bool TarWriter::EndFile() {
  if (error_ != 0) return false;
  // libarchive fills what is left of the entry with zeros, then pads it to
  // its 512-byte block.
  padded_ = remaining_;
  remaining_ = 0;
  const Archive::Utf8Scope utf8(archive_->utf8);
  return Ok(archive_write_finish_entry(archive_->a));
}

bool TarWriter::Close() {
  if (error_ != 0 || closed_) return error_ == 0;
  const Archive::Utf8Scope utf8(archive_->utf8);
  closed_ = true;
  return Ok(archive_write_close(archive_->a));
}

int TarWriter::Error() const { return error_; }

std::string TarWriter::ErrorText() const {
  if (!message_.empty()) return message_;
  return error_ != 0 ? std::strerror(error_) : std::string();
}

}  // namespace ostrel::cli
