#include "process/command_line.h"

namespace wd {

std::u16string quote_windows_arg(std::u16string_view arg, bool always) {
    const bool quote =
        always || arg.empty() || arg.find_first_of(u" \t") != std::u16string_view::npos;
    std::u16string out;
    if (quote) out.push_back(u'"');
    std::size_t backslashes = 0;
    for (const char16_t c : arg) {
        if (c == u'\\') {
            ++backslashes;
        } else if (c == u'"') {
            out.append(backslashes + 1, u'\\');  // double the run, then escape the quote
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        out.push_back(c);
    }
    if (quote) {
        out.append(backslashes, u'\\');  // the closing quote must stay a quote
        out.push_back(u'"');
    }
    return out;
}

std::u16string join_windows_args(const std::vector<std::u16string>& args) {
    std::u16string out;
    for (const auto& arg : args) {
        if (!out.empty()) out.push_back(u' ');
        out += quote_windows_arg(arg);
    }
    return out;
}

}  // namespace wd
