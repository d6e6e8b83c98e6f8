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

}  // namespace ostrel
