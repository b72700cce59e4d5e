#include "base/path.h"

#include "base/text.h"

namespace wd {
namespace {

std::u16string_view strip_trailing_separators(std::u16string_view path) {
    while (!path.empty() && is_separator(path.back())) path.remove_suffix(1);
    return path;
}

// Index where the last component of `trimmed` starts (after a separator or a drive colon).
std::size_t last_component_start(std::u16string_view trimmed) {
    for (std::size_t i = trimmed.size(); i > 0; --i) {
        const char16_t c = trimmed[i - 1];
        if (is_separator(c)) return i;
        if (c == u':' && i == 2) return i;  // "C:name"
    }
    return 0;
}

}  // namespace

bool is_separator(char16_t c) {
    return c == u'\\' || c == u'/';
}

Path join(std::u16string_view base, std::u16string_view component) {
    Path out(base);
    if (!out.empty() && !is_separator(out.back())) out.push_back(u'\\');
    out.append(component);
    return out;
}

std::optional<std::u16string_view> final_component(std::u16string_view path) {
    const std::u16string_view trimmed = strip_trailing_separators(path);
    const std::u16string_view last = trimmed.substr(last_component_start(trimmed));
    if (last.empty() || last == u"." || last == u"..") return std::nullopt;
    if (last.size() == 2 && last[1] == u':' && trimmed.size() == 2) return std::nullopt;  // "C:"
    return last;
}

Path with_final_component(std::u16string_view path, std::u16string_view name) {
    if (!final_component(path)) return join(path, name);
    const std::u16string_view trimmed = strip_trailing_separators(path);
    Path out(trimmed.substr(0, last_component_start(trimmed)));
    out.append(name);
    return out;
}

std::optional<Path> parent_folder(std::u16string_view path) {
    if (!final_component(path)) return std::nullopt;
    std::u16string_view trimmed = strip_trailing_separators(path);
    trimmed = trimmed.substr(0, last_component_start(trimmed));
    if (trimmed.empty()) return std::nullopt;
    // Keep the separator of a root ("C:\"), drop it otherwise.
    const std::u16string_view folder = strip_trailing_separators(trimmed);
    if (folder.empty() || (folder.size() == 2 && folder[1] == u':')) return Path(trimmed);
    return Path(folder);
}

bool same_components(std::u16string_view a, std::u16string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    for (;;) {
        const bool a_sep = i < a.size() && is_separator(a[i]);
        const bool b_sep = j < b.size() && is_separator(b[j]);
        if (a_sep != b_sep) return false;
        if (a_sep) {
            while (i < a.size() && is_separator(a[i])) ++i;
            while (j < b.size() && is_separator(b[j])) ++j;
            continue;
        }
        if (i == a.size() || j == b.size()) return i == a.size() && j == b.size();
        if (a[i++] != b[j++]) return false;
    }
}

bool has_folder_part(std::u16string_view program) {
    return program.find_first_of(u"\\/:") != std::u16string_view::npos;
}

bool ends_with_exe(std::u16string_view path) {
    if (path.size() < EXE_EXTENSION.size()) return false;
    return equals_ascii_nocase(utf16_to_utf8_lossy(path.substr(path.size() - EXE_EXTENSION.size())),
                               utf16_to_utf8_lossy(EXE_EXTENSION));
}

Path bare_name_with_exe(std::u16string_view name) {
    Path file(name);
    if (file.find(u'.') == Path::npos) file += EXE_EXTENSION;
    return file;
}

std::string path_display(std::u16string_view path) {
    return utf16_to_utf8_lossy(path);
}

}  // namespace wd
