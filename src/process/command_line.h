// Windows command-line quoting, kept portable so that it is tested everywhere.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wd {

// One argument as the Microsoft C runtime will split it back: quoted when it is empty or holds
// a space or tab; inner quotes escaped with a backslash; backslashes doubled where they precede
// a quote or the closing quote, left alone elsewhere.
std::u16string quote_windows_arg(std::u16string_view arg);

// The arguments quoted and joined by single spaces.
std::u16string join_windows_args(const std::vector<std::u16string>& args);

}  // namespace wd
