// Windows command-line quoting, kept portable so that it is tested everywhere.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wd {

// Quote an argument even when it needs none (a program's path as its whole command line).
inline constexpr bool QUOTE_ALWAYS = true;

// One argument as the Microsoft C runtime will split it back: quoted when it is empty or holds
// a space or tab (or always, with QUOTE_ALWAYS); inner quotes escaped with a backslash;
// backslashes doubled where they precede a quote or the closing quote, left alone elsewhere.
std::u16string quote_windows_arg(std::u16string_view arg, bool always = false);

// The arguments quoted and joined by single spaces.
std::u16string join_windows_args(const std::vector<std::u16string>& args);

}  // namespace wd
