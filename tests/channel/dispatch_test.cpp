// Commands from a real broker to the registered callback object or function.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <stdexcept>

#include "channel_support.h"

using namespace chantest;
using zolvo_sdk::ZOLVOSDK;

namespace {

class Dispatch : public ::testing::Test {
protected:
    rig::Broker broker;
    std::string topic = uniqueId("topic");
    rig::OutputCapture out{1};
    Sender sender{broker.port()};
    CommandLog calls;

    void start() {
        configure(broker.uri(), topic);
        startChannel();
        ASSERT_TRUE(out.waitFor("sub topic: " + topic + " ,return code : 0", 10s));
    }
    void send(const std::string& payload) { ASSERT_TRUE(sender.publish(topic, payload)); }
    // A last command that the recorder sees once everything before it was handled.
    void sendEndAndWait(size_t expectedCalls) {
        send(R"({"command":"prePay","orderId":"END"})");
        ASSERT_TRUE(rig::waitUntil([&] { return calls.count() >= expectedCalls; }, 10s))
            << join(calls.snapshot());
    }
    void TearDown() override {
        ZOLVOSDK::unInit();
        if (HasFailure()) std::cerr << "---- captured output\n" << out.text() << std::endl;
    }
};

TEST_F(Dispatch, EachCommandReachesItsFunctionWithArgumentsInOrder) {
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    start();
    send(R"({"command":"prePay","orderId":"O1","carNumber":"C1","parkCode":"P1"})");
    send(R"({"command":"qrCodePay","parkCode":"P2","sysCode":"S2","channel":"CH2",)"
         R"("scanNumber":"SN2","orderId":"O2","carNumber":"C2","tempCar":1})");
    send(R"({"parkCode":"P3","sysCode":"S3","channel":"CH3","carNumber":"C3",)"
         R"("scanNumber":"SN3","command":"qrCodeEntry"})");
    // Texts pass as the payload's bytes: no code-page conversion on this road.
    send(R"({"command":"payNotice","orderId":"O4","carNumber":"京A12345","payStatus":1,)"
         R"("payAmount":1500,"duration":3600,"inTime":"20180831123056",)"
         R"("outTime":"20180831133056","payTime":"20180831133000","payMethod":2,)"
         R"("parkCode":"P4","extra":"ignored"})");
    sendEndAndWait(5);
    std::vector<std::string> expected = {
        "queryOrder|P1|O1|C1",
        "scanQrCodePay|P2|S2|CH2|SN2|O2|C2|1",
        "scanQrEntry|P3|S3|CH3|C3|SN3",
        "noticeOfPaymentResult|O4|京A12345|1|1500|3600|20180831123056|20180831133056|"
        "20180831133000|2|P4",
        "queryOrder||END|",
    };
    EXPECT_EQ(calls.snapshot(), expected);
    EXPECT_NE(
        out.text().find(
            R"(receive Message : {"command":"prePay","orderId":"O1","carNumber":"C1","parkCode":"P1"})"
            "\n"),
        std::string::npos);
}

TEST_F(Dispatch, MissingMembersAndLooseTypesReadAsTextOrInteger) {
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    start();
    send(R"({"command":"prePay","orderId":"O1","carNumber":"C1"})");
    send(R"({"command":"payNotice","orderId":"O2"})");
    send(R"({"command":"prePay","orderId":12345,"carNumber":true,"parkCode":null})");
    send(R"({"command":"qrCodePay","tempCar":true,"scanNumber":-7,"orderId":1.5})");
    send(R"({"command":"payNotice","payStatus":false,"payAmount":12.9,"duration":-3.7,)"
         R"("payMethod":null})");
    sendEndAndWait(6);
    auto got = calls.snapshot();
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0], "queryOrder||O1|C1");
    EXPECT_EQ(got[1], "noticeOfPaymentResult|O2||0|0|0||||0|");
    EXPECT_EQ(got[2], "queryOrder||12345|true");
    EXPECT_EQ(got[3], "scanQrCodePay||||-7|1.5||1");
    EXPECT_EQ(got[4], "noticeOfPaymentResult|||0|12|-3||||0|");
}

TEST_F(Dispatch, UnknownInvalidEmptyAndNulPayloads) {
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    start();
    send(R"({"command":"PrePay","orderId":"X"})");  // names are case-sensitive
    send(R"({"command":"refund"})");
    send(R"({"command":""})");
    send(R"({"orderId":"no command"})");
    send("not json at all");
    send("");
    send(std::string(R"({"command":"prePay","orderId":"NUL"})") + '\0' + "trailing bytes");
    send(std::string(R"({"command":"pre)") + '\0' + R"(Pay","orderId":"cut"})");
    sendEndAndWait(2);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||NUL||queryOrder||END|");
    std::string text = out.text();
    EXPECT_EQ(occurrences(text, " Unknown command !\n"), 2u) << text;
    EXPECT_NE(text.find("receive Message : not json at all\n"), std::string::npos);
    EXPECT_NE(text.find("receive Message : {\"command\":\"pre\n"), std::string::npos);
    EXPECT_NE(text.find("receive Message : {\"command\":\"prePay\",\"orderId\":\"NUL\"}\n"),
              std::string::npos);
    // Seven non-empty payloads and the end marker; the empty one writes nothing.
    EXPECT_EQ(occurrences(text, "receive Message : "), 8u) << text;
    EXPECT_EQ(text.find("receive Message : \n"), std::string::npos);
}

class PayOnly : public zolvo_sdk::CommandInterface {
public:
    explicit PayOnly(CommandLog& calls) : calls_(calls) {}
    void noticeOfPaymentResult(std::string orderId, std::string, int, int, int, std::string,
                               std::string, std::string, int, std::string) override {
        calls_.add("noticeOfPaymentResult|" + orderId);
    }
    ~PayOnly() override {
        std::lock_guard<std::mutex> lock(calls_.mutex);
        calls_.deletions.push_back(0);
    }

private:
    CommandLog& calls_;
};

const char* const kFourCommands[] = {
    R"({"command":"prePay"})",
    R"({"command":"qrCodePay"})",
    R"({"command":"qrCodeEntry"})",
    R"({"command":"payNotice","orderId":"P"})",
};

TEST_F(Dispatch, PlainObjectWritesTheDefaultLines) {
    ZOLVOSDK::setCommandInterface(new zolvo_sdk::CommandInterface());
    start();
    for (const char* c : kFourCommands) send(c);
    ASSERT_TRUE(out.waitFor("impl noticeOfPaymentResult()\n", 10s)) << out.text();
    std::string text = out.text();
    EXPECT_NE(text.find("sdk dll command interface impl queryOrder() \n"), std::string::npos);
    EXPECT_NE(text.find("sdk dll command interface impl scanQrCodePay() \n"), std::string::npos);
    EXPECT_NE(text.find("sdk dll command interface impl scanQrEntry()\n"), std::string::npos);
    EXPECT_NE(text.find("sdk dll command interface impl noticeOfPaymentResult()\n"),
              std::string::npos);
    EXPECT_EQ(occurrences(text, "sdk dll command interface impl "), 4u);
}

TEST_F(Dispatch, PartialOverrideGetsDefaultLinesForTheRest) {
    ZOLVOSDK::setCommandInterface(new PayOnly(calls));
    start();
    for (const char* c : kFourCommands) send(c);
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() == 1; }, 10s));
    std::string text = out.text();
    EXPECT_EQ(join(calls.snapshot()), "noticeOfPaymentResult|P");
    EXPECT_NE(text.find("impl queryOrder() \n"), std::string::npos);
    EXPECT_NE(text.find("impl scanQrCodePay() \n"), std::string::npos);
    EXPECT_NE(text.find("impl scanQrEntry()\n"), std::string::npos);
    EXPECT_EQ(text.find("impl noticeOfPaymentResult()"), std::string::npos);
    // Deleted through the base pointer: the derived destructor runs.
    { ZOLVOSDK teardown; }
    EXPECT_EQ(calls.deletedCount(), 1);
}

CommandLog* g_fnCalls = nullptr;
void recordPayload(const char* text) { g_fnCalls->add(text); }

TEST_F(Dispatch, CallbackFunctionGetsEveryPayloadAsItCame) {
    g_fnCalls = &calls;
    ZOLVOSDK::setCallBackFun(recordPayload);
    start();
    std::string json = R"({"command":"prePay","orderId":"O1"})";
    std::string longPayload =
        std::string(R"({"command":"prePay","orderId":"L"})") + std::string(1990, ' ') + "tail";
    ASSERT_EQ(longPayload.size(), 2028u);
    send(json);
    send("not json");
    send("");
    send(std::string("before") + '\0' + "after");
    send(longPayload);
    send("last");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() >= 5; }, 10s)) << join(calls.snapshot());
    auto got = calls.snapshot();
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0], json);
    EXPECT_EQ(got[1], "not json");
    EXPECT_EQ(got[2], "before");
    EXPECT_EQ(got[3], longPayload.substr(0, 1023));
    EXPECT_EQ(got[4], "last");
    // The callback function replaces decoding: no command function runs.
    EXPECT_EQ(out.text().find("sdk dll command interface impl"), std::string::npos);
    EXPECT_NE(out.text().find("receive Message : " + longPayload.substr(0, 1023) + "\n"),
              std::string::npos);
}

TEST_F(Dispatch, LongPayloadIsCutAndStillDecoded) {
    ZOLVOSDK::setCommandInterface(new RecordingCommands(calls));
    start();
    // Extra text after the first complete value is ignored by the reader.
    send(std::string(R"({"command":"prePay","orderId":"LONG"})") + std::string(2000, ' ') +
         "garbage");
    sendEndAndWait(2);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||LONG||queryOrder||END|");
}

class Thrower : public RecordingCommands {
public:
    using RecordingCommands::RecordingCommands;
    void queryOrder(std::string p, std::string o, std::string c) override {
        if (o == "throw") throw std::runtime_error("host failure");
        if (o == "throwInt") throw 42;
        RecordingCommands::queryOrder(p, o, c);
    }
};

TEST_F(Dispatch, ThrowingCallbacksAndConversionErrorsDropOnlyTheMessage) {
    ZOLVOSDK::setCommandInterface(new Thrower(calls));
    start();
    const char* const bad[] = {
        R"({"command":"prePay","orderId":"throw"})",
        R"({"command":"prePay","orderId":"throwInt"})",
        R"([1,2,3])",
        R"("just a text")",
        R"(42)",
        R"({"command":["prePay"]})",
        R"({"command":"prePay","orderId":{"a":1}})",
        R"({"command":"qrCodePay","tempCar":"abc"})",
        R"({"command":"payNotice","payAmount":1e20})",
    };
    for (const char* b : bad) send(b);
    send("null");  // a null root is a message without a command: silently ignored
    sendEndAndWait(1);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||END|");
    std::string text = out.text();
    EXPECT_EQ(occurrences(text, "Command message dropped: "), 9u) << text;
    EXPECT_NE(text.find("Command message dropped: host failure\n"), std::string::npos);
}

// The reader gives up on nesting deeper than it allows by throwing: that is a
// payload that does not parse, ignored after its line like any other.
TEST_F(Dispatch, PayloadNestedDeeperThanTheReaderAllowsIsIgnoredSilently) {
    ZOLVOSDK::setCommandInterface(new Thrower(calls));
    start();
    send(std::string(1010, '['));
    send(std::string(1023, '[') + R"({"command":"prePay","orderId":"cut"})");
    send(R"({"command":"prePay","orderId":"throw"})");  // a throwing callback keeps its line
    sendEndAndWait(1);
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||END|");
    std::string text = out.text();
    EXPECT_EQ(occurrences(text, "receive Message : "), 4u) << text;
    EXPECT_EQ(occurrences(text, "Command message dropped: "), 1u) << text;
    EXPECT_NE(text.find("Command message dropped: host failure\n"), std::string::npos) << text;
}

void throwingFunction(const char* text) {
    if (std::string(text) == "boom") throw std::logic_error("callback function failed");
    g_fnCalls->add(text);
}

TEST_F(Dispatch, ThrowingCallbackFunctionDropsOnlyTheMessage) {
    g_fnCalls = &calls;
    ZOLVOSDK::setCallBackFun(throwingFunction);
    start();
    send("boom");
    send("after");
    ASSERT_TRUE(rig::waitUntil([&] { return calls.count() >= 1; }, 10s));
    EXPECT_EQ(join(calls.snapshot()), "after");
    EXPECT_EQ(occurrences(out.text(), "Command message dropped: callback function failed\n"), 1u);
}

}  // namespace
