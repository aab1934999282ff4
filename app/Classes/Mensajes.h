#pragma once
// The application's setup: its classes for the interface files, its launch
// options and the contact action shared by the screens.

#include "platform/ApplicationMain.h"

namespace mensajes {

// Makes the application's classes known to the interface files (once).
void registerClasses();
platform::LaunchOptions launchOptions();
// Hands the contact address to the desktop's mail client.
void openContactAddress();

}  // namespace mensajes
