// Reading the entries of an archive through the archive library (7-Zip's
// shared library), without any window: the part of the archive listing that
// the tests drive directly.
//
// The library is loaded with dlopen for one reading and unloaded at its end;
// nothing of it (objects, strings, function pointers) outlives the reading.
// Before anything is called, the library must report through its
// GetModuleProp export that its objects have the three-slot IUnknown that
// archive_com.h declares; a library that does not is refused.
//
// The archive's bytes are untrusted: only the library reads them, through our
// stream over the file, and what it reports is taken as text (a path cut to
// kMaxEntryPathLength characters, the is-directory value). A value of a type
// that the text conversion does not know fails the reading.
#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "preview/archive_com.h"

namespace ostrel::preview {

// Where the library is looked for, unless OSTREL_ARCHIVE_LIBRARY names
// another file (the tests point it at libraries that must be refused).
inline constexpr char kArchiveLibraryPath[] = "/usr/lib/p7zip/7z.so";
inline constexpr char kArchiveLibraryVariable[] = "OSTREL_ARCHIVE_LIBRARY";
// Longer entry paths are cut to their first this many characters.
inline constexpr int kMaxEntryPathLength = 1023;
// A single Read hands the library at most this many bytes.
inline constexpr std::uint32_t kMaxStreamRead = 4194304;

struct ArchiveEntry {
  QString path;
  // "+" a folder, "-" a file, empty when the library reports no value.
  QString isDirectory;
  bool operator==(const ArchiveEntry&) const = default;
};

// The class identifier of the format named by `extension` (compared without
// regard to case: "zip", "ZIP", "Zip"), or nothing for an extension that
// names no format of the archive group.
std::optional<archive::GUID> ArchiveFormatOf(const QString& extension);

// The loaded library, unloaded when the object goes. Everything that came
// from it must be released before.
class ArchiveLibrary {
 public:
  // The library at `path` (default: OSTREL_ARCHIVE_LIBRARY, else
  // kArchiveLibraryPath), or nothing with the reason in `problem`: the file
  // cannot be loaded, an export is missing, or its object layout or version
  // is not the one declared in archive_com.h.
  static std::unique_ptr<ArchiveLibrary> Load(QString* problem, const char* path = nullptr);
  ~ArchiveLibrary();
  ArchiveLibrary(const ArchiveLibrary&) = delete;
  ArchiveLibrary& operator=(const ArchiveLibrary&) = delete;

  archive::HRESULT CreateObject(const archive::GUID& classId, const archive::GUID& iid, void** object) const;
  archive::BSTR AllocString(const wchar_t* text) const { return sysAllocString_(text); }
  void FreeString(archive::BSTR text) const { sysFreeString_(text); }
  std::uint32_t StringLength(archive::BSTR text) const { return sysStringLen_(text); }
  void Clear(archive::PROPVARIANT* value) const { variantClear_(value); }
  // major << 16 | minor, as the library reports it.
  std::uint32_t Version() const { return version_; }

 private:
  explicit ArchiveLibrary(void* handle) : handle_(handle) {}

  void* handle_;
  std::uint32_t version_ = 0;
  archive::CreateObjectFunc createObject_ = nullptr;
  archive::SysAllocStringFunc sysAllocString_ = nullptr;
  archive::SysFreeStringFunc sysFreeString_ = nullptr;
  archive::SysStringLenFunc sysStringLen_ = nullptr;
  archive::VariantClearFunc variantClear_ = nullptr;
};

// The stream that the library reads the archive through: one file, opened
// read-only. Reference-counted; it closes the file and deletes itself when
// the count drops to 0. Created with a count of 1.
class CInFileStream final : public archive::IInStream, public archive::IStreamGetSize {
 public:
  static CInFileStream* Create() { return new CInFileStream; }
  // False with errno set when the file cannot be opened.
  bool Open(const QString& path);

  archive::HRESULT QueryInterface(const archive::GUID& iid, void** object) noexcept override;
  std::uint32_t AddRef() noexcept override;
  std::uint32_t Release() noexcept override;
  // At most kMaxStreamRead bytes from the current position.
  archive::HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) noexcept override;
  // Origin 0 the start, 1 the current position, 2 the end; any other origin
  // is STG_E_INVALIDFUNCTION.
  archive::HRESULT Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) noexcept override;
  archive::HRESULT GetSize(std::uint64_t* size) noexcept override;

 private:
  CInFileStream() = default;
  ~CInFileStream();

  std::uint32_t references_ = 1;
  int fd_ = -1;
};

// The library's callback while it opens an archive: progress is accepted,
// and a password is refused with E_ABORT unless one is defined. Reference-
// counted like CInFileStream; created with a count of 1.
class CArchiveOpenCallback final : public archive::IArchiveOpenCallback, public archive::ICryptoGetTextPassword {
 public:
  // `library` allocates the password's copy; it must outlive the callback.
  static CArchiveOpenCallback* Create(const ArchiveLibrary& library) { return new CArchiveOpenCallback(library); }
  void SetPassword(std::wstring_view password);

  archive::HRESULT QueryInterface(const archive::GUID& iid, void** object) noexcept override;
  std::uint32_t AddRef() noexcept override;
  std::uint32_t Release() noexcept override;
  archive::HRESULT SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) noexcept override;
  archive::HRESULT SetCompleted(const std::uint64_t* files, const std::uint64_t* bytes) noexcept override;
  archive::HRESULT CryptoGetTextPassword(archive::BSTR* password) noexcept override;

 private:
  explicit CArchiveOpenCallback(const ArchiveLibrary& library) : library_(library) {}
  ~CArchiveOpenCallback() = default;

  const ArchiveLibrary& library_;
  std::uint32_t references_ = 1;
  bool passwordDefined_ = false;
  std::wstring password_;
};

// A property value as text: integers in decimal, a string as it is, a
// boolean "+" or "-", a file time as "2009-03-07 14:05:09" (as stored, no
// time zone), nothing for empty. Nothing also for a type not in that list,
// which fails the reading. Strings are cut to kMaxEntryPathLength characters.
std::optional<QString> PropertyToText(const ArchiveLibrary& library, const archive::PROPVARIANT& value);

// Why a reading gave no entries.
enum class ArchiveFailure {
  None,
  Library,      // the library cannot be used (missing, incomplete, another layout)
  UnknownType,  // the extension names no format of the archive group
  File,         // the file cannot be opened
  NotOpened,    // the library does not take the file as that format (damaged,
                // another format, or a password asked for and refused)
  Property,     // an entry property of a type the conversion does not know
};

struct ArchiveReading {
  std::optional<std::vector<ArchiveEntry>> entries;  // nothing after a failure
  ArchiveFailure failure = ArchiveFailure::None;
  QString problem;  // for ArchiveFailure::Library: why, in words
};

// The entries of the archive at `path` as the format `classId`, in the
// library's order. Loads the library and unloads it before it returns. The
// preview defines no password (an encrypted archive that needs one is not
// opened); `password` defines one.
ArchiveReading ReadArchiveEntries(const QString& path, const archive::GUID& classId,
                                  const std::wstring* password = nullptr);

}  // namespace ostrel::preview
