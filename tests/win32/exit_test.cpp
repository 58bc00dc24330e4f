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

TEST(ExitTest, UnInitInAGlobalObjectWhileIdle) { checkLinuxExit(ZOLVO_EXIT_HOST_UNINIT, "idle"); }
TEST(ExitTest, UnInitInAGlobalObjectWhileCommandsArrive) {
    checkLinuxExit(ZOLVO_EXIT_HOST_UNINIT, "commands");
}
TEST(ExitTest, UnInitInAGlobalObjectWhileACallbackIsInARequest) {
    checkLinuxExit(ZOLVO_EXIT_HOST_UNINIT, "callback");
}
TEST(ExitTest, GlobalLibraryObjectWhileIdle) { checkLinuxExit(ZOLVO_EXIT_HOST_OBJECT, "idle"); }
TEST(ExitTest, GlobalLibraryObjectWhileCommandsArrive) {
    checkLinuxExit(ZOLVO_EXIT_HOST_OBJECT, "commands");
}
TEST(ExitTest, GlobalLibraryObjectWhileACallbackIsInARequest) {
    checkLinuxExit(ZOLVO_EXIT_HOST_OBJECT, "callback");
}

}  // namespace
