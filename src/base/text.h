// Text helpers shared by every layer. Portable: must never include <windows.h>.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wd {

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates, at most U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// True when the UTF-16 units hold no unpaired surrogate.
bool is_valid_utf16(std::u16string_view units);

// UTF-16 to UTF-8; every unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8_lossy(std::u16string_view units);

// UTF-8 to UTF-16; every ill-formed sequence becomes U+FFFD.
std::u16string utf8_to_utf16_lossy(std::string_view bytes);

// UTF-8 with every ill-formed sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// Removes characters with the Unicode White_Space property from both ends of valid UTF-8.
std::string_view trim_unicode_whitespace(std::string_view utf8);

// Strict unsigned decimal: an optional single '+', then one or more ASCII digits and nothing
// else (leading zeros allowed), at most `max`. No trimming. Works on bytes or UTF-16 units.
std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view text, std::uint64_t max);
std::optional<std::uint64_t> parse_unsigned_decimal(std::u16string_view text, std::uint64_t max);

// ASCII-only case-insensitive equality.
bool equals_ascii_nocase(std::string_view a, std::string_view b);

// The text with its control characters escaped as JSON escapes them (\n, \t, \u001b, ...), so
// that a file's bytes shown on a terminal cannot move the cursor, clear the screen or forge a
// line.
std::string escape_controls(std::string_view text);

}  // namespace wd
