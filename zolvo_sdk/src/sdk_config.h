// The settings record of one successful init.
#ifndef ZOLVO_SDK_SDK_CONFIG_H
#define ZOLVO_SDK_SDK_CONFIG_H

#include <cstdint>
#include <memory>
#include <string>

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

}  // namespace zolvo_sdk

#endif
