// The single-instance claim for Win32World: a named mutex made to be this user's alone, held
// for the life of the process. Any account can create a name in Global\ first, so a mutex
// found under the name counts only when this user owns it.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/win32.h"
#include "base/win32_world.h"

// After <windows.h>, which base/win32.h brings.
#include <aclapi.h>
#include <sddl.h>

namespace wd {
namespace {

struct LocalFreer {
    void operator()(void* p) const { ::LocalFree(p); }
};
template <class T>
using LocalPtr = std::unique_ptr<T, LocalFreer>;

// This process's user, as a SID copied into a buffer of its own.
std::optional<std::vector<BYTE>> own_user_sid() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return std::nullopt;
    const win32::UniqueHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) return std::nullopt;
    std::vector<BYTE> info(size);
    if (!::GetTokenInformation(token.get(), TokenUser, info.data(), size, &size)) {
        return std::nullopt;
    }
    PSID sid = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
    std::vector<BYTE> copy(::GetLengthSid(sid));
    if (!::CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid)) return std::nullopt;
    return copy;
}

// A security descriptor with the user as its owner and access for the user alone.
LocalPtr<void> user_only_descriptor(PSID user) {
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(user, &text)) return nullptr;
    const LocalPtr<wchar_t> sid(text);
    const std::wstring sddl = std::wstring(L"O:") + sid.get() + L"D:P(A;;GA;;;" + sid.get() + L")";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        return nullptr;
    }
    return LocalPtr<void>(descriptor);
}

// Whether the object's owner is this user; false when it cannot be read or there is none.
bool owned_by(HANDLE object, PSID user) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR raw = nullptr;
    if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                          nullptr, nullptr, &raw) != ERROR_SUCCESS) {
        return false;
    }
    const LocalPtr<void> descriptor(raw);
    return owner != nullptr && ::EqualSid(owner, user);
}

}  // namespace

InstanceClaim Win32World::claim_instance(std::u16string_view name) {
    // Held for the life of the process: never closed, released by the system at its end.
    static win32::UniqueHandle held;
    auto user = own_user_sid();
    if (!user) return InstanceClaim::Unavailable;
    const LocalPtr<void> descriptor = user_only_descriptor(user->data());
    if (!descriptor) return InstanceClaim::Unavailable;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    const std::wstring wide = win32::to_wide(name);
    win32::UniqueHandle mutex(::CreateMutexW(&attributes, FALSE, wide.c_str()));
    const DWORD error = ::GetLastError();
    // Access denied: the name exists, made by another account for itself.
    if (!mutex)
        return error == ERROR_ACCESS_DENIED ? InstanceClaim::Foreign : InstanceClaim::Unavailable;
    if (error == ERROR_ALREADY_EXISTS && !owned_by(mutex.get(), user->data())) {
        return InstanceClaim::Foreign;
    }
    switch (::WaitForSingleObject(mutex.get(), 0)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // its last owner ended without letting go
            held = std::move(mutex);
            return InstanceClaim::Owned;
        case WAIT_TIMEOUT:
            return InstanceClaim::Taken;
        default:
            return InstanceClaim::Unavailable;
    }
}

}  // namespace wd
