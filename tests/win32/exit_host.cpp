// A program linked with a plug-in library (exit_plugin.cpp) that ends ZOLVO_SDK
// from a global object when the process ends.
//
//   zolvo_exit_host <idle|commands|callback|race> <url> <exit code> [<delay>]
//
// idle: returns from main once a line comes on standard input (after
// "WAIT go"); commands: once three commands have arrived; callback: 300 ms
// after the callback object has gone into its request; race: once a command
// has arrived, races unInit, init and a destructor `delay` microseconds after
// unInit (exit_plugin_race), prints "RACED <1 when init won>" and "TORN-DOWN",
// and a second later "END": time for a channel that outlived the destructor to
// show. Before it returns it prints "RETURNING <exit code>".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

extern "C" int exit_plugin_start(const char* url, int requestInCallback);
extern "C" int exit_plugin_commands();
extern "C" int exit_plugin_in_request();
extern "C" int exit_plugin_race(const char* url, int delayUs);

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
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc != (mode == "race" ? 5 : 4)) {
        std::fputs(
            "usage: zolvo_exit_host <idle|commands|callback|race> <url> <exit code> [<delay>]\n",
            stderr);
        return 2;
    }
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
    } else if (mode == "race") {
        reached = waitUntil([] { return exit_plugin_commands() >= 1; });
        if (reached) {
            say("RACED " + std::to_string(exit_plugin_race(argv[2], std::atoi(argv[4]))));
            say("TORN-DOWN");
            std::this_thread::sleep_for(std::chrono::seconds(1));
            say("END");
        }
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
