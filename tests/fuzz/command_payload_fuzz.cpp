// One command-message payload through the channel's delivery, parse and
// dispatch, as the receive loop hands it over (copied, cut at 1023 bytes, an
// empty one skipped), into a callback function and a recording callback object,
// each registered with a channel of its own that never connects.
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "command_channel.h"
#include "command_dispatch.h"
#include "fuzz_support.h"
#include "mqtt_command_client.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace {

struct Record {
    int functionCalls = 0;
    std::string functionText;
    int objectCalls = 0;
};
Record g_record;

void recordFunction(const char* text) {
    ++g_record.functionCalls;
    g_record.functionText = text;
}

// Counts the calls and touches every text it gets; a plate starting with "!"
// makes it throw, which the channel must swallow.
class RecordingCommands : public zolvo_sdk::CommandInterface {
public:
    void queryOrder(std::string parkCode, std::string orderId, std::string carNumber) override {
        seen(parkCode + orderId, carNumber);
    }
    void scanQrCodePay(std::string parkCode, std::string sysCode, std::string channel,
                       std::string scanNumber, std::string orderId, std::string carNumber,
                       int tempCar) override {
        seen(parkCode + sysCode + channel + scanNumber + orderId + std::to_string(tempCar),
             carNumber);
    }
    void scanQrEntry(std::string parkCode, std::string sysCode, std::string channel,
                     std::string carNumber, std::string scanNumber) override {
        seen(parkCode + sysCode + channel + scanNumber, carNumber);
    }
    void noticeOfPaymentResult(std::string orderId, std::string carNumber, int payStatus,
                               int payAmount, int duration, std::string inTime, std::string outTime,
                               std::string payTime, int payMethod, std::string parkCode) override {
        seen(orderId + inTime + outTime + payTime + parkCode +
                 std::to_string(payStatus + 0LL + payAmount + duration + payMethod),
             carNumber);
    }

    std::size_t touched = 0;

private:
    void seen(const std::string& others, const std::string& carNumber) {
        ++g_record.objectCalls;
        touched += others.size() + carNumber.size();
        if (!carNumber.empty() && carNumber[0] == '!') throw std::runtime_error("refused");
    }
};

// Never deleted: the object channel holds the object for the whole run.
zolvo_sdk::CommandChannel* g_functionChannel = nullptr;
zolvo_sdk::CommandChannel* g_objectChannel = nullptr;
RecordingCommands* g_object = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceStdout();
    g_functionChannel = new zolvo_sdk::CommandChannel();
    g_functionChannel->registerCallBackFun(&recordFunction);
    g_objectChannel = new zolvo_sdk::CommandChannel();
    g_object = new RecordingCommands();
    g_objectChannel->registerCommandInterface(g_object);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_record = Record();
    const int length = static_cast<int>(size);
    const zolvo_sdk::PayloadText received(data, length);
    if (length != 0) {
        for (zolvo_sdk::CommandChannel* channel : {g_functionChannel, g_objectChannel})
            channel->deliverAsThreadOf(channel->stopGeneration(), received.text);
    }

    if (size == 0) {
        FUZZ_CHECK(g_record.functionCalls == 0 && g_record.objectCalls == 0);
        return 0;
    }
    // The function gets the payload once, cut at 1023 bytes and at its first NUL.
    const size_t kept = size < 1023 ? size : 1023;
    const std::string expected(reinterpret_cast<const char*>(data),
                               strnlen(reinterpret_cast<const char*>(data), kept));
    FUZZ_CHECK(g_record.functionCalls == 1);
    FUZZ_CHECK(g_record.functionText == expected);
    // The object gets one command at most and stays registered.
    FUZZ_CHECK(g_record.objectCalls <= 1);
    FUZZ_CHECK(g_objectChannel->registeredObject() == g_object);
    FUZZ_CHECK(g_functionChannel->registeredFunction() == &recordFunction);
    // A command reaches the object only from a text that names the member
    // "command", written plainly (ending in nd") or through an escape.
    if (g_record.objectCalls == 1) {
        FUZZ_CHECK(expected.find("nd\"") != std::string::npos ||
                   expected.find('\\') != std::string::npos);
    }
    return 0;
}
