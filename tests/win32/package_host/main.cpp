// A host program built from the unpacked Windows package alone, with CMake
// (CMakeLists.txt) and with README.txt's clang recipe (package_host.sh), run
// under wine by the driver: init against <url>, one request, one command
// through its callback object, unInit. Prints, as host.cpp does,
// "R <label> <hex>" lines and "DONE" at its end. Its objects at namespace
// scope have constructors that run before main (iostream's, the callback
// object's, the mutex's), as a charging program's do.
#include <zolvo_sdk/zolvo_sdk.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include "wire_hex.h"

namespace {

std::mutex g_printMutex;

void line(const std::string& text) {
    std::lock_guard<std::mutex> lock(g_printMutex);
    std::cout << text << std::endl;
}

void result(const std::string& label, const std::string& bytes) {
    line("R " + label + " " + wirehex::encode(bytes));
}

std::atomic<bool> g_commandArrived{false};

class Host : public zolvo_sdk::CommandInterface {
public:
    explicit Host(std::string name) : name_(std::move(name)) {}
    const std::string& name() const { return name_; }
    void queryOrder(std::string parkCode, std::string orderId, std::string carNumber) override {
        result("queryOrder-command", parkCode + "|" + orderId + "|" + carNumber);
        g_commandArrived = true;
    }

private:
    std::string name_;
};

// Built before main; the library owns it once it is registered.
Host* const g_host = new Host("package host, " + std::to_string(sizeof(void*) * 8) + "-bit");

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: zolvo_package_host <platform url>" << std::endl;
        return 2;
    }
    line("START " + g_host->name());
    zolvo_sdk::ZOLVOSDK::setCommandInterface(g_host);
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
