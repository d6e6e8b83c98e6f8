// UTF-16 <-> UTF-8 for names taken from BKF files (untrusted: an unpaired
// surrogate becomes U+FFFD; invalid UTF-8 bytes become U+FFFD).
#pragma once

#include <string>
#include <string_view>

namespace ostrel {

std::string Utf16ToUtf8(std::u16string_view text);
// The same, appended to `out` (no allocation once `out` has the room).
void AppendUtf16AsUtf8(std::string& out, std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

// A file's path (bytes, UTF-8 as a rule but not always) as UTF-16 without
// loss, for the snapshot that names the BKF file: each byte that is not part
// of valid UTF-8 becomes a lone surrogate U+DC80 + its value (the convention
// Python's "surrogateescape" follows), which PathFromUtf16 turns back into
// the byte. A path that is valid UTF-8 comes out as Utf8ToUtf16 gives it.
std::u16string PathToUtf16(std::string_view path);
std::string PathFromUtf16(std::u16string_view path);
// Whether `text` is valid UTF-8 throughout.
bool IsValidUtf8(std::string_view text);

}  // namespace ostrel
