// Connecting, losing the broker, reconnecting and giving up, against real brokers.
#include <gtest/gtest.h>

#include <thread>

#include "channel_support.h"

using namespace chantest;
using zolvo_sdk::MqttCommandClient;
using zolvo_sdk::ZOLVOSDK;

namespace {

class Connection : public ChannelTest {
protected:
    // The lines from the first occurrence of `first` on.
    std::string from(const std::string& first) {
        std::string text = out.text();
        size_t p = text.find(first);
        return p == std::string::npos ? std::string() : text.substr(p);
    }
};

// A broker that is down at the start is tried again as a lost one is, until it
// comes up; unInit ends the wait at once.
TEST_F(Connection, BrokerDownAtTheStartIsTriedAgainUntilItComesUp) {
    rig::Broker broker;
    Sender sender(broker.port());
    const std::string topic = uniqueId("topic");
    broker.stop();
    configure(broker.uri(), topic);
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    startChannel();  // the product's wait of one minute
    ASSERT_TRUE(out.waitFor("Failed to connect, return code -1\nbegin again connect\n", 10s));
    auto t0 = std::chrono::steady_clock::now();
    ZOLVOSDK::unInit();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 0u);
    EXPECT_FALSE(zolvo_sdk::CommandChannel::instance().client()->hasHandle());

    zolvo_sdk::CommandChannel::instance().setReconnectWait(300ms);
    initialiseAgain();
    startChannel();
    ASSERT_TRUE(waitForCount(out, "begin again connect\n", 2));
    broker.start();
    ASSERT_TRUE(out.waitFor("again connect [start subscribe] \n", 10s));
    EXPECT_EQ(occurrences(out.text(), "sub topic: " + topic + " ,return code : 0\n"), 1u);
    ASSERT_TRUE(sender.publish(topic, R"({"command":"prePay","orderId":"late broker"})"));
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 1; }, 10s));
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||late broker|");
}

TEST_F(Connection, LostBrokerIsReconnectedAndReceivingResumes) {
    rig::Broker broker;
    Sender sender(broker.port());
    std::string topic = uniqueId("topic");
    zolvo_sdk::CommandChannel::instance().setReconnectWait(300ms);
    configure(broker.uri(), topic);
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    startChannel();
    ASSERT_TRUE(out.waitFor("sub topic: " + topic + " ,return code : 0\n", 10s));
    // A receive time-out without a message is written, and receiving goes on.
    ASSERT_TRUE(out.waitFor("Receive message failed ==> 0\n", 5s));

    broker.stop();
    ASSERT_TRUE(out.waitFor("begin again connect\n", 10s));
    EXPECT_NE(from("Receive message failed ==> -3\n")
                  .find("Receive message failed ==> -3\nNetwork connection exception ! \n"
                        "call againConnect()\nbegin again connect\n"),
              std::string::npos)
        << out.text();
    // While the broker is away every attempt fails with -1 and the next one follows.
    ASSERT_TRUE(waitForCount(out, "Failed to connect, return code -1\n", 2));
    EXPECT_FALSE(zolvo_sdk::CommandChannel::instance().mqttStarted());

    broker.start();
    ASSERT_TRUE(out.waitFor("again connect [start subscribe] \n", 10s));
    EXPECT_NE(from("begin again connect\n")
                  .find("sub topic: " + topic +
                        " ,return code : 0\nagain connect success \n"
                        "again connect [start subscribe] \n"),
              std::string::npos)
        << out.text();
    ASSERT_TRUE(sender.publish(topic, R"({"command":"prePay","orderId":"back"})"));
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 1; }, 10s));
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||back|");
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().threadCount(), 1u);
}

TEST_F(Connection, ReconnectionRefusedByTheBrokerEndsTheChannelForGood) {
    rig::Broker::Options options;
    options.allowAnonymous = false;
    options.users = {{"park", "secret"}};
    rig::Broker broker(options);
    zolvo_sdk::CommandChannel::instance().setReconnectWait(200ms);
    configure(broker.uri(), uniqueId("topic"), 100, "park", "secret");
    startChannel();
    ASSERT_TRUE(out.waitFor("sub topic: ", 10s));

    broker.setUsers({{"park", "another password"}});  // restarts the broker
    ASSERT_TRUE(out.waitFor("end again connect\n", 15s));
    ASSERT_TRUE(waitNoChannelThread());
    std::string tail = from("begin again connect\n");
    const std::string failed = "Failed to connect, return code ";
    size_t last = tail.rfind(failed);
    ASSERT_NE(last, std::string::npos) << tail;
    size_t lineEnd = tail.find('\n', last);
    ASSERT_NE(lineEnd, std::string::npos);
    EXPECT_EQ(tail.substr(lineEnd + 1), "end again connect\n");
    int code = std::stoi(tail.substr(last + failed.size(), lineEnd - last - failed.size()));
    EXPECT_GE(code, 1);
    EXPECT_LE(code, 5);
    EXPECT_TRUE(zolvo_sdk::CommandChannel::instance().mqttStarted());
    // No further attempt follows.
    size_t attempts = occurrences(out.text(), "Failed to connect, return code ");
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(occurrences(out.text(), "Failed to connect, return code "), attempts);
}

TEST_F(Connection, RefusedSubscriptionStillConnectsAndDisconnectIsIdempotent) {
    rig::Broker broker;
    // A quality of service the client library refuses: the subscription fails
    // while the connection stands.
    MqttCommandClient client(broker.uri(), "", "", uniqueId("client"), "park/commands", 3, 100, 3,
                             20, 1, 0, "");
    client.disconnect();  // before any connect: nothing
    EXPECT_FALSE(client.hasHandle());
    EXPECT_EQ(client.connect(), 0);
    EXPECT_TRUE(client.hasHandle());
    EXPECT_EQ(out.text().find("sub topic: "), std::string::npos) << out.text();
    client.disconnect();
    EXPECT_FALSE(client.hasHandle());
    client.disconnect();
    EXPECT_FALSE(client.hasHandle());

    MqttCommandClient accepted(broker.uri(), "", "", uniqueId("client"), "park/commands", 1, 100, 3,
                               20, 1, 0, "");
    EXPECT_EQ(accepted.connect(), 0);
    EXPECT_NE(out.text().find("sub topic: park/commands ,return code : 0\n"), std::string::npos);
    accepted.disconnect();
}

// The topic is subscribed up to a NUL inside the setting, and the line names
// what was subscribed.
TEST_F(Connection, TopicSettingWithANulIsSubscribedAndLoggedUpToTheNul) {
    rig::Broker broker;
    Sender sender(broker.port());
    const std::string topic = uniqueId("topic");
    configure(broker.uri(), topic + std::string(1, '\0') + "/rest");
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    startChannel();
    ASSERT_TRUE(out.waitFor(" ,return code : 0\n", 10s));
    EXPECT_NE(out.text().find("sub topic: " + topic + " ,return code : 0\n"), std::string::npos)
        << out.text();
    EXPECT_EQ(out.text().find("/rest"), std::string::npos) << out.text();
    ASSERT_TRUE(sender.publish(topic, R"({"command":"prePay","orderId":"short topic"})"));
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 1; }, 10s));
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||short topic|");
}

TEST_F(Connection, LongBrokerSettingsAreKeptWhole) {
    const std::string password(300, 'p');
    const std::string user = "user-" + std::string(295, 'u');
    const std::string topic = "cmd/" + std::string(296, 't');
    rig::Broker::Options options;
    options.allowAnonymous = false;
    options.users = {{user, password}};
    rig::Broker broker(options);
    Sender sender(broker.port(), user, password);
    configure(broker.uri(), topic, 100, user, password);
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    startChannel();
    ASSERT_TRUE(out.waitFor("sub topic: " + topic + " ,return code : 0\n", 10s));
    ASSERT_TRUE(sender.publish(topic, R"({"command":"prePay","orderId":"long"})"));
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 1; }, 10s));
    ZOLVOSDK::unInit();
    ASSERT_NE(zolvo_sdk::CommandChannel::instance().client(), nullptr);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().client()->password, password);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().client()->username, user);
    EXPECT_EQ(zolvo_sdk::CommandChannel::instance().client()->topic, topic);
}

}  // namespace
