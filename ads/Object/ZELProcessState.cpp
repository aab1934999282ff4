#include "Object/ZELProcessState.h"

#include <utility>

#include "Network/ZELCacheFolder.h"
#include "Object/ZELPreparedBuildPage.h"
#include "Object/ZELSupportScript.h"
#include "Statistics/ZELStatistics.h"
#include "Utility/ZELServerAddresses.h"
#include "platform/Application.h"
#include "platform/Http.h"
#include "platform/NotificationCenter.h"
#include "platform/WebView.h"

namespace {

struct State {
    bool didAppFinishLaunching = false;
    bool didPrewarm = false;
    int liveControllers = 0;
    platform::Observation launch;
};

State& state() {
    // Never destroyed: controllers may go during the exit.
    static State* s = [] {
        auto* p = new State();
        p->launch = platform::NotificationCenter::defaultCenter().observe(
            platform::kApplicationDidFinishLaunchingNotification, nullptr,
            [p](const platform::Notification&) { p->didAppFinishLaunching = true; });
        return p;
    }();
    return *s;
}

}  // namespace

void ZELProcessState::controllerCreated() {
    ++state().liveControllers;
    if (std::exchange(state().didPrewarm, true)) return;
    // The web engine's start is most of a first load; it runs beside whatever
    // the application does before it asks for an ad.
    platform::WebView::prewarm(platform::WebContent::Outside);
    platform::URLConnection::prepare();
    // With a script stored from an earlier run, the request page can be made
    // ready now. It is read from the disk only: nothing goes to the server
    // before the load asks for it, and a load that finds a newer script
    // builds its own page. Without one, a blank page loads meanwhile and runs
    // the script when it comes.
    ZELCacheFolder::prepare();
    if (auto script = ZELSupportScript::storedScript())
        ZELPreparedBuildPage::prepare(*script, ZELServerAddresses::adServerRootURL());
    else ZELPreparedBuildPage::prepareBlank(ZELServerAddresses::adServerRootURL());
}

void ZELProcessState::controllerDestroyed() {
    // The page made ready ahead serves banners; with none left it goes too.
    if (--state().liveControllers == 0) ZELPreparedBuildPage::discard();
}

bool ZELProcessState::didAppFinishLaunching() { return state().didAppFinishLaunching; }

void ZELProcessState::reset() {
    ZELStatistics::releaseSharedStatistics();
    state().didAppFinishLaunching = false;
    state().didPrewarm = false;
    ZELPreparedBuildPage::discard();
}
