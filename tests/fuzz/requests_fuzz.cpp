// Arbitrary argument texts and integers through each request function's tests
// and form text, up to the transport, which a hook replaces: nothing is sent.
//
// The expected form text of each function is rebuilt here from its keys, so the
// target checks the whole body: pairs, signature (OpenSSL's MD5 over the ANSI
// text and the key) and the UTF-8 conversion where the function converts. The
// paths, the presence test and the conversion are this target's own, written
// apart from the library's constants and code page layer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "openssl_md5.h"
#include "request_transport.h"
#include "sdk_state.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace {

using zolvo_sdk::PreparedRequest;
using zolvo_sdk::RequestOperation;
using zolvo_sdk::ZOLVOSDK;

// The merchant key holds GBK bytes as well as ASCII; it must never be sent.
const std::string kKey = "Fz-\xC3\xDC\xD4\xBF-9f3a7c2e51";
const std::string kBaseUrl = "http://127.0.0.1:9/base";
const std::string kReply = "{\"code\":\"0000\",\"msg\":\"from the hook\"}";

struct Captured {
    bool called = false;
    RequestOperation operation = RequestOperation::Form;
    std::string url;
    std::string body;
    std::string filePath;
};
Captured g_captured;

std::string capture(const PreparedRequest& request) {
    FUZZ_CHECK(!g_captured.called);  // one transport operation per call
    g_captured.called = true;
    g_captured.operation = request.operation;
    g_captured.url = request.url;
    g_captured.body = request.body;
    g_captured.filePath = request.filePath;
    return kReply;
}

// At least one byte, and the first is not NUL.
bool present(const std::string& t) { return !t.empty() && t[0] != '\0'; }
bool atLeast(const std::string& t, size_t n) { return present(t) && t.size() >= n; }

// What a call should do: pass its tests or not, and the pairs it should sign.
struct Expected {
    const char* path;
    RequestOperation operation;
    bool toUtf8;
    bool passes;
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string filePath;
};

std::string text(FuzzedDataProvider& in) { return in.ConsumeRandomLengthString(300); }
int typeCode(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(0, 2) : in.ConsumeIntegral<int>();
}
std::string dec(int32_t v) { return std::to_string(v); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::silenceStdout();
    zolvo_sdk::setRequestTransportForTesting(&capture);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    auto settings = std::make_shared<zolvo_sdk::SdkConfig>();
    zolvo_sdk::SdkConfig& c = *settings;
    c.url = kBaseUrl;
    c.key = kKey;
    c.manufacturer = "fuzz";
    // The car park's codes as init stored them: any present texts.
    c.parkCode = text(in);
    c.sysCode = text(in);
    c.channelNumber = text(in);
    if (!present(c.parkCode)) c.parkCode = "201808150001";
    if (!present(c.sysCode)) c.sysCode = "0001";
    if (!present(c.channelNumber)) c.channelNumber = "A4";
    const std::string park = c.parkCode, sys = c.sysCode, lane = c.channelNumber;
    zolvo_sdk::sdkState().publish(settings);  // and initialised

    g_captured = Captured();
    std::string result;
    std::vector<std::string> texts{park, sys, lane};
    Expected e{};
    using Op = RequestOperation;
    const int which = in.ConsumeIntegralInRange<int>(0, 8);
    switch (which) {
        case 0: {
            std::string car = text(in), inTime = text(in), order = text(in), file = text(in),
                        scan = text(in);
            const int type = typeCode(in);
            texts.insert(texts.end(), {car, inTime, order, scan});
            result = ZOLVOSDK::entry(car, inTime, order, file, type, scan);
            e = {"/api/car/enter.do",
                 Op::Multipart,
                 true,
                 atLeast(car, 7) && atLeast(inTime, 14) && present(order) &&
                     (type != 2 || present(scan)),
                 {{"carNumber", car}},
                 file};
            if (type != 0) e.pairs.push_back({"entryType", dec(type)});
            e.pairs.insert(
                e.pairs.end(),
                {{"inChannel", sys}, {"inTime", inTime}, {"orderId", order}, {"parkCode", park}});
            if (type == 2) e.pairs.push_back({"scanNumber", scan});
            e.pairs.push_back({"sysCode", sys});
            break;
        }
        case 1: {
            std::string car = text(in), outTime = text(in), order = text(in), file = text(in),
                        scan = text(in);
            const int64_t duration = in.ConsumeIntegral<int64_t>();
            const int amount = in.ConsumeIntegral<int>();
            const int type = typeCode(in);
            const int32_t d32 = static_cast<int32_t>(duration);
            texts.insert(texts.end(), {car, outTime, order, scan});
            result = ZOLVOSDK::leave(car, outTime, order, static_cast<long>(duration), amount, file,
                                     type, scan);
            e = {"/api/car/out.do",
                 Op::Multipart,
                 true,
                 atLeast(car, 7) && atLeast(outTime, 14) && present(order) && d32 != 0 &&
                     amount >= 1 && (type != 2 || present(scan)),
                 {{"carNumber", car},
                  {"duration", dec(d32)},
                  {"orderAmount", dec(amount)},
                  {"orderId", order},
                  {"outTime", outTime}},
                 file};
            if (type != 0) e.pairs.push_back({"outType", dec(type)});
            e.pairs.push_back({"parkCode", park});
            if (type == 2) e.pairs.push_back({"scanNumber", scan});
            e.pairs.push_back({"sysCode", sys});
            break;
        }
        case 2: {
            std::string order = text(in), car = text(in), finishTime = text(in);
            texts.insert(texts.end(), {order, car, finishTime});
            result = ZOLVOSDK::finish(order, car, finishTime);
            e = {"/api/car/leave.do",
                 Op::Form,
                 false,
                 atLeast(car, 7) && atLeast(finishTime, 14) && present(order),
                 {{"carNumber", car},
                  {"finishTime", finishTime},
                  {"orderId", order},
                  {"parkCode", park}},
                 ""};
            break;
        }
        case 3: {
            std::string car = text(in), start = text(in), end = text(in), remarks = text(in);
            const bool delFlag = in.ConsumeBool();
            texts.insert(texts.end(), {car, start, end, remarks});
            result = ZOLVOSDK::freeCar(car, start, end, remarks, delFlag);
            e = {"/api/free/car/push.do",
                 Op::Form,
                 true,
                 atLeast(car, 7) && atLeast(start, 14) && remarks.size() <= 200 && atLeast(end, 14),
                 {{"carNumber", car},
                  {"channel", lane},
                  {"delFlag", delFlag ? "1" : "0"},
                  {"endTime", end},
                  {"parkCode", park},
                  {"remarks", present(remarks) ? remarks : "no remarks"},
                  {"startTime", start},
                  {"sysCode", sys}},
                 ""};
            break;
        }
        case 4:
        case 6: {
            const bool scanning = which == 6;
            std::string scan = scanning ? text(in) : std::string();
            std::string order = text(in), car = text(in), inTime = text(in), inChannel = text(in),
                        outTime = text(in), outChannel = text(in);
            const int64_t duration = in.ConsumeIntegral<int64_t>();
            const int amount = in.ConsumeIntegral<int>();
            const int32_t d32 = static_cast<int32_t>(duration);
            texts.insert(texts.end(), {scan, order, car, inTime, inChannel, outTime, outChannel});
            const bool common = present(order) && atLeast(car, 7) && present(inTime) &&
                                present(inChannel) && present(outTime) && present(outChannel) &&
                                amount >= 1;
            e.pairs = {{"carNumber", car},   {"duration", dec(d32)},       {"inChannel", inChannel},
                       {"inTime", inTime},   {"orderAmount", dec(amount)}, {"orderId", order},
                       {"outChannel", lane}, {"outTime", outTime},         {"parkCode", park}};
            e.operation = Op::Form;
            e.toUtf8 = true;
            if (scanning) {
                result = ZOLVOSDK::scanningOrder(scan, order, car, inTime, inChannel, outTime,
                                                 outChannel, static_cast<long>(duration), amount);
                e.path = "/api/qr/order/receive.do";
                e.passes = present(scan) && common && d32 != 0;
                e.pairs.push_back({"scanNumner", scan});
            } else {
                result = ZOLVOSDK::pushOrder(order, car, inTime, inChannel, outTime, outChannel,
                                             static_cast<long>(duration), amount);
                e.path = "/api/order/receive.do";
                e.passes = common && d32 >= 1;
                e.pairs.push_back({"sysCode", sys});
            }
            break;
        }
        case 5: {
            std::string order = text(in);
            texts.push_back(order);
            result = ZOLVOSDK::queryOrder(order);
            e = {"/api/order/query.do",
                 Op::Form,
                 false,
                 present(order),
                 {{"orderId", order}, {"parkCode", park}},
                 ""};
            break;
        }
        case 7: {
            std::string car = text(in), start = text(in), end = text(in), order = text(in);
            const int64_t duration = in.ConsumeIntegral<int64_t>();
            const int amount = in.ConsumeIntegral<int>();
            const int32_t d32 = static_cast<int32_t>(duration);
            texts.insert(texts.end(), {car, start, end, order});
            result =
                ZOLVOSDK::suppOrder(car, start, end, order, static_cast<long>(duration), amount);
            e = {"/api/order/supp.do",
                 Op::Form,
                 true,
                 atLeast(car, 7) && atLeast(start, 14) && atLeast(end, 14) && present(order) &&
                     d32 != 0 && amount >= 1,
                 {{"carNumber", car},
                  {"channel", lane},
                  {"duration", dec(d32)},
                  {"endTime", end},
                  {"orderAmount", dec(amount)},
                  {"orderId", order},
                  {"parkCode", park},
                  {"startTime", start},
                  {"sysCode", sys}},
                 ""};
            break;
        }
        case 8: {
            std::string order = text(in), file = text(in), attType = text(in);
            texts.insert(texts.end(), {order, attType});
            result = ZOLVOSDK::uploadFile(order, file, attType);
            e = {"/api/file/upload.do",
                 Op::Upload,
                 false,
                 present(order) && present(file) && present(attType),
                 {{"attType", attType}, {"orderId", order}, {"parkCode", park}},
                 file};
            break;
        }
    }

    FUZZ_CHECK(g_captured.called == e.passes);
    if (!g_captured.called) {
        // A refusal of the library's own, with the argument code.
        FUZZ_CHECK(result.rfind("{\"code\":\"1000\",\"msg\":\"", 0) == 0);
        FUZZ_CHECK(result.size() > 24 && result.compare(result.size() - 2, 2, "\"}") == 0);
        return 0;
    }
    FUZZ_CHECK(result == kReply);  // the transport's text comes back unchanged
    FUZZ_CHECK(g_captured.operation == e.operation);
    FUZZ_CHECK(g_captured.url == kBaseUrl + e.path);
    FUZZ_CHECK(g_captured.filePath == e.filePath);

    std::string form;
    for (const auto& pair : e.pairs) {
        if (!form.empty()) form += '&';
        form += pair.first + "=" + pair.second;
    }
    const std::string sign = rig::opensslMd5Hex(form + "&key=" + kKey);
    std::string expectedBody = form + "&sign=" + sign;
    if (e.toUtf8) expectedBody = fuzz::gbkToUtf8(expectedBody);
    FUZZ_CHECK(g_captured.body == expectedBody);

    // The values are the caller's: a NUL in one cuts the UTF-8 text there.
    const std::string& body = g_captured.body;
    if (!e.toUtf8 || form.find('\0') == std::string::npos) {
        FUZZ_CHECK(body.size() >= 38 && body.compare(body.size() - 38, 6, "&sign=") == 0);
        FUZZ_CHECK(body.compare(body.size() - 32, 32, sign) == 0);
    }
    // Unless the caller passed it in a value (in either encoding), the key is not in the body.
    const std::string keyUtf8 = fuzz::gbkToUtf8(kKey);
    bool keyGiven = false;
    for (const std::string& t : texts) {
        keyGiven = keyGiven || t.find(kKey) != std::string::npos ||
                   t.find(keyUtf8) != std::string::npos || t.find("&key=") != std::string::npos ||
                   t.find("key=") == 0;
    }
    if (!keyGiven) {
        FUZZ_CHECK(body.find(kKey) == std::string::npos);
        FUZZ_CHECK(body.find(keyUtf8) == std::string::npos);
        FUZZ_CHECK(body.find("&key=") == std::string::npos);
    }
    return 0;
}
