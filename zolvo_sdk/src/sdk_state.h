// The library's one configuration and state record and its global pointers.
#ifndef ZOLVO_SDK_SDK_STATE_H
#define ZOLVO_SDK_SDK_STATE_H

#include <atomic>
#include <cstdint>
#include <string>

#include "zolvo_sdk/zolvo_sdk.h"

namespace zolvo_sdk {

class MqttCommandClient;

struct SdkConfig {
    std::string url;            // base address; request address = url + endpoint path
    std::string key;            // merchant signing key (never sent)
    std::string manufacturer;
    std::string parkCode;
    std::string sysCode;
    std::string channelNumber;
    // Written on the host's thread, read on the MQTT thread.
    std::atomic<bool> initialized{false};
    std::atomic<bool> mqttStarted{false};
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

// Created at load time; deleted (and cleared) only by ~ZOLVOSDK.
extern SdkConfig* g_config;
// The registered callback object; owned by the library from registration on.
extern CommandInterface* g_commandInterface;
extern CallBackFun g_callBackFun;
// Created by the first start of the command channel; deleted only by ~ZOLVOSDK.
extern MqttCommandClient* g_mqttClient;

}  // namespace zolvo_sdk

#endif
