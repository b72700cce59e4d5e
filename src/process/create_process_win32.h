// Process creation shared by the tool runs and the player child: CreateProcessW with its
// handles owned on the line after, and copies of the watchdog's standard handles for a child
// that inherits them.
#pragma once

#include <array>
#include <string>
#include <variant>

#include "base/path.h"
#include "base/win32.h"

namespace wd::win32 {

struct Started {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD pid = 0;
};

// Starts `program` with `command_line` (which must hold no NUL), inheriting handles; the
// started process, or the system error.
std::variant<Started, DWORD> create_process(const Path& program, const std::u16string& command_line,
                                            DWORD flags, STARTUPINFOW& si);

// Inheritable copies of the watchdog's standard handles (those it has), closed with this.
class InheritedStdHandles {
  public:
    InheritedStdHandles();
    void fill(STARTUPINFOW& si) const;

  private:
    std::array<UniqueHandle, 3> handles_;
};

// "<system message> (os error <n>)", the message without its line break.
std::string os_error_text(std::uint32_t error);

}  // namespace wd::win32
