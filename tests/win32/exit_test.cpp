// The exit hosts built for Linux: a shared library that ends the library from
// a global object at exit keeps ending the process at once.
#include "exit_checks.h"

namespace {

void checkLinuxExit(const std::string& host, const std::string& mode) {
    exitcheck::checkProcessExit(
        [&](const std::vector<std::string>& args) {
            std::vector<std::string> argv{host};
            argv.insert(argv.end(), args.begin(), args.end());
            return std::make_unique<hostrun::HostProcess>(argv,
                                                          hostrun::HostProcess::Environment{});
        },
        mode);
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

}  // namespace
