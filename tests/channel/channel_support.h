// Shared pieces of the channel tests: a recording callback object and a way to
// bring the command channel up against a broker of the rig.
#ifndef ZOLVO_TESTS_CHANNEL_SUPPORT_H
#define ZOLVO_TESTS_CHANNEL_SUPPORT_H

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "channel_control.h"
#include "rig.h"
#include "sdk_state.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace chantest {

using namespace std::chrono_literals;
using rig::occurrences;

inline std::string join(const std::vector<std::string>& parts) {
    std::string s;
    for (size_t i = 0; i < parts.size(); ++i) s += (i ? "|" : "") + parts[i];
    return s;
}

// Every call as "function|arg|arg…"; counts deletions and calls made after deletion.
struct Calls {
    std::mutex mutex;
    std::vector<std::string> list;
    std::atomic<int> deleted{0};
    std::atomic<int> callsAfterDelete{0};

    void add(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex);
        list.push_back(call);
    }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return list;
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return list.size();
    }
};

class Recorder : public zolvo_sdk::CommandInterface {
public:
    explicit Recorder(Calls& calls) : calls_(calls) {}
    ~Recorder() override {
        alive_ = false;
        ++calls_.deleted;
    }
    void queryOrder(std::string parkCode, std::string orderId, std::string carNumber) override {
        note({"queryOrder", parkCode, orderId, carNumber});
    }
    void scanQrCodePay(std::string parkCode, std::string sysCode, std::string channel,
                       std::string scanNumber, std::string orderId, std::string carNumber,
                       int tempCar) override {
        note({"scanQrCodePay", parkCode, sysCode, channel, scanNumber, orderId, carNumber,
              std::to_string(tempCar)});
    }
    void scanQrEntry(std::string parkCode, std::string sysCode, std::string channel,
                     std::string carNumber, std::string scanNumber) override {
        note({"scanQrEntry", parkCode, sysCode, channel, carNumber, scanNumber});
    }
    void noticeOfPaymentResult(std::string orderId, std::string carNumber, int payStatus,
                               int payAmount, int duration, std::string inTime, std::string outTime,
                               std::string payTime, int payMethod, std::string parkCode) override {
        note({"noticeOfPaymentResult", orderId, carNumber, std::to_string(payStatus),
              std::to_string(payAmount), std::to_string(duration), inTime, outTime, payTime,
              std::to_string(payMethod), parkCode});
    }

protected:
    void note(const std::vector<std::string>& call) {
        if (!alive_) ++calls_.callsAfterDelete;
        calls_.add(join(call));
    }
    Calls& calls_;

private:
    std::atomic<bool> alive_{true};
};

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

inline bool waitNoChannelThread(std::chrono::milliseconds timeout = 15s) {
    return rig::waitUntil([] { return zolvo_sdk::channelThreadCountForTesting() == 0; }, timeout);
}

}  // namespace chantest

#endif
