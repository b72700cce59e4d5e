// The real Win32 world with the roaming and the local folder both moved into a scratch folder,
// so that tests of real files do not share the prefix's folders.
#pragma once

#include "base/win32_world.h"

namespace wd::fakes {

class ScratchWorld : public Win32World {
  public:
    explicit ScratchWorld(Path roaming) : roaming_(std::move(roaming)) {}
    std::optional<Path> known_folder(KnownFolder) override { return roaming_; }

  private:
    Path roaming_;
};

}  // namespace wd::fakes
