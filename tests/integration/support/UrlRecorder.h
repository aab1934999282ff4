#pragma once
// The desktop's handler for the URLs the application hands over (another
// application's schemes, web pages, mail): a stand-in, installed in the test's
// own XDG folders before anything asks the desktop, that records each URL it
// is started with. Lets a test see what would have left the application.

#include <string>
#include <vector>

namespace nimbra::test {

// The URLs handed to the desktop since the process started, oldest first.
std::vector<std::string> urlsHandedToTheDesktop();

}  // namespace nimbra::test
