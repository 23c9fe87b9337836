#pragma once

// What the program tells the desktop over D-Bus: logind keeps the computer
// awake while a run writes, and the notification service shows the end of a
// run nobody watched. Both may be missing (no logind in a container, no
// desktop for a background timer): then nothing happens but a trace line.

#include <cstdint>
#include <string>

#include "util/Sys.h"

namespace qvb {

// The icon name of the installed program.
inline const std::string kProgramIcon = "de.nerk.QV_Backup";

// logind's "sleep" inhibitor in the mode "block": it lasts as long as the
// descriptor logind hands over, so the kernel lets go of it however the
// program ends.
class TSleepInhibitor {
  public:
    // Empty when the inhibitor is held, else the German reason why not.
    std::string acquire();
    void release() { fLock.reset(); }
    bool held() const { return fLock.valid(); }

  private:
    sys::UniqueFd fLock;
};

struct TNotice {
    std::string summary;
    std::string body;
};

// Shows `notice` through the desktop's notification service under the name
// "QV_Backup" with the program's icon; the notification's number, or 0 with
// the German reason in `trace` when no service took it.
uint32_t sendNotice(const TNotice& notice, std::string& trace);

}  // namespace qvb
