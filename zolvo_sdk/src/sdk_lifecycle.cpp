// Global state, load-time construction, registrations, unInit and teardown.
#include "mqtt_channel.h"
#include "sdk_state.h"

namespace zolvo_sdk {

SdkConfig* g_config = new SdkConfig();
CommandInterface* g_commandInterface = nullptr;
CallBackFun g_callBackFun = nullptr;
MqttCommandClient* g_mqttClient = nullptr;

ZOLVOSDK::ZOLVOSDK() = default;

ZOLVOSDK& ZOLVOSDK::operator=(const ZOLVOSDK&) { return *this; }

void ZOLVOSDK::unInit() {
    if (g_config == nullptr) return;
    g_config->initialized = false;
    // TODO(channel): stop the MQTT thread and disconnect.
    g_config->mqttStarted = false;
}

void ZOLVOSDK::setCallBackFun(CallBackFun fn) {
    if (fn == nullptr) return;
    g_callBackFun = fn;
    if (g_commandInterface != nullptr) {
        delete g_commandInterface;
        g_commandInterface = nullptr;
    }
}

void ZOLVOSDK::setCommandInterface(CommandInterface* object) {
    g_commandInterface = object;
    g_callBackFun = nullptr;
}

ZOLVOSDK::~ZOLVOSDK() {
    // TODO(channel): stop the channel and delete g_mqttClient first.
    if (g_commandInterface != nullptr) {
        delete g_commandInterface;
        g_commandInterface = nullptr;
    }
    if (g_config != nullptr) {
        delete g_config;
        g_config = nullptr;
    }
}

}  // namespace zolvo_sdk
