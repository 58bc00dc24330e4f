// The checks of the exit hosts built for both systems (tests/win32:
// exit_host.cpp with exit_plugin.cpp), run on Linux (exit_test.cpp) and
// on Windows under wine (tests/win32/driver.cpp).
#ifndef ZOLVO_TESTS_EXIT_CHECKS_H
#define ZOLVO_TESTS_EXIT_CHECKS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rig.h"

namespace exitcheck {

using namespace std::chrono_literals;
using Start = std::function<std::unique_ptr<rig::ChildProcess>(const std::vector<std::string>&)>;

// Runs the host in `mode` (idle, commands, callback) against a platform and a
// broker on loopback, lets main return 7, and checks that the process has
// ended within 2 s of that, with status 7, and that the plug-in's global
// object ran its end.
inline void checkProcessExit(const Start& start, const std::string& mode) {
    rig::CommandSite site("zolvo/exit/" + mode);
    rig::Reply late;  // the request made from inside the callback takes a second
    late.delayMs = 1000;
    site.platform.setReply("/api/order/receive.do", late);

    const auto run = start({mode, site.platform.baseUrl(), "7"});
    ASSERT_TRUE(run->waitFor(site.subscribed(), 60s)) << run->output();
    std::atomic<bool> stop{false};
    std::thread publisher;
    if (mode == "idle") {
        ASSERT_TRUE(run->waitFor("WAIT go", 10s)) << run->output();
        run->send("go");
    } else {
        publisher = std::thread([&] {
            for (int n = 0; !stop; ++n) {
                site.send("{\"command\":\"prePay\",\"orderId\":\"E" + std::to_string(n) +
                          "\",\"carNumber\":\"C\"}");
                std::this_thread::sleep_for(50ms);
            }
        });
    }
    const bool returned = run->waitFor("RETURNING 7", 60s);
    const auto returnedAt = std::chrono::steady_clock::now();
    const int status = run->wait(30s);
    const auto endedAt = std::chrono::steady_clock::now();
    stop = true;
    if (publisher.joinable()) publisher.join();

    const std::string out = run->output();
    ASSERT_TRUE(returned) << out;
    EXPECT_EQ(status, 7) << out;
    EXPECT_LT(endedAt - returnedAt, 2s) << out;
    EXPECT_NE(out.find("PLUGIN-ENDED"), std::string::npos) << out;
    if (mode == "callback") {
        EXPECT_GE(site.platform.requestsTo("/api/order/receive.do").size(), 1u);
    }
}

// Runs an exit host's race `tries` times, four at a time, its destructor spread over
// 0-3 ms after unInit began, against one platform and one broker to which
// commands keep coming, and checks that no channel is alive once the
// destructor has returned: nothing connects, receives or logs after it.
inline void checkTeardownRace(const Start& start, int tries) {
    rig::CommandSite site("zolvo/exit/race");
    std::atomic<bool> stop{false};
    std::thread publisher([&] {
        for (int n = 0; !stop; ++n) {
            site.send("{\"command\":\"prePay\",\"orderId\":\"R" + std::to_string(n) + "\"}");
            std::this_thread::sleep_for(20ms);
        }
    });
    int outlived = 0, initsThatWon = 0;
    for (int first = 0; first < tries; first += 4) {
        std::vector<std::unique_ptr<rig::ChildProcess>> runs;
        for (int i = first; i < std::min(first + 4, tries); ++i)
            runs.push_back(
                start({"race", site.platform.baseUrl(), "0", std::to_string(i * 3000 / tries)}));
        for (auto& run : runs) {
            EXPECT_EQ(run->wait(60s), 0) << run->output();
            const std::string out = run->output();
            const size_t tornDown = out.find("TORN-DOWN");
            if (tornDown == std::string::npos || out.find("END", tornDown) == std::string::npos) {
                ADD_FAILURE() << out;
                continue;
            }
            const std::string after = out.substr(tornDown);
            if (after.find("sub topic: ") != std::string::npos ||
                after.find("eceive ") != std::string::npos) {
                ++outlived;
                ADD_FAILURE() << "a channel outlived the destructor:\n" << out;
            }
            if (out.find("RACED 1") != std::string::npos) ++initsThatWon;
        }
    }
    stop = true;
    publisher.join();
    std::cout << tries << " races, " << initsThatWon << " inits returned 0000, " << outlived
              << " channels outlived the destructor" << std::endl;
}

}  // namespace exitcheck

#endif
