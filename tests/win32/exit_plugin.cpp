// A host's plug-in library that ends ZOLVO_SDK from a global object, as a
// plug-in of a car park's software does when it is unloaded: built twice, one
// whose global object calls unInit in its destructor (EXIT_PLUGIN_UNINIT), one
// whose global object is a ZOLVOSDK (EXIT_PLUGIN_OBJECT). At the process's
// end the object goes with the library, on Windows after every other thread
// of the process is gone. exit_host.cpp is the program that loads it.
//
// It prints "PLUGIN-ENDED <ms>" once the global object's end has returned,
// with the milliseconds it took.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "zolvo_sdk/zolvo_sdk.h"

#ifdef _WIN32
#  define EXIT_PLUGIN_API extern "C" __declspec(dllexport)
#else
#  define EXIT_PLUGIN_API extern "C" __attribute__((visibility("default")))
#endif

using zolvo_sdk::ZOLVOSDK;

namespace {

std::atomic<int> g_commands{0};
std::atomic<bool> g_inRequest{false};
bool g_requestInCallback = false;

// A callback object that counts the commands and, when asked, makes a request
// from inside the first prePay (the platform answers it late).
class Counter : public zolvo_sdk::CommandInterface {
public:
    void queryOrder(std::string, std::string orderId, std::string) override {
        ++g_commands;
        if (g_requestInCallback && !g_inRequest.exchange(true)) {
            ZOLVOSDK::pushOrder(orderId,
                                "\xC9\xC2"
                                "A88888",
                                "20180831123056", "0001", "20180831133056", "0001", 3600, 300);
        }
    }
    void scanQrCodePay(std::string, std::string, std::string, std::string, std::string, std::string,
                       int) override {
        ++g_commands;
    }
    void scanQrEntry(std::string, std::string, std::string, std::string, std::string) override {
        ++g_commands;
    }
    void noticeOfPaymentResult(std::string, std::string, int, int, int, std::string, std::string,
                               std::string, int, std::string) override {
        ++g_commands;
    }
};

using Clock = std::chrono::steady_clock;
Clock::time_point g_endStarted;

void printEnded() {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g_endStarted).count();
    std::printf("PLUGIN-ENDED %lld\n", static_cast<long long>(ms));
    std::fflush(stdout);
}

#ifdef EXIT_PLUGIN_OBJECT
// Destroyed in the reverse order of their definitions: the start mark, then
// the library's object, then the end mark.
struct EndMark {
    ~EndMark() { printEnded(); }
} g_endMark;
ZOLVOSDK g_sdk;
struct StartMark {
    ~StartMark() { g_endStarted = Clock::now(); }
} g_startMark;
#else
struct Ender {
    ~Ender() {
        g_endStarted = Clock::now();
        ZOLVOSDK::unInit();
        printEnded();
    }
} g_ender;
#endif

}  // namespace

// Registers the callback object and initialises against `url`; 1 on success.
EXIT_PLUGIN_API int exit_plugin_start(const char* url, int requestInCallback) {
    g_requestInCallback = requestInCallback != 0;
    ZOLVOSDK::setCommandInterface(new Counter);
    const std::string reply =
        ZOLVOSDK::init("ZOLVO-EXIT", "201808150001", "0001", "A4", "7Hq2Lm9PxW4c", url);
    return reply.find("\"code\":\"0000\"") != std::string::npos ? 1 : 0;
}

// unInit, init and the destructor of a ZOLVOSDK on three threads: init is
// called again until it is no longer refused as already initialised, and the
// destructor runs `delayUs` microseconds after unInit began. Returns 1 when the
// racing init succeeded.
EXIT_PLUGIN_API int exit_plugin_race(const char* url, int delayUs) {
    const auto init = [url] {
        return ZOLVOSDK::init("ZOLVO-EXIT", "201808150001", "0001", "A4", "7Hq2Lm9PxW4c", url);
    };
    const std::string already = init();
    auto* sdk = new ZOLVOSDK;
    std::atomic<bool> unInitBegun{false};
    std::string raced;
    std::thread unInit([&] {
        unInitBegun = true;
        ZOLVOSDK::unInit();
    });
    std::thread again([&] {
        while (!unInitBegun) std::this_thread::yield();
        do raced = init();
        while (raced == already);
    });
    while (!unInitBegun) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
    delete sdk;
    unInit.join();
    again.join();
    return raced.find("\"code\":\"0000\"") != std::string::npos ? 1 : 0;
}

EXIT_PLUGIN_API int exit_plugin_commands() { return g_commands.load(); }

EXIT_PLUGIN_API int exit_plugin_in_request() { return g_inRequest.load() ? 1 : 0; }
