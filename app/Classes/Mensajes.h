#pragma once
// The application's setup: its classes for the interface files, its launch
// options and the contact action shared by the screens.

#include <string>

#include "platform/ApplicationLifecycle.h"

namespace mensajes {

// Makes the application's classes known to the interface files (once).
void registerClasses();
platform::LaunchOptions launchOptions();
// The interface files, page and images: $NIMBRA_RESOURCES_DIR, else the
// folder the build and the installation place beside the program
// (<prefix>/bin/mensajes -> <prefix>/share/mensajes); empty when the
// program's own folder cannot be told.
std::string resourcesDirectory();
// Hands the contact address to the desktop's mail client.
void openContactAddress();

}  // namespace mensajes
