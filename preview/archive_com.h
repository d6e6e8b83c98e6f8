// The binary interface of the archive library (7-Zip's shared library, 7z.so),
// declared here because the library ships no headers. Everything in this
// file must match the library's own layout byte for byte; the loader
// (archive_reader.cpp) checks at load time that the library was built with
// the same object layout before it calls any of it.
//
// The library speaks a COM-like protocol, on Linux with these conventions:
//
//   HRESULT   int32_t; 0 (S_OK) is success, 1 (S_FALSE) "not this format"
//             from IInArchive::Open, negative values are errors
//   GUID      16 bytes: Data1 (32 bits), Data2, Data3 (16 bits each), Data4[8]
//   BSTR      pointer to 4-byte wchar_t characters, NUL-terminated, with the
//             length kept by the allocator in front of the first character;
//             allocated and freed only by the library's SysAllocString /
//             SysFreeString
//   PROPVARIANT
//             16 bytes:
//               offset 0  vt (VARTYPE, 16 bits): which member of the union holds
//               offset 2  three reserved 16-bit words
//               offset 8  the value: 8, 16, 32 or 64 bits, a FILETIME, a BSTR
//             released with the library's VariantClear
//   interfaces
//             classes with only pure virtual methods, called with the
//             platform's normal calling convention. IUnknown has exactly three
//             slots (QueryInterface, AddRef, Release) and NO virtual
//             destructor: the library reports this through GetModuleProp, and
//             a library built with one (older p7zip builds) has every later
//             slot shifted by two and must not be called.
//
// Objects handed to the library (our streams and callbacks) derive from these
// declarations, so their virtual tables have the same layout.
#pragma once

#include <cstdint>
#include <cstring>

// The library's objects carry the library's own run-time type information,
// not ours: UndefinedBehaviorSanitizer's vptr check, which compares the two,
// must not look at calls through these declarations.
#if defined(__clang__) || defined(__GNUC__)
#define OSTREL_LIBRARY_CALLS __attribute__((no_sanitize("vptr")))
#else
#define OSTREL_LIBRARY_CALLS
#endif

namespace ostrel::preview::archive {

using HRESULT = std::int32_t;
using PROPID = std::uint32_t;
using VARTYPE = std::uint16_t;
using BSTR = wchar_t*;

static_assert(sizeof(wchar_t) == 4, "the library's strings are 4-byte wchar_t");

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
inline constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004u);
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT STG_E_INVALIDFUNCTION = static_cast<HRESULT>(0x80030001u);

// A system error code (errno) made into a result, or E_FAIL without one.
constexpr HRESULT ResultFromSystemError(int code) {
  return code > 0 ? static_cast<HRESULT>(0x80070000u | (static_cast<std::uint32_t>(code) & 0xFFFFu)) : E_FAIL;
}

struct GUID {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};
static_assert(sizeof(GUID) == 16);

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// The library's identifiers share their first eight bytes:
// {23170F69-40C1-278A-xxxx-xxxxxxxxxxxx}.
constexpr GUID LibraryGuid(std::uint8_t d0, std::uint8_t d1, std::uint8_t d2, std::uint8_t d3, std::uint8_t d4,
                           std::uint8_t d5) {
  return GUID{0x23170F69u, 0x40C1u, 0x278Au, {d0, d1, d2, d3, d4, d5, 0x00, 0x00}};
}

// {00000000-0000-0000-C000-000000000046}
inline constexpr GUID IID_IUnknown{0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IInArchive = LibraryGuid(0x00, 0x00, 0x00, 0x06, 0x00, 0x60);
inline constexpr GUID IID_IInStream = LibraryGuid(0x00, 0x00, 0x00, 0x03, 0x00, 0x03);
inline constexpr GUID IID_IStreamGetSize = LibraryGuid(0x00, 0x00, 0x00, 0x03, 0x00, 0x06);
inline constexpr GUID IID_ICryptoGetTextPassword = LibraryGuid(0x00, 0x00, 0x00, 0x05, 0x00, 0x10);

// A format's class: {23170F69-40C1-278A-1000-000110xx0000}, xx the format's id.
constexpr GUID FormatClassId(std::uint8_t id) { return LibraryGuid(0x10, 0x00, 0x00, 0x01, 0x10, id); }

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_FILETIME = 64,
};

// 100-nanosecond intervals since 1601-01-01 00:00:00 UTC, in two halves.
struct FILETIME {
  std::uint32_t dwLowDateTime;
  std::uint32_t dwHighDateTime;
};

struct PROPVARIANT {
  VARTYPE vt;
  std::uint16_t wReserved1;
  std::uint16_t wReserved2;
  std::uint16_t wReserved3;
  union {
    std::uint8_t bVal;
    std::int16_t iVal;
    std::uint16_t uiVal;
    std::int32_t lVal;
    std::uint32_t ulVal;
    std::int64_t hVal;
    std::uint64_t uhVal;
    std::int16_t boolVal;  // VARIANT_BOOL: -1 true, 0 false
    double dblVal;
    FILETIME filetime;
    BSTR bstrVal;
  };
};
static_assert(sizeof(PROPVARIANT) == 16);

// Property identifiers of an archive entry.
inline constexpr PROPID kpidPath = 3;
inline constexpr PROPID kpidIsDir = 6;

// GetModuleProp's properties (both VT_UI4).
inline constexpr PROPID kModulePropInterfaceType = 0;  // 0: IUnknown without a virtual destructor
inline constexpr PROPID kModulePropVersion = 1;        // major << 16 | minor

// The interfaces: only pure virtual methods, in the library's slot order.
// The destructors are protected and not virtual so that they take no slot.
struct IUnknown {
  virtual HRESULT QueryInterface(const GUID& iid, void** object) noexcept = 0;
  virtual std::uint32_t AddRef() noexcept = 0;
  virtual std::uint32_t Release() noexcept = 0;

 protected:
  ~IUnknown() = default;
};

struct ISequentialInStream : IUnknown {
  virtual HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) noexcept = 0;

 protected:
  ~ISequentialInStream() = default;
};

struct IInStream : ISequentialInStream {
  virtual HRESULT Seek(std::int64_t offset, std::uint32_t seekOrigin, std::uint64_t* newPosition) noexcept = 0;

 protected:
  ~IInStream() = default;
};

struct IStreamGetSize : IUnknown {
  virtual HRESULT GetSize(std::uint64_t* size) noexcept = 0;

 protected:
  ~IStreamGetSize() = default;
};

struct IArchiveOpenCallback : IUnknown {
  virtual HRESULT SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) noexcept = 0;
  virtual HRESULT SetCompleted(const std::uint64_t* files, const std::uint64_t* bytes) noexcept = 0;

 protected:
  ~IArchiveOpenCallback() = default;
};

struct ICryptoGetTextPassword : IUnknown {
  virtual HRESULT CryptoGetTextPassword(BSTR* password) noexcept = 0;

 protected:
  ~ICryptoGetTextPassword() = default;
};

struct IInArchive : IUnknown {
  virtual HRESULT Open(IInStream* stream, const std::uint64_t* maxCheckStartPosition,
                       IArchiveOpenCallback* openCallback) noexcept = 0;
  virtual HRESULT Close() noexcept = 0;
  virtual HRESULT GetNumberOfItems(std::uint32_t* numItems) noexcept = 0;
  virtual HRESULT GetProperty(std::uint32_t index, PROPID propID, PROPVARIANT* value) noexcept = 0;
  // The slots after these (Extract, the archive's own properties) are never
  // called by the listing.

 protected:
  ~IInArchive() = default;
};

// The library's exports.
using CreateObjectFunc = HRESULT (*)(const GUID* classId, const GUID* iid, void** object);
using GetModulePropFunc = HRESULT (*)(PROPID propID, PROPVARIANT* value);
using SysAllocStringFunc = BSTR (*)(const wchar_t* text);
using SysFreeStringFunc = void (*)(BSTR text);
using SysStringLenFunc = std::uint32_t (*)(BSTR text);
using VariantClearFunc = HRESULT (*)(PROPVARIANT* value);

}  // namespace ostrel::preview::archive
