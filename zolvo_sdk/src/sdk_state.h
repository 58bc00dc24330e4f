// The library's settings record and its state (the stored settings and the
// two flags).
#ifndef ZOLVO_SDK_SDK_STATE_H
#define ZOLVO_SDK_SDK_STATE_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "zolvo_sdk/zolvo_sdk.h"

namespace zolvo_sdk {

// The settings of one successful init: the caller's codes, key and base
// address and the platform's client settings. A published record is never
// changed: init builds a new one whole and publishes it at once.
struct SdkConfig {
    std::string url;  // base address; request address = url + endpoint path
    std::string key;  // merchant signing key (never sent)
    std::string manufacturer;
    std::string parkCode;
    std::string sysCode;
    std::string channelNumber;
    int32_t prepaymentType = 0;
    std::string mqttAddress;
    std::string mqttUsername;
    std::string mqttPassword;
    std::string mqttClientId;
    std::string mqttTopic;
    int32_t mqttQos = 0;
    int32_t mqttTimeout = 0;
    int32_t mqttConnectTimeout = 0;
    int32_t mqttKeepAliveInterval = 0;
    int32_t mqttCleanSession = 0;
    int32_t useSslTls = 0;
    std::string sslTlsVersion;
};

using SdkConfigPtr = std::shared_ptr<const SdkConfig>;

// The stored settings and the initialised flag, changed together under one
// lock. A reader takes the settings as one snapshot and keeps using it, while
// init may publish newer settings and unInit or the teardown go on.
class SdkState {
public:
    // The stored settings: those of the last successful init, kept by unInit
    // (before the first init, empty texts and zeros). Null once torn down.
    SdkConfigPtr config() const;
    // The stored settings while initialised, else null (flag and settings
    // read together).
    SdkConfigPtr initializedConfig() const;
    bool initialized() const;
    bool tornDown() const;

    // Stores `config` and sets the initialised flag, in one step. false, and
    // nothing stored, once torn down.
    bool publish(SdkConfigPtr config);
    // Clears the initialised flag; false when torn down.
    bool clearInitialized();
    // Clears the initialised flag if the lock is free at once (at the
    // process's end, when a thread that held it is gone for good).
    void clearInitializedAtExit();
    // Drops the stored settings for good (snapshots still held stay valid)
    // and clears the initialised flag.
    void tearDown();

    // Set, under the channel's mutex, by the channel thread whose receive loop
    // has given up with no stop requested; cleared by unInit on the host's
    // thread once the channel has stopped. A starting channel thread reads it
    // under the channel's mutex and does not connect while it is set.
    std::atomic<bool> mqttStarted{false};

private:
    mutable std::mutex mutex_;
    SdkConfigPtr config_ = std::make_shared<const SdkConfig>();  // null: torn down
    bool initialized_ = false;
};

// The one state of the process, made on first use and never destroyed: a
// thread may still use it during or after the teardown and static destruction.
SdkState& sdkState();

}  // namespace zolvo_sdk

#endif
