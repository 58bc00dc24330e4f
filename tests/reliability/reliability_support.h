// Shared pieces of the fault, load, lifetime and security tests: a callback
// object that counts its constructions, deletions and calls, an init reply
// with chosen broker settings, a platform that echoes what identifies each
// request, the way a host initialises the library against the rig, and the
// broker-and-platform site that the tests of the running channel start from.
#ifndef ZOLVO_TESTS_RELIABILITY_SUPPORT_H
#define ZOLVO_TESTS_RELIABILITY_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "command_recorder.h"
#include "rig.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace reltest {

using namespace std::chrono_literals;
using rig::occurrences;
using rig::wireForm;
using zolvo_sdk::ZOLVOSDK;

constexpr const char* kKey = "Rk7-merchant-9QzX";
constexpr const char* kParkCode = "201808150001";
constexpr const char* kSysCode = "0001";
constexpr const char* kChannel = "A4";

// Slower clocks under the sanitizers: time bounds get this much slack.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto kSlack = 4s;
#else
constexpr auto kSlack = 1500ms;
#endif

inline std::string jsonText(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// A successful init reply's settings; the receive time-out is short so that a
// stop is noticed quickly.
struct InitSettings : rig::PlatformServer::InitSettings {
    InitSettings() { receiveTimeoutMs = 50; }
};

inline std::string initReply(const InitSettings& s) { return rig::PlatformServer::initReply(s); }

inline void ignorePayload(const char*) {}

inline bool succeeded(const std::string& reply) {
    return reply.find("\"code\":\"0000\"") != std::string::npos;
}

inline std::string initAgainst(const std::string& url) {
    return ZOLVOSDK::init("ZOLVO-TEST", kParkCode, kSysCode, kChannel, kKey, url);
}

inline std::string uniqueTopic(const char* what) {
    static std::atomic<int> n{0};
    return std::string("rel/") + what + "/" + std::to_string(getpid()) + "-" + std::to_string(++n);
}

inline std::string prePay(const std::string& orderId, const std::string& carNumber = "") {
    return "{\"command\":\"prePay\",\"orderId\":\"" + orderId + "\",\"carNumber\":\"" + carNumber +
           "\",\"parkCode\":\"" + kParkCode + "\"}";
}

inline std::string formValue(const rig::RecordedRequest& request, const std::string& key) {
    for (const auto& pair : rig::parseForm(wireForm(request)))
        if (pair.first == key) return pair.second;
    return std::string();
}

// Makes every endpoint but init answer with what identifies the request:
// {"code":"0000","path":…,"orderId":…,"carNumber":…} from its own form.
inline void echoIdentity(rig::PlatformServer& server) {
    for (const char* path : rig::kEndpoints) {
        if (std::string(path) == "/api/client/init.do") continue;
        server.setHandler(path, [](const rig::RecordedRequest& request) {
            rig::Reply reply;
            reply.body = "{\"code\":\"0000\",\"path\":\"" + request.path + "\",\"orderId\":\"" +
                         jsonText(formValue(request, "orderId")) + "\",\"carNumber\":\"" +
                         jsonText(formValue(request, "carNumber")) + "\"}";
            return reply;
        });
    }
}

// Captures standard output and error (the channel's lines, the transport's
// failure lines) while it lives; when the test has failed by then, writes the
// end of what was captured (which holds the failure messages) to the real stderr.
class Console {
public:
    Console() : out_(new rig::OutputCapture(1)), err_(new rig::OutputCapture(2)) {}
    ~Console() {
        const std::string outText = out_->text(), errText = err_->text();
        err_.reset();
        out_.reset();
        if (::testing::Test::HasFailure()) {
            auto tail = [](const std::string& t) {
                return t.size() > 6000 ? "…" + t.substr(t.size() - 6000) : t;
            };
            std::cerr << "---- captured stdout\n"
                      << tail(outText) << "\n---- captured stderr\n"
                      << tail(errText) << std::endl;
        }
        if (!notes_.empty()) std::cerr << notes_ << std::flush;
    }
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;
    const rig::OutputCapture& out() const { return *out_; }
    std::string text() const { return out_->text(); }
    std::string errText() const { return err_->text(); }
    // A line for the log, written when the capture ends.
    void note(const std::string& line) { notes_ += line + "\n"; }

private:
    std::string notes_;
    std::unique_ptr<rig::OutputCapture> out_, err_;
};

// A broker, a platform whose init reply names it on a topic of the test's own,
// and the console captured from then on: where the tests of the running
// channel start. The init reply is made from `settings` at each init (with a
// client id of its own each time unless settings.clientId is set), so a test
// may change the settings before it initialises.
struct BrokerSite {
    explicit BrokerSite(const char* topicName) {
        settings.uri = broker.uri();
        settings.topic = uniqueTopic(topicName);
        platform.setHandler("/api/client/init.do", [this](const rig::RecordedRequest&) {
            rig::Reply reply;
            reply.body = initReply(settings);
            return reply;
        });
    }
    BrokerSite(const BrokerSite&) = delete;
    BrokerSite& operator=(const BrokerSite&) = delete;

    // The channel's line for a subscription to the topic, and how often it came.
    std::string subscribedLine() const {
        return "sub topic: " + settings.topic + " ,return code : 0\n";
    }
    size_t subscriptions() const { return occurrences(console.text(), subscribedLine()); }

    InitSettings settings;  // first made, last gone: the platform's handler reads it
    rig::Broker broker;
    rig::PlatformServer platform;
    Console console;
};

using rig::CommandLog;
using rig::RecordingCommands;

}  // namespace reltest

#endif
