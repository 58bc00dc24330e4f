// A host that races the library's three ends against each other, built for
// Linux and for Windows: one thread calls unInit, one calls init again until
// it is no longer refused as already initialised, and one destroys a ZOLVOSDK
// `delay` microseconds after unInit began.
//
//   zolvo_race_host <url> <delay in microseconds>
//
// It prints "READY" once a command has reached its callback object, then
// "RACED <code>" with the racing init's result code, "TORN-DOWN" once the
// destructor and both threads have returned, and "END" a second later: time
// enough for a channel that outlived the teardown to connect and receive the
// commands that the driver keeps publishing.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "zolvo_sdk/zolvo_sdk.h"

namespace {

using zolvo_sdk::ZOLVOSDK;

std::atomic<int> g_commands{0};

class Counter : public zolvo_sdk::CommandInterface {
public:
    void queryOrder(std::string, std::string, std::string) override { ++g_commands; }
};

void say(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

std::string init(const std::string& url) {
    return ZOLVOSDK::init("ZOLVO-RACE", "201808150001", "0001", "A4", "7Hq2Lm9PxW4c", url);
}

std::string codeOf(const std::string& result) {
    const std::string key = "\"code\":\"";
    const size_t at = result.find(key);
    return at == std::string::npos ? result : result.substr(at + key.size(), 4);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: zolvo_race_host <url> <delay in microseconds>\n", stderr);
        return 2;
    }
    const std::string url = argv[1];
    const auto delay = std::chrono::microseconds(std::atoi(argv[2]));
    ZOLVOSDK::setCommandInterface(new Counter);
    if (codeOf(init(url)) != "0000") return 3;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (g_commands.load() == 0) {
        if (std::chrono::steady_clock::now() > end) return 4;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Initialised: what a second init answers now.
    const std::string already = init(url);
    say("READY");

    auto* sdk = new ZOLVOSDK;
    std::atomic<bool> unInitBegun{false};
    std::string raced;
    std::thread c([&] {
        unInitBegun = true;
        ZOLVOSDK::unInit();
    });
    std::thread b([&] {
        while (!unInitBegun.load()) std::this_thread::yield();
        // Refused as already initialised until unInit has cleared the flag.
        do raced = init(url);
        while (raced == already);
    });
    while (!unInitBegun.load()) std::this_thread::yield();
    std::this_thread::sleep_for(delay);
    delete sdk;
    c.join();
    b.join();
    say("RACED " + codeOf(raced));
    say("TORN-DOWN");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    say("END");
    return 0;
}
