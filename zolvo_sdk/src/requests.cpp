// The request road and the nine request functions.
//
// Every request function except init runs the same road: the initialised
// test, its argument tests in order, the form text of its keys, the signature
// over the ANSI (GBK) text, the UTF-8 conversion for the requests that send
// UTF-8, one transport operation, and the reply returned unchanged. The
// functions below only declare their pieces; runRequest() is the road.
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <iostream>
#include <string>
#include <utility>

#include "codepage.h"
#include "endpoints_and_results.h"
#include "http_client.h"
#include "request_transport.h"
#include "result_text.h"
#include "sdk_state.h"
#include "signing.h"

namespace zolvo_sdk {
namespace {

// ------------------------------------------------------------------ pieces

// The three transport operations: the form post, the multipart post with an
// optional image "fileImage", and the upload of a required one.
using Transport = RequestOperation;

struct Endpoint {
    const char* path;
    Transport transport;
    bool toUtf8;        // convert the signed text to UTF-8 before sending
    bool echoToStdout;  // write the request URL and text to standard output
};

// One argument test. Lengths count bytes of the ANSI text.
struct ArgTest {
    enum Kind { Present, AtLeast, AtMost, NotZero, GreaterThanZero };
    Kind kind;
    const std::string* text;
    int64_t number;
    size_t bytes;
    bool applies;         // false: a conditional test whose condition does not hold
    const char* msgUtf8;  // the refusal's message (code "1000")

    bool passes() const {
        if (!applies) return true;
        switch (kind) {
            case Present:
                return isPresent(*text);
            case AtLeast:
                return isPresent(*text) && text->size() >= bytes;
            case AtMost:
                return text->size() <= bytes;
            case NotZero:
                return number != 0;
            case GreaterThanZero:
                return number >= 1;
        }
        return false;
    }

    // Makes the test only when `condition` holds; it passes otherwise.
    ArgTest when(bool condition) const {
        ArgTest copy = *this;
        copy.applies = condition;
        return copy;
    }
};

ArgTest present(const std::string& text, const char* msg) {
    return {ArgTest::Present, &text, 0, 0, true, msg};
}
ArgTest atLeast(const std::string& text, size_t bytes, const char* msg) {
    return {ArgTest::AtLeast, &text, 0, bytes, true, msg};
}
ArgTest atMost(const std::string& text, size_t bytes, const char* msg) {
    return {ArgTest::AtMost, &text, 0, bytes, true, msg};
}
ArgTest notZero(int64_t number, const char* msg) {
    return {ArgTest::NotZero, nullptr, number, 0, true, msg};
}
ArgTest greaterThanZero(int64_t number, const char* msg) {
    return {ArgTest::GreaterThanZero, nullptr, number, 0, true, msg};
}

// One pair of the form text: the caller's value, or a field of the stored
// record read when the text is built. Keys are listed in ASCII order.
struct FormPair {
    const char* key;
    std::string value;
    std::string SdkConfig::*stored;
    bool included;

    FormPair(const char* k, std::string v, bool include = true)
        : key(k), value(std::move(v)), stored(nullptr), included(include) {}
    FormPair(const char* k, std::string SdkConfig::*field)
        : key(k), stored(field), included(true) {}
};

// Decimal text: "-" before a negative value, no "+", grouping or padding.
std::string decimal(int32_t value) { return std::to_string(value); }

// The parameters typed `long` are 32-bit on the platform the library ships for.
// Where `long` is wider, the value is narrowed to its low 32 bits first, which
// is what a caller on the target gets when it passes a wider integer: the tests
// and the form text then see the same value as there (2^32 + 5 becomes 5).
int32_t narrowLong(long value) { return static_cast<int32_t>(value); }

std::string notInitialisedText() { return resultText(code::kState, msg::kNotInitialized); }

// ------------------------------------------------------------------ the road

std::string runRequest(const Endpoint& endpoint, std::initializer_list<ArgTest> tests,
                       std::initializer_list<FormPair> pairs,
                       const std::string& filePath = std::string()) {
    // The settings are one snapshot for the whole road: an init, unInit or
    // teardown on another thread changes nothing of it.
    const SdkConfigPtr snapshot = sdkState().initializedConfig();
    if (snapshot == nullptr) return notInitialisedText();
    const SdkConfig* config = snapshot.get();

    // The first argument test that fails decides.
    for (const ArgTest& test : tests) {
        if (!test.passes()) return resultText(code::kArgument, test.msgUtf8);
    }

    // The form text: keys in the order given, values unescaped.
    HttpClient client;
    const std::string url = config->url + endpoint.path;
    std::string dataStr;
    for (const FormPair& pair : pairs) {
        if (!pair.included) continue;
        if (!dataStr.empty()) dataStr += '&';
        dataStr += pair.key;
        dataStr += '=';
        dataStr += pair.stored != nullptr ? config->*pair.stored : pair.value;
    }

    // Signed over the ANSI text.
    dataStr = signRequest(dataStr, config->key);

    // UTF-8 for the requests that send it; URL and file path stay as given.
    if (endpoint.toUtf8) dataStr = ansiToUtf8(dataStr);

    if (endpoint.echoToStdout) {
        std::cout << "request url " << url << std::endl;
        std::cout << "request dataStr " << dataStr << std::endl;
    }

    // One transport operation, whose text is the result, unchanged.
    if (RequestTransportHook hook = requestTransportHook().load()) {
        return hook(PreparedRequest{endpoint.transport, url, dataStr, filePath});
    }
    switch (endpoint.transport) {
        case Transport::Form:
            return client.post(url, dataStr);
        case Transport::Multipart:
            return client.postMultipart(url, dataStr, filePath);
        case Transport::Upload:
            return client.postFile(url, dataStr, filePath);
    }
    return std::string();
}

// ------------------------------------------------------------------ endpoints

const Endpoint kEntry{endpoint::kEnter, Transport::Multipart, true, false};
const Endpoint kLeave{endpoint::kOut, Transport::Multipart, true, false};
const Endpoint kFinish{endpoint::kLeave, Transport::Form, false, false};
const Endpoint kFreeCar{endpoint::kFreeCar, Transport::Form, true, true};
const Endpoint kPushOrder{endpoint::kOrderReceive, Transport::Form, true, false};
const Endpoint kQueryOrder{endpoint::kOrderQuery, Transport::Form, false, false};
const Endpoint kScanningOrder{endpoint::kQrOrderReceive, Transport::Form, true, false};
const Endpoint kSuppOrder{endpoint::kOrderSupp, Transport::Form, true, false};
const Endpoint kUploadFile{endpoint::kFileUpload, Transport::Upload, false, false};

}  // namespace

std::atomic<RequestTransportHook>& requestTransportHook() {
    static std::atomic<RequestTransportHook> hook{nullptr};
    return hook;
}

// ------------------------------------------------------------------ passages

std::string ZOLVOSDK::entry(std::string carNumber, std::string inTime, std::string orderId,
                            std::string filePath, int entryType, std::string scanNumber) {
    return runRequest(kEntry,
                      {atLeast(carNumber, 7, msg::kNoPlate), atLeast(inTime, 14, msg::kNoInTime),
                       present(orderId, msg::kNoOrderId),
                       present(scanNumber, msg::kNoScanNumber).when(entryType == 2)},
                      {{"carNumber", carNumber},
                       {"entryType", decimal(entryType), entryType != 0},
                       // The entry lane sent is the charging-system code stored at init.
                       {"inChannel", &SdkConfig::sysCode},
                       {"inTime", inTime},
                       {"orderId", orderId},
                       {"parkCode", &SdkConfig::parkCode},
                       {"scanNumber", scanNumber, entryType == 2},
                       {"sysCode", &SdkConfig::sysCode}},
                      filePath);
}

std::string ZOLVOSDK::leave(std::string carNumber, std::string outTime, std::string orderId,
                            long duration, int orderAmount, std::string filePath, int outType,
                            std::string scanNumber) {
    const int32_t duration32 = narrowLong(duration);
    return runRequest(kLeave,
                      {atLeast(carNumber, 7, msg::kNoPlate), atLeast(outTime, 14, msg::kNoOutTime),
                       present(orderId, msg::kNoOrderId), notZero(duration32, msg::kNoDuration),
                       greaterThanZero(orderAmount, msg::kNoAmount),
                       present(scanNumber, msg::kNoScanNumber).when(outType == 2)},
                      {{"carNumber", carNumber},
                       {"duration", decimal(duration32)},
                       {"orderAmount", decimal(orderAmount)},
                       {"orderId", orderId},
                       {"outTime", outTime},
                       {"outType", decimal(outType), outType != 0},
                       {"parkCode", &SdkConfig::parkCode},
                       {"scanNumber", scanNumber, outType == 2},
                       {"sysCode", &SdkConfig::sysCode}},
                      filePath);
}

std::string ZOLVOSDK::finish(std::string orderId, std::string carNumber, std::string finishTime) {
    return runRequest(
        kFinish,
        {atLeast(carNumber, 7, msg::kNoPlate), atLeast(finishTime, 14, msg::kNoFinishTime),
         present(orderId, msg::kNoOrderId)},
        {{"carNumber", carNumber},
         {"finishTime", finishTime},
         {"orderId", orderId},
         {"parkCode", &SdkConfig::parkCode}});
}

std::string ZOLVOSDK::freeCar(std::string carNumber, std::string startTime, std::string endTime,
                              std::string remarks, bool delFlag) {
    // A remark that holds nothing (empty, or NUL at its first byte) is sent as
    // "no remarks": a NUL in the text would cut it, and the pairs after it,
    // off the request that goes out.
    const bool noRemark = !isPresent(remarks);
    return runRequest(
        kFreeCar,
        {atLeast(carNumber, 7, msg::kNoPlate), atLeast(startTime, 14, msg::kNoStartTime),
         atMost(remarks, 200, msg::kRemarksTooLong), atLeast(endTime, 14, msg::kNoEndTime)},
        {{"carNumber", carNumber},
         {"channel", &SdkConfig::channelNumber},
         {"delFlag", delFlag ? "1" : "0"},
         {"endTime", endTime},
         {"parkCode", &SdkConfig::parkCode},
         {"remarks", noRemark ? std::string("no remarks") : remarks},
         {"startTime", startTime},
         {"sysCode", &SdkConfig::sysCode}});
}

// ------------------------------------------------------------------ orders

std::string ZOLVOSDK::pushOrder(std::string orderId, std::string carNumber, std::string inTime,
                                std::string inChannel, std::string outTime, std::string outChannel,
                                long duration, int orderAmount) {
    const int32_t duration32 = narrowLong(duration);
    return runRequest(kPushOrder,
                      {present(orderId, msg::kNoOrderSerial), atLeast(carNumber, 7, msg::kNoPlate),
                       present(inTime, msg::kNoInTime), present(inChannel, msg::kNoInChannel),
                       present(outTime, msg::kNoOutTime), present(outChannel, msg::kNoOutChannel),
                       greaterThanZero(duration32, msg::kNoDuration),
                       greaterThanZero(orderAmount, msg::kNoAmount)},
                      {{"carNumber", carNumber},
                       {"duration", decimal(duration32)},
                       {"inChannel", inChannel},
                       {"inTime", inTime},
                       {"orderAmount", decimal(orderAmount)},
                       {"orderId", orderId},
                       // The exit lane sent is the lane stored at init, not the argument.
                       {"outChannel", &SdkConfig::channelNumber},
                       {"outTime", outTime},
                       {"parkCode", &SdkConfig::parkCode},
                       {"sysCode", &SdkConfig::sysCode}});
}

std::string ZOLVOSDK::queryOrder(std::string orderId) {
    return runRequest(kQueryOrder, {present(orderId, msg::kNoOrderId)},
                      {{"orderId", orderId}, {"parkCode", &SdkConfig::parkCode}});
}

std::string ZOLVOSDK::scanningOrder(std::string scanNumber, std::string orderId,
                                    std::string carNumber, std::string inTime,
                                    std::string inChannel, std::string outTime,
                                    std::string outChannel, long duration, int orderAmount) {
    const int32_t duration32 = narrowLong(duration);
    return runRequest(
        kScanningOrder,
        {present(scanNumber, msg::kNoScanCode), present(orderId, msg::kNoOrderSerial),
         atLeast(carNumber, 7, msg::kNoPlate), present(inTime, msg::kNoInTime),
         present(inChannel, msg::kNoInChannel), present(outTime, msg::kNoOutTime),
         present(outChannel, msg::kNoOutChannel), notZero(duration32, msg::kNoDuration),
         greaterThanZero(orderAmount, msg::kNoAmount)},
        {{"carNumber", carNumber},
         {"duration", decimal(duration32)},
         {"inChannel", inChannel},
         {"inTime", inTime},
         {"orderAmount", decimal(orderAmount)},
         {"orderId", orderId},
         {"outChannel", &SdkConfig::channelNumber},
         {"outTime", outTime},
         {"parkCode", &SdkConfig::parkCode},
         // The scan number goes under the key "scanNumner" on this endpoint.
         {"scanNumner", scanNumber}});
}

std::string ZOLVOSDK::suppOrder(std::string carNumber, std::string startTime, std::string endTime,
                                std::string orderId, long duration, int orderAmount) {
    const int32_t duration32 = narrowLong(duration);
    return runRequest(
        kSuppOrder,
        {atLeast(carNumber, 7, msg::kNoPlate), atLeast(startTime, 14, msg::kNoStartTime),
         atLeast(endTime, 14, msg::kNoEndTime), present(orderId, msg::kNoSuppOrderSerial),
         notZero(duration32, msg::kNoDuration), greaterThanZero(orderAmount, msg::kNoAmount)},
        {{"carNumber", carNumber},
         {"channel", &SdkConfig::channelNumber},
         {"duration", decimal(duration32)},
         {"endTime", endTime},
         {"orderAmount", decimal(orderAmount)},
         {"orderId", orderId},
         {"parkCode", &SdkConfig::parkCode},
         {"startTime", startTime},
         {"sysCode", &SdkConfig::sysCode}});
}

std::string ZOLVOSDK::uploadFile(std::string orderId, std::string filePath, std::string attType) {
    return runRequest(
        kUploadFile,
        {present(orderId, msg::kNoOrderSerial), present(filePath, msg::kNoAttachment),
         present(attType, msg::kNoAttType)},
        {{"attType", attType}, {"orderId", orderId}, {"parkCode", &SdkConfig::parkCode}}, filePath);
}

}  // namespace zolvo_sdk
