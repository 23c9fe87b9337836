#pragma once

// Qt ends the program with an abort when its window system cannot be reached;
// the program asks first, so that it can say so in German instead.

namespace qvb {

// True when the window system Qt is going to use can be reached. When only a
// Wayland display is there and Qt can talk to it, it chooses Wayland for Qt.
bool canOpenDisplay();

}  // namespace qvb
