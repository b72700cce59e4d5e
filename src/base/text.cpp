#include "base/text.h"

namespace wd {
namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// Decodes one UTF-8 sequence at `pos`; returns the code point and advances `pos`, or returns
// nothing and advances `pos` past the maximal ill-formed prefix (at least one byte).
std::optional<char32_t> decode_utf8(std::string_view s, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    std::size_t len = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0Fu;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07u;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;  // at most U+10FFFF
    } else {
        ++pos;
        return std::nullopt;
    }
    std::size_t i = pos + 1;
    for (std::size_t k = 1; k < len; ++k, ++i) {
        if (i >= s.size()) {
            pos = i;
            return std::nullopt;
        }
        const unsigned char b = byte(i);
        const unsigned char min = (k == 1) ? lo : 0x80;
        const unsigned char max = (k == 1) ? hi : 0xBF;
        if (b < min || b > max) {
            pos = i;
            return std::nullopt;
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    pos = i;
    return cp;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

bool is_high_surrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Unicode White_Space (PropList.txt).
bool is_white_space(char32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
           cp == 0x205F || cp == 0x3000;
}

template <typename Char>
std::optional<std::uint64_t> parse_decimal(std::basic_string_view<Char> text, std::uint64_t max) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == Char('+')) ++i;
    if (i == text.size()) return std::nullopt;
    std::uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const Char c = text[i];
        if (c < Char('0') || c > Char('9')) return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - Char('0'));
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (!decode_utf8(bytes, pos)) return false;
    }
    return true;
}

bool is_valid_utf16(std::u16string_view units) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (is_high_surrogate(units[i])) {
            if (i + 1 >= units.size() || !is_low_surrogate(units[i + 1])) return false;
            ++i;
        } else if (is_low_surrogate(units[i])) {
            return false;
        }
    }
    return true;
}

std::string utf16_to_utf8_lossy(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (is_high_surrogate(u) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            const char32_t cp = 0x10000 + ((char32_t(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            append_utf8(out, cp);
            ++i;
        } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
            append_utf8(out, REPLACEMENT);
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

std::u16string utf8_to_utf16_lossy(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        append_utf16(out, decode_utf8(bytes, pos).value_or(REPLACEMENT));
    }
    return out;
}

std::string utf8_lossy(std::string_view bytes) {
    if (is_valid_utf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        append_utf8(out, decode_utf8(bytes, pos).value_or(REPLACEMENT));
    }
    return out;
}

std::string_view trim_unicode_whitespace(std::string_view utf8) {
    // Leading: decode forward.
    std::size_t begin = 0;
    while (begin < utf8.size()) {
        std::size_t next = begin;
        const auto cp = decode_utf8(utf8, next);
        if (!cp || !is_white_space(*cp)) break;
        begin = next;
    }
    // Trailing: step back over continuation bytes to each sequence start.
    std::size_t end = utf8.size();
    while (end > begin) {
        std::size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(utf8[start]) & 0xC0) == 0x80) --start;
        std::size_t next = start;
        const auto cp = decode_utf8(utf8, next);
        if (!cp || next != end || !is_white_space(*cp)) break;
        end = start;
    }
    return utf8.substr(begin, end - begin);
}

std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view text, std::uint64_t max) {
    return parse_decimal(text, max);
}

std::optional<std::uint64_t> parse_unsigned_decimal(std::u16string_view text, std::uint64_t max) {
    return parse_decimal(text, max);
}

bool equals_ascii_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string escape_controls(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            out += c;
            continue;
        }
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default: {
                static constexpr char HEX[] = "0123456789abcdef";
                out += "\\u00";
                out += HEX[byte >> 4];
                out += HEX[byte & 0xf];
            }
        }
    }
    return out;
}

}  // namespace wd
