#include "preview/archive_reader.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <string>

namespace ostrel::preview {

using namespace archive;

namespace {

struct FormatName {
  const char* name;
  std::uint8_t id;
};

// The archive group's formats and the ids of their classes in the library.
constexpr FormatName kFormats[] = {
    {"7z", 0x07},
    {"arj", 0x04},
    {"bzip2", 0x02},
    {"cab", 0x08},
    {"chm", 0xE9},
    {"compound", 0xE5},
    {"cpio", 0xED},
    {"deb", 0xEC},
    {"gzip", 0xEF},
    {"iso", 0xE7},
    {"lzh", 0x06},
    {"lzma", 0x0A},
    {"nsis", 0x09},
    {"rar", 0x03},
    {"rpm", 0xEB},
    {"split", 0xEA},
    {"tar", 0xEE},
    {"wim", 0xE6},
    {"z", 0x05},
    {"zip", 0x01},
};

// Releases a library object, or one of ours, when it goes.
template <typename T>
class Held {
 public:
  explicit Held(T* object = nullptr) : object_(object) {}
  OSTREL_LIBRARY_CALLS ~Held() {
    if (object_ != nullptr) object_->Release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  T* get() const { return object_; }
  T* operator->() const { return object_; }
  void** out() { return reinterpret_cast<void**>(&object_); }

 private:
  T* object_;
};

// A value from the library, cleared with the library's own VariantClear.
class Value {
 public:
  explicit Value(const ArchiveLibrary& library) : library_(library) {}
  ~Value() { library_.Clear(&value_); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  PROPVARIANT* out() { return &value_; }
  const PROPVARIANT& get() const { return value_; }

 private:
  const ArchiveLibrary& library_;
  PROPVARIANT value_{};
};

// "2009-03-07 14:05:09" for the file time's moment, taken as stored.
QString FileTimeText(const FILETIME& time) {
  const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  const std::uint64_t seconds = ticks / 10000000u;
  const std::uint64_t secondOfDay = seconds % 86400u;
  // Days from 1601-01-01 to the civil date (H. Hinnant's days_from_civil,
  // backwards), counted from 0000-03-01 so that leap days end each year.
  const std::int64_t days = static_cast<std::int64_t>(seconds / 86400u) + 584694;  // 1601-01-01 from 0000-03-01
  const std::int64_t era = days / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const std::int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return QStringLiteral("%1-%2-%3 %4:%5:%6")
      .arg(year, 4, 10, QLatin1Char('0'))
      .arg(month, 2, 10, QLatin1Char('0'))
      .arg(day, 2, 10, QLatin1Char('0'))
      .arg(secondOfDay / 3600, 2, 10, QLatin1Char('0'))
      .arg(secondOfDay / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(secondOfDay % 60, 2, 10, QLatin1Char('0'));
}

template <typename Func>
bool Export(void* handle, const char* name, Func* func) {
  *func = reinterpret_cast<Func>(dlsym(handle, name));
  return *func != nullptr;
}

// Everything between the library's loading and its unloading: the objects
// here are all released before the caller lets the library go.
OSTREL_LIBRARY_CALLS ArchiveFailure ReadWithLibrary(const ArchiveLibrary& library, const QString& path, const GUID& classId,
                               const std::wstring* password, std::vector<ArchiveEntry>* entries) {
  Held<IInArchive> archive;
  if (library.CreateObject(classId, IID_IInArchive, archive.out()) != S_OK || archive.get() == nullptr) {
    return ArchiveFailure::NotOpened;
  }
  Held<CInFileStream> stream(CInFileStream::Create());
  if (!stream->Open(path)) return ArchiveFailure::File;
  {
    Held<CArchiveOpenCallback> callback(CArchiveOpenCallback::Create(library));
    if (password != nullptr) callback->SetPassword(*password);
    // S_FALSE too means "not opened": the file is not of this format.
    if (archive->Open(stream.get(), nullptr, callback.get()) != S_OK) return ArchiveFailure::NotOpened;
  }
  std::uint32_t count = 0;
  if (archive->GetNumberOfItems(&count) != S_OK) count = 0;
  ArchiveFailure failure = ArchiveFailure::None;
  for (std::uint32_t index = 0; index < count && failure == ArchiveFailure::None; ++index) {
    Value pathValue(library);
    Value isDirValue(library);
    if (archive->GetProperty(index, kpidPath, pathValue.out()) != S_OK ||
        archive->GetProperty(index, kpidIsDir, isDirValue.out()) != S_OK) {
      failure = ArchiveFailure::Property;
      break;
    }
    std::optional<QString> entryPath = PropertyToText(library, pathValue.get());
    std::optional<QString> isDirectory = PropertyToText(library, isDirValue.get());
    if (!entryPath || !isDirectory) {
      failure = ArchiveFailure::Property;
      break;
    }
    entries->push_back({std::move(*entryPath), std::move(*isDirectory)});
  }
  archive->Close();
  return failure;
}

}  // namespace

std::optional<GUID> ArchiveFormatOf(const QString& extension) {
  for (const FormatName& format : kFormats) {
    if (extension.compare(QLatin1String(format.name), Qt::CaseInsensitive) == 0) return FormatClassId(format.id);
  }
  return std::nullopt;
}

std::unique_ptr<ArchiveLibrary> ArchiveLibrary::Load(QString* problem, const char* path) {
  std::string file = path != nullptr ? path : kArchiveLibraryPath;
  if (path == nullptr) {
    const char* chosen = std::getenv(kArchiveLibraryVariable);
    if (chosen != nullptr && *chosen != '\0') file = chosen;
  }
  const QString name = QString::fromLocal8Bit(file.c_str());
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    *problem = QStringLiteral("the archive library %1 cannot be loaded (%2)")
                   .arg(name, why != nullptr ? QString::fromLocal8Bit(why) : QStringLiteral("no reason given"));
    return nullptr;
  }
  std::unique_ptr<ArchiveLibrary> library(new ArchiveLibrary(handle));
  GetModulePropFunc getModuleProp = nullptr;
  for (const auto& [symbol, found] :
       {std::pair{"CreateObject", Export(handle, "CreateObject", &library->createObject_)},
        std::pair{"GetModuleProp", Export(handle, "GetModuleProp", &getModuleProp)},
        std::pair{"SysAllocString", Export(handle, "SysAllocString", &library->sysAllocString_)},
        std::pair{"SysFreeString", Export(handle, "SysFreeString", &library->sysFreeString_)},
        std::pair{"SysStringLen", Export(handle, "SysStringLen", &library->sysStringLen_)},
        std::pair{"VariantClear", Export(handle, "VariantClear", &library->variantClear_)}}) {
    if (!found) {
      *problem = QStringLiteral("the archive library %1 has no %2: it is not the 7-Zip library the listing "
                                "was written for (7-Zip 21 or later)")
                     .arg(name, QLatin1String(symbol));
      return nullptr;
    }
  }
  // Only values of 32-bit type come back here: nothing to clear.
  PROPVARIANT layout{};
  if (getModuleProp(kModulePropInterfaceType, &layout) != S_OK || layout.vt != VT_UI4 || layout.ulVal != 0) {
    *problem = QStringLiteral("the archive library %1 lays its objects out differently (interface type %2, "
                              "expected 0: no virtual destructor)")
                   .arg(name, layout.vt == VT_UI4 ? QString::number(layout.ulVal) : QStringLiteral("unknown"));
    return nullptr;
  }
  PROPVARIANT version{};
  if (getModuleProp(kModulePropVersion, &version) != S_OK || version.vt != VT_UI4) {
    *problem = QStringLiteral("the archive library %1 does not say its version").arg(name);
    return nullptr;
  }
  library->version_ = version.ulVal;
  return library;
}

ArchiveLibrary::~ArchiveLibrary() { dlclose(handle_); }

HRESULT ArchiveLibrary::CreateObject(const GUID& classId, const GUID& iid, void** object) const {
  *object = nullptr;
  return createObject_(&classId, &iid, object);
}

// --- CInFileStream ---

bool CInFileStream::Open(const QString& path) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) return false;
  struct stat st{};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    errno = EINVAL;
    return false;
  }
  return true;
}

CInFileStream::~CInFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

HRESULT CInFileStream::QueryInterface(const GUID& iid, void** object) noexcept {
  if (object == nullptr) return E_INVALIDARG;
  if (iid == IID_IUnknown || iid == IID_IInStream) {
    *object = static_cast<IInStream*>(this);
  } else if (iid == IID_IStreamGetSize) {
    *object = static_cast<IStreamGetSize*>(this);
  } else {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

std::uint32_t CInFileStream::AddRef() noexcept { return ++references_; }

std::uint32_t CInFileStream::Release() noexcept {
  const std::uint32_t left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT CInFileStream::Read(void* data, std::uint32_t size, std::uint32_t* processedSize) noexcept {
  if (processedSize != nullptr) *processedSize = 0;
  if (fd_ < 0) return E_FAIL;
  const std::uint32_t wanted = std::min(size, kMaxStreamRead);
  ssize_t got;
  do {
    got = ::read(fd_, data, wanted);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return ResultFromSystemError(errno);
  if (processedSize != nullptr) *processedSize = static_cast<std::uint32_t>(got);
  return S_OK;
}

HRESULT CInFileStream::Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) noexcept {
  int whence;
  switch (seekOrigin) {
    case 0: whence = SEEK_SET; break;
    case 1: whence = SEEK_CUR; break;
    case 2: whence = SEEK_END; break;
    default: return STG_E_INVALIDFUNCTION;
  }
  if (fd_ < 0) return E_FAIL;
  const off_t position = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (position < 0) return ResultFromSystemError(errno);
  if (newPosition != nullptr) *newPosition = static_cast<std::uint64_t>(position);
  return S_OK;
}

HRESULT CInFileStream::GetSize(std::uint64_t* size) noexcept {
  if (size == nullptr) return E_INVALIDARG;
  struct stat st{};
  if (fd_ < 0) return E_FAIL;
  if (::fstat(fd_, &st) != 0) return ResultFromSystemError(errno);
  *size = static_cast<std::uint64_t>(st.st_size);
  return S_OK;
}

// --- CArchiveOpenCallback ---

void CArchiveOpenCallback::SetPassword(std::wstring_view password) {
  password_ = password;
  passwordDefined_ = true;
}

HRESULT CArchiveOpenCallback::QueryInterface(const GUID& iid, void** object) noexcept {
  if (object == nullptr) return E_INVALIDARG;
  if (iid == IID_IUnknown || iid == IID_ICryptoGetTextPassword) {
    *object = static_cast<ICryptoGetTextPassword*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

std::uint32_t CArchiveOpenCallback::AddRef() noexcept { return ++references_; }

std::uint32_t CArchiveOpenCallback::Release() noexcept {
  const std::uint32_t left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT CArchiveOpenCallback::SetTotal(const std::uint64_t*, const std::uint64_t*) noexcept { return S_OK; }

HRESULT CArchiveOpenCallback::SetCompleted(const std::uint64_t*, const std::uint64_t*) noexcept { return S_OK; }

HRESULT CArchiveOpenCallback::CryptoGetTextPassword(BSTR* password) noexcept {
  if (password == nullptr) return E_INVALIDARG;
  *password = nullptr;
  if (!passwordDefined_) return E_ABORT;
  *password = library_.AllocString(password_.c_str());
  return *password != nullptr ? S_OK : E_OUTOFMEMORY;
}

// --- Reading ---

std::optional<QString> PropertyToText(const ArchiveLibrary& library, const PROPVARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY: return QString();
    case VT_I2: return QString::number(value.iVal);
    case VT_I4: return QString::number(value.lVal);
    case VT_I8: return QString::number(value.hVal);
    case VT_UI1: return QString::number(value.bVal);
    case VT_UI2: return QString::number(value.uiVal);
    case VT_UI4: return QString::number(value.ulVal);
    case VT_UI8: return QString::number(value.uhVal);
    case VT_BOOL: return value.boolVal != 0 ? QStringLiteral("+") : QStringLiteral("-");
    case VT_FILETIME: return FileTimeText(value.filetime);
    case VT_BSTR: {
      if (value.bstrVal == nullptr) return QString();
      const std::uint32_t length = std::min<std::uint32_t>(library.StringLength(value.bstrVal), kMaxEntryPathLength);
      return QString::fromUcs4(reinterpret_cast<const char32_t*>(value.bstrVal), static_cast<qsizetype>(length));
    }
    default: return std::nullopt;
  }
}

ArchiveReading ReadArchiveEntries(const QString& path, const GUID& classId, const std::wstring* password) {
  ArchiveReading reading;
  const std::unique_ptr<ArchiveLibrary> library = ArchiveLibrary::Load(&reading.problem);
  if (!library) {
    reading.failure = ArchiveFailure::Library;
    return reading;
  }
  std::vector<ArchiveEntry> entries;
  reading.failure = ReadWithLibrary(*library, path, classId, password, &entries);
  if (reading.failure == ArchiveFailure::None) reading.entries = std::move(entries);
  return reading;
}

}  // namespace ostrel::preview
