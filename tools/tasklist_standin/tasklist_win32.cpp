// tasklist.exe stand-in for tests under Wine, whose own tasklist prints nothing. Answers
// /FI "PID eq <n>", /FI "IMAGENAME eq <name>", /NH and /FO CSV as Windows does, from a real
// process snapshot, and fails as the real tool does: an "ERROR:" line on standard error and
// status 1, never a "no tasks" answer it could not know. For tests only, never shipped: they
// install it in the Wine prefix's system folder (scripts/wine-run), where the programs under
// test run it from. TASKLIST_STANDIN_MODE=hang|flood|garbage|stderr makes it misbehave, and so
// does TASKLIST_STANDIN_FAIL_WHEN naming a file that exists (it then fails, and adds a line to
// that file), which a test can create and delete while the program that runs the tool goes on.
// TASKLIST_STANDIN_MARK names a file to which each run adds the path of the copy that ran.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "base/win32.h"

#include <tlhelp32.h>

namespace {

std::string narrow(const std::wstring& w) {
    return wd::utf16_to_utf8_lossy(std::u16string(w.begin(), w.end()));
}

bool starts_with_nocase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && wd::equals_ascii_nocase(s.substr(0, prefix.size()), prefix);
}

// Appends this program's own path to the file TASKLIST_STANDIN_MARK names, when it names one:
// a test can tell which copy of the stand-in ran.
void mark_run() {
    wchar_t mark[MAX_PATH] = L"";
    const DWORD n = ::GetEnvironmentVariableW(L"TASKLIST_STANDIN_MARK", mark, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    const auto own = wd::win32::module_path();
    if (!own) return;
    wd::win32::UniqueFile file(::CreateFileW(mark, FILE_APPEND_DATA,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) wd::win32::write_all(file.get(), wd::utf16_to_utf8_lossy(*own) + "\n");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    mark_run();
    wchar_t mode[32] = L"";
    ::GetEnvironmentVariableW(L"TASKLIST_STANDIN_MODE", mode, 32);
    const std::wstring misbehave = mode;
    if (misbehave == L"hang") ::Sleep(INFINITE);
    if (misbehave == L"flood") {
        const std::string block(65536, '7');
        for (;;) std::fwrite(block.data(), 1, block.size(), stdout);
    }
    if (misbehave == L"garbage") {
        std::fputs("\xFF\xFE garbage \"x\",12 \x80\n", stdout);
        return 0;
    }
    const auto fail = [](const char* what) {
        std::fprintf(stderr, "ERROR: %s (error %lu).\n", what, ::GetLastError());
        return 1;
    };
    wchar_t fail_when[MAX_PATH] = L"";
    const DWORD n = ::GetEnvironmentVariableW(L"TASKLIST_STANDIN_FAIL_WHEN", fail_when, MAX_PATH);
    if (n > 0 && n < MAX_PATH && ::GetFileAttributesW(fail_when) != INVALID_FILE_ATTRIBUTES) {
        // A line in the file for each failure, so that a test can count them.
        wd::win32::UniqueFile flag(::CreateFileW(
            fail_when, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (flag) ::WriteFile(flag.get(), "failed\n", 7, &written, nullptr);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return fail("Access denied");
    }

    std::optional<unsigned long> pid_filter;
    std::optional<std::string> image_filter;
    bool header = true;
    bool csv = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = narrow(argv[i]);
        if (wd::equals_ascii_nocase(arg, "/NH")) {
            header = false;
        } else if (wd::equals_ascii_nocase(arg, "/FO") && i + 1 < argc) {
            csv = wd::equals_ascii_nocase(narrow(argv[++i]), "CSV");
        } else if (wd::equals_ascii_nocase(arg, "/FI") && i + 1 < argc) {
            const std::string filter = narrow(argv[++i]);
            if (starts_with_nocase(filter, "PID eq ")) {
                pid_filter = std::stoul(filter.substr(7));
            } else if (starts_with_nocase(filter, "IMAGENAME eq ")) {
                image_filter = filter.substr(13);
            }
        }
    }

    std::vector<std::string> rows;
    wd::win32::UniqueFile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return fail("The process list could not be had");
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!::Process32FirstW(snapshot.get(), &entry)) {
        return fail("The process list could not be read");
    }
    do {
        const std::string name = narrow(entry.szExeFile);
        if (pid_filter && entry.th32ProcessID != *pid_filter) continue;
        if (image_filter && !wd::equals_ascii_nocase(name, *image_filter)) continue;
        const std::string pid = std::to_string(entry.th32ProcessID);
        rows.push_back(csv ? "\"" + name + "\",\"" + pid + "\",\"Console\",\"1\",\"12,345 K\""
                           : name + " " + pid + " Console 1 12,345 K");
    } while (::Process32NextW(snapshot.get(), &entry));
    if (::GetLastError() != ERROR_NO_MORE_FILES) return fail("The process list was cut short");

    if (rows.empty()) {
        std::fputs("INFO: No tasks are running which match the specified criteria.\n", stdout);
        return 0;
    }
    if (misbehave == L"stderr") {
        for (const auto& row : rows) std::fprintf(stderr, "%s\n", row.c_str());
        return 0;
    }
    if (header) {
        std::fputs(csv ? "\"Image Name\",\"PID\",\"Session Name\",\"Session#\",\"Mem Usage\"\n"
                       : "Image Name PID Session Name Session# Mem Usage\n",
                   stdout);
    }
    for (const auto& row : rows) std::printf("%s\n", row.c_str());
    return 0;
}
