// The broker going away and coming back ten times during a stream of numbered
// commands: the channel comes back each time, and every command published
// while it was connected reaches the callback object exactly once.
#include <gtest/gtest.h>

#include <iostream>
#include <thread>

#include "channel_control.h"
#include "reliability_support.h"
#include "sdk_state.h"

using namespace reltest;

namespace {

TEST(BrokerFault, TenRestartsDuringACommandStreamLoseNothing) {
    constexpr int kRestarts = 10;
    constexpr int kPerConnection = 12;
    rig::Broker broker;
    rig::CliPublisher sender(broker.port());
    rig::PlatformServer platform;
    InitSettings settings;
    settings.uri = broker.uri();
    settings.topic = uniqueTopic("restart");
    rig::Reply init;
    init.body = initReply(settings);
    platform.setReply("/api/client/init.do", init);
    zolvo_sdk::setReconnectWaitForTesting(100ms);

    Console console;
    const rig::OutputCapture& out = console.out();
    Census census;
    ZOLVOSDK::setCommandInterface(new Counted(census));
    ASSERT_TRUE(succeeded(initAgainst(platform.baseUrl())));
    const std::string subscribed = "sub topic: " + settings.topic + " ,return code : 0\n";
    auto subscriptions = [&] { return occurrences(out.text(), subscribed); };

    int published = 0;
    std::multiset<std::string> expected;
    for (int connection = 0; connection <= kRestarts; ++connection) {
        ASSERT_TRUE(rig::waitUntil([&] { return subscriptions() >= size_t(connection) + 1; }, 20s))
            << "channel not back after restart " << connection;
        // A stream of commands while connected; each publish is acknowledged by
        // the broker before the next.
        for (int i = 0; i < kPerConnection; ++i) {
            const std::string id = "cmd-" + std::to_string(++published);
            ASSERT_TRUE(sender.publish(settings.topic, prePay(id)));
            expected.insert(id);
        }
        ASSERT_TRUE(rig::waitUntil([&] { return census.commands >= published; }, 20s))
            << census.commands << " of " << published << " commands arrived";
        if (connection == kRestarts) break;
        broker.stop();
        ASSERT_TRUE(rig::waitUntil(
            [&] {
                return occurrences(out.text(), "Network connection exception ! \n") >=
                       size_t(connection) + 1;
            },
            10s));
        broker.start();
    }

    std::this_thread::sleep_for(300ms);  // a duplicate would arrive meanwhile
    {
        std::lock_guard<std::mutex> lock(census.mutex);
        EXPECT_EQ(census.orderIds, expected);  // none lost, none twice
    }
    EXPECT_EQ(occurrences(out.text(), "again connect success \n"), size_t(kRestarts));
    EXPECT_EQ(zolvo_sdk::channelThreadCountForTesting(), 1u);
    EXPECT_FALSE(zolvo_sdk::sdkState().mqttStarted);

    { ZOLVOSDK teardown; }
    EXPECT_TRUE(census.eachDeletedOnce());
    EXPECT_EQ(census.callsAfterDelete, 0);
    console.note("figures: broker restarts " + std::to_string(kRestarts) +
                 ", commands published while connected " + std::to_string(published) +
                 ", received " + std::to_string(census.commands));
}

}  // namespace
