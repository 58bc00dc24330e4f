// The command dispatch: a payload, cut as the channel hands it on, to one call
// of the callback object. The road through a real broker is InitChannel's.
#include <gtest/gtest.h>

#include <stdexcept>

#include "channel_support.h"
#include "command_dispatch.h"

using namespace chantest;
using zolvo_sdk::ZOLVOSDK;

namespace {

class Dispatch : public ::testing::Test {
protected:
    rig::OutputCapture out{1};
    CommandLog calls;
    RecordingCommands recorder{calls};

    // The payload as the channel hands it on: its first 1023 bytes, up to a NUL.
    static void dispatch(zolvo_sdk::CommandInterface& object, const std::string& payload) {
        const zolvo_sdk::PayloadText text(payload.data(), static_cast<int>(payload.size()));
        zolvo_sdk::dispatchCommand(object, text.text);
    }
    void dispatch(const std::string& payload) { dispatch(recorder, payload); }
};

TEST(PayloadText, KeepsAtMost1023BytesAndEndsWithANul) {
    const std::string longText(2028, 'x');
    for (int length : {-1, 0, 5, 1023, 1024, 2028}) {
        const zolvo_sdk::PayloadText text(longText.data(), length);
        EXPECT_EQ(std::string(text.text),
                  longText.substr(0, length < 0 ? 0 : std::min(length, 1023)))
            << length;
    }
    const std::string withNul("before\0after", 12);
    EXPECT_EQ(std::string(zolvo_sdk::PayloadText(withNul.data(), 12).text), "before");
}

TEST_F(Dispatch, EachCommandReachesItsFunctionWithArgumentsInOrder) {
    std::vector<std::string> expected;
    for (const rig::CommandCase& c : rig::kFourCommands) {
        dispatch(c.payload);
        expected.push_back(c.call);
    }
    EXPECT_EQ(calls.snapshot(), expected);
}

TEST_F(Dispatch, MissingMembersAndLooseTypesReadAsTextOrInteger) {
    dispatch(R"({"command":"prePay","orderId":"O1","carNumber":"C1"})");
    dispatch(R"({"command":"payNotice","orderId":"O2"})");
    dispatch(R"({"command":"prePay","orderId":12345,"carNumber":true,"parkCode":null})");
    dispatch(R"({"command":"qrCodePay","tempCar":true,"scanNumber":-7,"orderId":1.5})");
    dispatch(R"({"command":"payNotice","payStatus":false,"payAmount":12.9,"duration":-3.7,)"
             R"("payMethod":null})");
    const std::vector<std::string> expected = {
        "queryOrder||O1|C1",
        "noticeOfPaymentResult|O2||0|0|0||||0|",
        "queryOrder||12345|true",
        "scanQrCodePay||||-7|1.5||1",
        "noticeOfPaymentResult|||0|12|-3||||0|",
    };
    EXPECT_EQ(calls.snapshot(), expected);
}

TEST_F(Dispatch, UnknownInvalidEmptyAndNulPayloads) {
    dispatch(R"({"command":"PrePay","orderId":"X"})");  // names are case-sensitive
    dispatch(R"({"command":"refund"})");
    dispatch(R"({"command":""})");
    dispatch(R"({"orderId":"no command"})");
    dispatch("not json at all");
    dispatch("");
    dispatch(std::string(R"({"command":"prePay","orderId":"NUL"})") + '\0' + "trailing bytes");
    dispatch(std::string(R"({"command":"pre)") + '\0' + R"(Pay","orderId":"cut"})");
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||NUL|");
    EXPECT_EQ(out.text(), " Unknown command !\n Unknown command !\n");
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

const char* const kBareCommands[] = {
    R"({"command":"prePay"})",
    R"({"command":"qrCodePay"})",
    R"({"command":"qrCodeEntry"})",
    R"({"command":"payNotice","orderId":"P"})",
};

TEST_F(Dispatch, PlainObjectWritesTheDefaultLines) {
    zolvo_sdk::CommandInterface plain;
    for (const char* c : kBareCommands) dispatch(plain, c);
    EXPECT_EQ(out.text(), "sdk dll command interface impl queryOrder() \n"
                          "sdk dll command interface impl scanQrCodePay() \n"
                          "sdk dll command interface impl scanQrEntry()\n"
                          "sdk dll command interface impl noticeOfPaymentResult()\n");
}

TEST_F(Dispatch, PartialOverrideGetsDefaultLinesForTheRest) {
    auto* payOnly = new PayOnly(calls);
    ZOLVOSDK::setCommandInterface(payOnly);
    for (const char* c : kBareCommands) dispatch(*payOnly, c);
    EXPECT_EQ(join(calls.snapshot()), "noticeOfPaymentResult|P");
    EXPECT_EQ(out.text(), "sdk dll command interface impl queryOrder() \n"
                          "sdk dll command interface impl scanQrCodePay() \n"
                          "sdk dll command interface impl scanQrEntry()\n");
    // Deleted through the base pointer: the derived destructor runs.
    { ZOLVOSDK teardown; }
    EXPECT_EQ(calls.deletedCount(), 1);
}

TEST_F(Dispatch, LongPayloadIsCutAndStillDecoded) {
    // Extra text after the first complete value is ignored by the reader.
    dispatch(std::string(R"({"command":"prePay","orderId":"LONG"})") + std::string(2000, ' ') +
             "garbage");
    EXPECT_EQ(join(calls.snapshot()), "queryOrder||LONG|");
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

// The exceptions of the object's functions and of the conversions reach the
// channel, which drops the message (InitChannel shows the line it writes).
TEST_F(Dispatch, ThrowingCallbacksAndConversionErrorsDropOnlyTheMessage) {
    Thrower thrower(calls);
    EXPECT_THROW(dispatch(thrower, R"({"command":"prePay","orderId":"throw"})"),
                 std::runtime_error);
    EXPECT_THROW(dispatch(thrower, R"({"command":"prePay","orderId":"throwInt"})"), int);
    const char* const bad[] = {
        R"([1,2,3])",
        R"("just a text")",
        R"(42)",
        R"({"command":["prePay"]})",
        R"({"command":"prePay","orderId":{"a":1}})",
        R"({"command":"qrCodePay","tempCar":"abc"})",
        R"({"command":"payNotice","payAmount":1e20})",
    };
    for (const char* b : bad) EXPECT_ANY_THROW(dispatch(thrower, b)) << b;
    EXPECT_NO_THROW(dispatch(thrower, "null"));  // a message without a command: ignored
    EXPECT_EQ(join(calls.snapshot()), "");
    EXPECT_EQ(out.text(), "");
}

// The reader gives up on nesting deeper than it allows by throwing: that is a
// payload that does not parse, ignored like any other.
TEST_F(Dispatch, PayloadNestedDeeperThanTheReaderAllowsIsIgnoredSilently) {
    EXPECT_NO_THROW(dispatch(std::string(1010, '[')));
    EXPECT_NO_THROW(dispatch(std::string(1023, '[') + R"({"command":"prePay","orderId":"cut"})"));
    EXPECT_EQ(join(calls.snapshot()), "");
    EXPECT_EQ(out.text(), "");
}

}  // namespace
