// The platform contract on the GTK backend.
#include "contract/ChromeContract.h"
#include "contract/DefaultsContract.h"
#include "contract/HttpContract.h"
#include "contract/RunLoopContract.h"
#include "contract/WebViewContract.h"
#include "integration/support/GtkDriver.h"

namespace nimbra::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Gtk, RunLoopContract, nimbra::test::GtkDriver);
INSTANTIATE_TYPED_TEST_SUITE_P(Gtk, HttpContract, nimbra::test::GtkDriver);
INSTANTIATE_TYPED_TEST_SUITE_P(Gtk, WebViewContract, nimbra::test::GtkDriver);
INSTANTIATE_TYPED_TEST_SUITE_P(Gtk, ChromeContract, nimbra::test::GtkDriver);
INSTANTIATE_TYPED_TEST_SUITE_P(Gtk, DefaultsContract, nimbra::test::GtkDriver);
}  // namespace nimbra::contract
