// The broker going away and coming back ten times during a stream of numbered
// commands: the channel comes back each time, and every command published
// while it was connected reaches the callback object exactly once.
#include <gtest/gtest.h>

#include <iostream>

#include "command_channel.h"
#include "reliability_support.h"
#include "sdk_state.h"

using namespace reltest;

namespace {

TEST(BrokerFault, TenRestartsDuringACommandStreamLoseNothing) {
    constexpr int kRestarts = 10;
    constexpr int kPerConnection = 12;
    BrokerSite site("restart");
    rig::CliPublisher sender(site.broker.port());
    zolvo_sdk::CommandChannel::instance().setReconnectWait(100ms);
    const rig::OutputCapture& out = site.console.out();
    CommandLog census;
    ZOLVOSDK::setCommandInterface(new RecordingCommands(census));
    ASSERT_TRUE(succeeded(initAgainst(site.platform.baseUrl())));

    int published = 0;
    std::multiset<std::string> expected;
    for (int connection = 0; connection <= kRestarts; ++connection) {
        ASSERT_TRUE(
            rig::waitUntil([&] { return site.subscriptions() >= size_t(connection) + 1; }, 20s))
            << "channel not back after restart " << connection;
        // A stream of commands while connected; each publish is acknowledged by
        // the broker before the next.
        for (int i = 0; i < kPerConnection; ++i) {
            const std::string id = "cmd-" + std::to_string(++published);
            ASSERT_TRUE(sender.publish(site.settings.topic, prePay(id)));
            expected.insert(id);
        }
        ASSERT_TRUE(rig::waitUntil([&] { return census.commands >= published; }, 20s))
            << census.commands << " of " << published << " commands arrived";
        if (connection == kRestarts) break;
        site.broker.stop();
        ASSERT_TRUE(rig::waitUntil(
            [&] {
                return occurrences(out.text(), "Network connection exception ! \n") >=
                       size_t(connection) + 1;
            },
            10s));
        site.broker.start();
    }

    // A duplicate would arrive before the end marker.
    ASSERT_TRUE(rig::endMarkerArrives(census, sender, site.settings.topic));
    expected.insert("END");
    {
        std::lock_guard<std::mutex> lock(census.mutex);
        EXPECT_EQ(census.orderIds, expected);  // none lost, none twice
    }
    EXPECT_EQ(occurrences(out.text(), "again connect success \n"), size_t(kRestarts));
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 1u);
    EXPECT_FALSE(zolvo_sdk::CommandChannel::instance().mqttStarted());

    { ZOLVOSDK teardown; }
    EXPECT_TRUE(census.eachDeletedOnce());
    EXPECT_EQ(census.callsAfterDelete, 0);
    site.console.note("figures: broker restarts " + std::to_string(kRestarts) +
                      ", commands published while connected " + std::to_string(published) +
                      ", received " + std::to_string(census.commands - 1) + " and the end marker");
}

}  // namespace
