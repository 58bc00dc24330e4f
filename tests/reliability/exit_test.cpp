// The hosts built for both systems, run on Linux: a shared library that ends
// the library from a global object at exit keeps ending the process at once,
// and no channel outlives a destructor that races init and unInit.
#include "exit_checks.h"

namespace {

exitcheck::Start linuxStart(const std::string& host) {
    return [host](const std::vector<std::string>& args) {
        std::vector<std::string> argv{host};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<rig::ChildProcess>(argv);
    };
}

void checkLinuxExit(const std::string& host, const std::string& mode) {
    exitcheck::checkProcessExit(linuxStart(host), mode);
}

TEST(Exit, UnInitInAGlobalObjectWhileIdle) { checkLinuxExit(ZOLVO_EXIT_HOST_UNINIT, "idle"); }
TEST(Exit, UnInitInAGlobalObjectWhileCommandsArrive) {
    checkLinuxExit(ZOLVO_EXIT_HOST_UNINIT, "commands");
}
TEST(Exit, UnInitInAGlobalObjectWhileACallbackIsInARequest) {
    checkLinuxExit(ZOLVO_EXIT_HOST_UNINIT, "callback");
}
TEST(Exit, GlobalLibraryObjectWhileIdle) { checkLinuxExit(ZOLVO_EXIT_HOST_OBJECT, "idle"); }
TEST(Exit, GlobalLibraryObjectWhileCommandsArrive) {
    checkLinuxExit(ZOLVO_EXIT_HOST_OBJECT, "commands");
}
TEST(Exit, GlobalLibraryObjectWhileACallbackIsInARequest) {
    checkLinuxExit(ZOLVO_EXIT_HOST_OBJECT, "callback");
}

// unInit, init and the destructor on three threads: no channel outlives the
// destructor, also when the init won the race.
TEST(Exit, NoChannelOutlivesADestructorRacingInitAndUnInit) {
    exitcheck::checkTeardownRace(linuxStart(ZOLVO_EXIT_HOST_UNINIT), 60);
}

}  // namespace
