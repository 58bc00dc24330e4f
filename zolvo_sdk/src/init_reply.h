// Reading the platform's init reply: the client settings of a successful reply
// and the outcome of reading it. Internal to the library and its tests.
#ifndef ZOLVO_SDK_INIT_REPLY_H
#define ZOLVO_SDK_INIT_REPLY_H

#include <cstdint>
#include <string>

namespace zolvo_sdk {

// The client settings of a successful init reply, read in full before any of
// them is stored.
struct ClientSettings {
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

enum class ReplyOutcome { kSuccess, kRefused, kUnreadable };

// Parses the reply (up to its first NUL) and, on the code "0000", reads its
// settings into `settings` (left untouched otherwise). An object without that
// code, or a null, is kRefused. Never throws: every other unexpected shape is
// kUnreadable.
ReplyOutcome readReply(const std::string& responseStr, ClientSettings& settings);

}  // namespace zolvo_sdk

#endif
