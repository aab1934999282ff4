#pragma once
// The program's entry on the desktop, with the GTK backend. What it launches
// is described by the toolkit-neutral LaunchOptions (ApplicationLifecycle.h).

#include "platform/ApplicationLifecycle.h"

namespace platform {

// The program's entry on the desktop: installs the toolkit backend, launches
// and runs the main loop until the window closes. Returns the exit status: 1
// when there is no display, or no input seat to use the application with.
int applicationMain(int argc, char** argv, const LaunchOptions& options);

}  // namespace platform
