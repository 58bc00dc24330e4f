// Shared pieces of the channel tests: the recording callback object and a way to
// bring the command channel up against a broker of the rig.
#ifndef ZOLVO_TESTS_CHANNEL_SUPPORT_H
#define ZOLVO_TESTS_CHANNEL_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "command_channel.h"
#include "command_recorder.h"
#include "rig.h"
#include "sdk_state.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace chantest {

using namespace std::chrono_literals;
using rig::occurrences;

using rig::CommandLog;
using rig::RecordingCommands;

inline std::string join(const std::vector<std::string>& parts) { return rig::joinCall(parts); }

using Sender = rig::CliPublisher;

inline std::string uniqueId(const char* what) {
    static int n = 0;
    return std::string("chan-") + what + "-" + std::to_string(getpid()) + "-" + std::to_string(++n);
}

// Fills the broker settings as a successful init would.
inline void configure(const std::string& uri, const std::string& topic, int receiveTimeoutMs = 100,
                      const std::string& user = "", const std::string& password = "") {
    auto settings = std::make_shared<zolvo_sdk::SdkConfig>(*zolvo_sdk::sdkState().config());
    zolvo_sdk::SdkConfig& c = *settings;
    c.mqttAddress = uri;
    c.mqttUsername = user;
    c.mqttPassword = password;
    c.mqttClientId = uniqueId("client");
    c.mqttTopic = topic;
    c.mqttQos = 1;
    c.mqttTimeout = receiveTimeoutMs;
    c.mqttConnectTimeout = 3;
    c.mqttKeepAliveInterval = 20;
    c.mqttCleanSession = 1;
    zolvo_sdk::sdkState().publish(settings);  // and initialised
}

// Initialised again with the stored settings, as a later init would be.
inline void initialiseAgain() { zolvo_sdk::sdkState().publish(zolvo_sdk::sdkState().config()); }

// Waits until `needle` appears at least `n` times in the captured output.
inline bool waitForCount(const rig::OutputCapture& out, const std::string& needle, size_t n,
                         std::chrono::milliseconds timeout = 10s) {
    return rig::waitUntil([&] { return occurrences(out.text(), needle) >= n; }, timeout);
}

// Starts the channel with the stored settings, as init does.
inline void startChannel() {
    zolvo_sdk::CommandChannel::instance().start(zolvo_sdk::sdkState().config());
}

// Waits until the channel's thread is in its receive loop, not inside a callback.
inline bool waitIdleInReceive() {
    return rig::waitUntil([] { return zolvo_sdk::CommandChannel::instance().idleInReceive(); },
                          10s);
}

// The fixture of the channel's tests: the captured standard output, the log of
// the recording objects, and unInit at the end (with the output of a failed test).
class ChannelTest : public ::testing::Test {
protected:
    rig::OutputCapture out{1};
    CommandLog calls;

    void TearDown() override {
        zolvo_sdk::ZOLVOSDK::unInit();
        if (HasFailure()) std::cerr << "---- captured output\n" << out.text() << std::endl;
    }
};

inline bool waitNoChannelThread(std::chrono::milliseconds timeout = 15s) {
    return rig::waitUntil([] { return zolvo_sdk::CommandChannel::instance().threadCount() == 0; },
                          timeout);
}

}  // namespace chantest

#endif
