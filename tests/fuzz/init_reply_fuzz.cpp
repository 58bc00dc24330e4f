// An init reply body through init's reply reading.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "init_reply.h"

namespace {

using zolvo_sdk::ReplyOutcome;
using zolvo_sdk::SdkConfig;

SdkConfig sentinel() {
    SdkConfig s;
    s.prepaymentType = 7;
    s.mqttAddress = "untouched";
    s.mqttQos = -7;
    s.sslTlsVersion = "untouched";
    return s;
}

bool sameSettings(const SdkConfig& a, const SdkConfig& b) {
    return a.prepaymentType == b.prepaymentType && a.mqttAddress == b.mqttAddress &&
           a.mqttUsername == b.mqttUsername && a.mqttPassword == b.mqttPassword &&
           a.mqttClientId == b.mqttClientId && a.mqttTopic == b.mqttTopic &&
           a.mqttQos == b.mqttQos && a.mqttTimeout == b.mqttTimeout &&
           a.mqttConnectTimeout == b.mqttConnectTimeout &&
           a.mqttKeepAliveInterval == b.mqttKeepAliveInterval &&
           a.mqttCleanSession == b.mqttCleanSession && a.useSslTls == b.useSslTls &&
           a.sslTlsVersion == b.sslTlsVersion;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string reply(reinterpret_cast<const char*>(data), size);
    SdkConfig settings = sentinel();
    const ReplyOutcome outcome = zolvo_sdk::readReply(reply, settings);

    // Settings are stored only from a successful reply, and only whole.
    if (outcome != ReplyOutcome::kSuccess) FUZZ_CHECK(sameSettings(settings, sentinel()));

    // The reply is read up to its first NUL: what follows changes nothing.
    const std::string cut(reply.c_str());
    if (cut.size() != reply.size()) {
        SdkConfig again = sentinel();
        FUZZ_CHECK(zolvo_sdk::readReply(cut, again) == outcome);
        FUZZ_CHECK(sameSettings(again, settings));
    }
    // A success needs the code "0000", which an empty or non-JSON text cannot hold.
    if (outcome == ReplyOutcome::kSuccess)
        FUZZ_CHECK(cut.find('0') != std::string::npos || cut.find('\\') != std::string::npos);
    return 0;
}
