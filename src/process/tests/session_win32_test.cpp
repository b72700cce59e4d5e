#include "process/session_win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace wd::win32 {
namespace {

// What the fake query hands out, and how often the buffer came back.
struct Fake {
    BOOL ok = TRUE;
    bool null_buffer = false;
    DWORD bytes = sizeof(WTSINFOW);
    LONGLONG logon = 0;
    int frees = 0;
    std::vector<unsigned char> storage = std::vector<unsigned char>(sizeof(WTSINFOW) + 16);
    DWORD session = 0;
    WTS_INFO_CLASS info_class = WTSInitialProgram;
};
Fake fake;

BOOL WINAPI fake_query(HANDLE server, DWORD session, WTS_INFO_CLASS c, LPWSTR* buffer,
                       DWORD* bytes) {
    EXPECT_EQ(server, WTS_CURRENT_SERVER_HANDLE);
    EXPECT_EQ(*buffer, nullptr);
    EXPECT_EQ(*bytes, 0u);
    fake.session = session;
    fake.info_class = c;
    if (!fake.ok) return FALSE;
    WTSINFOW info{};
    info.LogonTime.QuadPart = fake.logon;
    std::memcpy(fake.storage.data(), &info, sizeof info);
    *buffer = fake.null_buffer ? nullptr : reinterpret_cast<LPWSTR>(fake.storage.data());
    *bytes = fake.bytes;
    return TRUE;
}
void WINAPI fake_free(PVOID) {
    ++fake.frees;
}

TEST(SessionLogonTime, BufferRules) {
    const struct {
        const char* name;
        BOOL ok;
        bool null_buffer;
        DWORD bytes;
        LONGLONG logon;
        std::optional<std::int64_t> want;
        int frees;
    } cases[] = {
        {"query fails: nothing to free", FALSE, false, 0, 133'000'000'000'000'001, std::nullopt, 0},
        {"null buffer is still freed", TRUE, true, sizeof(WTSINFOW), 5, std::nullopt, 1},
        {"short buffer", TRUE, false, sizeof(WTSINFOW) - 1, 5, std::nullopt, 1},
        {"zero means none", TRUE, false, sizeof(WTSINFOW), 0, std::nullopt, 1},
        {"raw value passed on", TRUE, false, sizeof(WTSINFOW), 133'000'000'000'000'001,
         133'000'000'000'000'001, 1},
        {"longer buffer is fine", TRUE, false, sizeof(WTSINFOW) + 16, -7, -7, 1},
    };
    static_assert(sizeof(WTSINFOW) == 216, "the size the buffer rule checks against");
    for (const auto& c : cases) {
        fake = Fake{};
        fake.ok = c.ok;
        fake.null_buffer = c.null_buffer;
        fake.bytes = c.bytes;
        fake.logon = c.logon;
        EXPECT_EQ(session_logon_time(SessionQuery{fake_query, fake_free}), c.want) << c.name;
        EXPECT_EQ(fake.frees, c.frees) << c.name;
        EXPECT_EQ(fake.session, WTS_CURRENT_SESSION) << c.name;
        EXPECT_EQ(fake.info_class, WTSSessionInfo) << c.name;
    }
}

TEST(SessionLogonTime, RealQueryFailsUnderWineAndGivesNone) {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr || ::GetProcAddress(ntdll, "wine_get_version") == nullptr) {
        GTEST_SKIP() << "not running under Wine";
    }
    EXPECT_EQ(Win32World().session_logon_time(), std::nullopt);
}

}  // namespace
}  // namespace wd::win32
