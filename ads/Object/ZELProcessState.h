#pragma once
// What the component learns once per process: whether the platform has
// announced the end of the launch, whether the web engine has been started
// ahead, and how many ad controllers live (the request page made ready ahead
// serves them all and goes with the last).

class ZELProcessState {
public:
    ZELProcessState() = delete;

    // The first controller of the process starts the web engine and, with a
    // script stored from an earlier run, makes the request page ready.
    static void controllerCreated();
    static void controllerDestroyed();
    // While the launch is under way the application counts as active.
    static bool didAppFinishLaunching();
    // Forgets it all (the shared statistics saved first), for a test that
    // starts afresh.
    static void reset();
};
