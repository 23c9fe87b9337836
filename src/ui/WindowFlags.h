#pragma once

#include <Qt>

namespace qvb {

// A small dialog with a title bar but no system buttons: it closes only
// through its own buttons (or Escape, which cancels).
inline constexpr Qt::WindowFlags kToolDialogFlags =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

}  // namespace qvb
