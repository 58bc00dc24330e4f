// The init road: argument tests, the signed init request, reading the
// platform's reply into the configuration record, and the start of the
// command channel.
#include <json/json.h>

#include <cstring>
#include <exception>
#include <memory>

#include "command_channel.h"
#include "endpoints_and_results.h"
#include "http_client.h"
#include "init_reply.h"
#include "result_text.h"
#include "sdk_state.h"
#include "signing.h"

namespace zolvo_sdk {

namespace {

// Reads the client settings from `data` into a copy of `config` and stores them
// only when all could be read. Throws Json::Exception when `data` is not an
// object (or null) or a member has a type that cannot be read as asked.
void readSettings(const Json::Value& data, SdkConfig& config) {
    SdkConfig s = config;
    s.prepaymentType = data["prepaymentType"].asInt();
    s.mqttAddress = data["mqttAddress"].asString();
    s.mqttUsername = data["mqttUsername"].asString();
    s.mqttPassword = data["mqttPassword"].asString();
    s.mqttClientId = data["mqttClientId"].asString();
    s.mqttTopic = data["mqttTopic"].asString();
    s.mqttQos = data["mqttQos"].asInt();
    s.mqttTimeout = data["mqttTimeout"].asInt();
    s.mqttConnectTimeout = data["mqttConnectTimeout"].asInt();
    s.mqttKeepAliveInterval = data["mqttKeepAliveInterval"].asInt();
    s.mqttCleanSession = data["mqttCleanSession"].asInt();
    s.useSslTls = data["useSslTls"].asInt();
    s.sslTlsVersion = data["sslTlsVersion"].asString();
    config = std::move(s);
}

}  // namespace

ReplyOutcome readReply(const std::string& responseStr, SdkConfig& config) {
    try {
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        const char* begin = responseStr.c_str();
        const char* end = begin + std::strlen(begin);
        Json::Value root;
        std::string errors;
        if (!reader->parse(begin, end, &root, &errors) || !errors.empty()) {
            return ReplyOutcome::kUnreadable;
        }
        // A null reply holds no code: like an object without one it is refused
        // and comes back unchanged. Any other root but an object is unreadable.
        if (!root.isObject() && !root.isNull()) return ReplyOutcome::kUnreadable;
        const std::string replyCode = root.isNull() ? std::string() : root["code"].asString();
        if (replyCode != code::kSuccess) return ReplyOutcome::kRefused;
        const Json::Value data = root["data"];
        readSettings(data, config);
        return ReplyOutcome::kSuccess;
    } catch (const std::exception&) {
        // Json::Exception for a member of an unexpected type, a runtime error
        // for a reply nested too deeply, or an allocation failure.
        return ReplyOutcome::kUnreadable;
    }
}

std::string ZOLVOSDK::init(std::string manufacturer, std::string parkCode, std::string sysCode,
                           std::string channelNumber, std::string key, std::string url) {
    SdkState& state = sdkState();
    // After the library's state has been torn down nothing can be initialised.
    if (state.tornDown()) return resultText(code::kState, msg::kNotInitialized);

    if (state.initialized()) return resultText(code::kState, msg::kAlreadyInitialized);
    if (!isPresent(manufacturer)) return resultText(code::kArgument, msg::kNoManufacturer);
    if (!isPresent(parkCode)) return resultText(code::kArgument, msg::kNoParkCode);
    if (!isPresent(sysCode)) return resultText(code::kArgument, msg::kNoSysCode);
    if (!isPresent(channelNumber)) return resultText(code::kArgument, msg::kNoChannelNumber);
    if (!isPresent(key)) return resultText(code::kArgument, msg::kNoKey);
    if (!CommandChannel::instance().callbackRegistered()) {
        return resultText(code::kArgument, msg::kNoCallback);
    }

    const std::string baseUrl = baseUrlOrDefault(url);
    const std::string nonceStr = Util::randomString();
    std::string dataStr = "channelNumber=" + channelNumber + "&manufacturer=" + manufacturer +
                          "&nonceStr=" + nonceStr + "&parkCode=" + parkCode + "&sysCode=" + sysCode;
    dataStr = signRequest(dataStr, key);
    const std::string address = baseUrl + endpoint::kInit;

    HttpClient client;
    const std::string responseStr = client.post(address, dataStr);
    if (responseStr.empty()) return resultText(code::kInitEmptyReply, msg::kInitEmptyReply);

    // The whole record is built first and published in one step: a request or
    // the channel on another thread sees the settings of one init, never a mix.
    auto config = std::make_shared<SdkConfig>();
    switch (readReply(responseStr, *config)) {
        case ReplyOutcome::kUnreadable:
            return resultText(code::kInitBadReply, msg::kInitBadReply);
        case ReplyOutcome::kRefused:
            return responseStr;
        case ReplyOutcome::kSuccess:
            break;
    }
    config->url = baseUrl;
    config->key = key;
    config->manufacturer = manufacturer;
    config->parkCode = parkCode;
    config->sysCode = sysCode;
    config->channelNumber = channelNumber;
    // Torn down meanwhile (on another thread): nothing is stored or started.
    const SdkConfigPtr settings = std::move(config);
    if (!state.publish(settings)) return resultText(code::kState, msg::kNotInitialized);

    // The channel starts with the settings of this init, unless the library
    // is being torn down meanwhile.
    if (!CommandChannel::instance().start(settings)) {
        return resultText(code::kState, msg::kNotInitialized);
    }
    return resultText(code::kSuccess, msg::kInitSuccess);
}

}  // namespace zolvo_sdk
