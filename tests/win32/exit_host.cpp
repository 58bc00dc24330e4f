// A program linked with a plug-in library (exit_plugin.cpp) that ends ZOLVO_SDK
// from a global object when the process ends.
//
//   zolvo_exit_host <idle|commands|callback> <url> <exit code>
//
// idle: returns from main once a line comes on standard input (after
// "WAIT go"); commands: once three commands have arrived; callback: 300 ms
// after the callback object has gone into its request. Before it returns it prints
// "RETURNING <exit code>".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

extern "C" int exit_plugin_start(const char* url, int requestInCallback);
extern "C" int exit_plugin_commands();
extern "C" int exit_plugin_in_request();

namespace {

void say(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

template <typename Condition>
bool waitUntil(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: zolvo_exit_host <idle|commands|callback> <url> <exit code>\n", stderr);
        return 2;
    }
    const std::string mode = argv[1];
    const int code = std::atoi(argv[3]);
    if (exit_plugin_start(argv[2], mode == "callback" ? 1 : 0) != 1) {
        say("INIT-FAILED");
        return 3;
    }
    say("READY " + mode);
    bool reached = true;
    if (mode == "idle") {
        say("WAIT go");
        char line[64];
        reached = std::fgets(line, sizeof line, stdin) != nullptr;
    } else if (mode == "commands") {
        reached = waitUntil([] { return exit_plugin_commands() >= 3; });
    } else if (mode == "callback") {
        reached = waitUntil([] { return exit_plugin_in_request() == 1; });
        // The request reaches the platform, which answers it a second later.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } else {
        return 2;
    }
    if (!reached) {
        say("NOT-REACHED");
        return 4;
    }
    say("RETURNING " + std::to_string(code));
    return code;
}
