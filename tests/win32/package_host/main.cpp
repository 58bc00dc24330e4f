// A host program built from the unpacked Windows package alone (see
// CMakeLists.txt), run under wine by the driver: init against <url>, one
// request, one command through its callback object, unInit. Prints, as
// host.cpp does, "R <label> <hex>" lines and "DONE" at its end.
#include <zolvo_sdk/zolvo_sdk.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "wire_hex.h"

namespace {

std::mutex g_printMutex;

void line(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_printMutex);
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void result(const std::string& label, const std::string& bytes) {
    line("R " + label + " " + wirehex::encode(bytes));
}

std::atomic<bool> g_commandArrived{false};

class Host : public zolvo_sdk::CommandInterface {
public:
    void queryOrder(std::string parkCode, std::string orderId, std::string carNumber) override {
        result("queryOrder-command", parkCode + "|" + orderId + "|" + carNumber);
        g_commandArrived = true;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: zolvo_package_host <platform url>\n", stderr);
        return 2;
    }
    zolvo_sdk::ZOLVOSDK::setCommandInterface(new Host);
    result("init", zolvo_sdk::ZOLVOSDK::init("ZOLVO-WIN32", "201808150001", "0001", "A4",
                                             "7Hq2Lm9PxW4c", argv[1]));
    result("queryOrder", zolvo_sdk::ZOLVOSDK::queryOrder("201808310001"));
    line("READY command");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!g_commandArrived && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result("command", g_commandArrived ? "yes" : "no");
    const auto started = std::chrono::steady_clock::now();
    zolvo_sdk::ZOLVOSDK::unInit();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
    result("unInit-ms", std::to_string(ms));
    line("DONE");
    return 0;
}
