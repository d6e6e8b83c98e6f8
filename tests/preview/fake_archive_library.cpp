// Shared libraries that look like the archive library from outside but must
// not be used by the archive listing. One variant a build:
//   FAKE_NO_MODULE_PROP      every export but GetModuleProp: a build that
//                            cannot say how its objects are laid out
//   FAKE_VIRTUAL_DESTRUCTOR  GetModuleProp says that its IUnknown has a
//                            virtual destructor (two more virtual-table slots)
//   FAKE_NOTHING             exports none of the library's functions
// Nothing here is ever called past the checks: a call would mean that the
// listing used a library it should have refused, and crashes on purpose.
#include <cstdint>
#include <cstdlib>

#if !defined(FAKE_NOTHING)
extern "C" {
__attribute__((visibility("default"))) std::int32_t CreateObject(const void*, const void*, void**) { std::abort(); }
__attribute__((visibility("default"))) wchar_t* SysAllocString(const wchar_t*) { std::abort(); }
__attribute__((visibility("default"))) void SysFreeString(wchar_t*) { std::abort(); }
__attribute__((visibility("default"))) std::uint32_t SysStringLen(wchar_t*) { std::abort(); }
__attribute__((visibility("default"))) std::int32_t VariantClear(void*) { std::abort(); }
#if defined(FAKE_VIRTUAL_DESTRUCTOR)
// PROPVARIANT: vt at offset 0, the value at offset 8.
__attribute__((visibility("default"))) std::int32_t GetModuleProp(std::uint32_t id, void* value) {
  auto* bytes = static_cast<unsigned char*>(value);
  const std::uint16_t vt = 19;  // VT_UI4
  const std::uint32_t answer = id == 0 ? 1 : 0x170000;  // interface type 1; version 23.0
  __builtin_memcpy(bytes, &vt, sizeof vt);
  __builtin_memcpy(bytes + 8, &answer, sizeof answer);
  return 0;
}
#endif
}
#endif
