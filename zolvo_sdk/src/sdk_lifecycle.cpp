// Global state, load-time construction, registrations, unInit and teardown.
#include "mqtt_channel.h"
#include "sdk_state.h"

namespace zolvo_sdk {

// Made by the library's static construction, before the host's first call.
SdkConfig* g_config = new SdkConfig();
CommandInterface* g_commandInterface = nullptr;
CallBackFun g_callBackFun = nullptr;
MqttCommandClient* g_mqttClient = nullptr;

ZOLVOSDK::ZOLVOSDK() = default;

ZOLVOSDK& ZOLVOSDK::operator=(const ZOLVOSDK&) { return *this; }

void ZOLVOSDK::unInit() {
    if (g_config == nullptr) return;  // torn down: nothing left to change
    g_config->initialized = false;
    // The channel's own thread disconnects and destroys its handle; the client
    // object and its settings stay for the next init.
    stopMqttChannel();
    if (g_config != nullptr) g_config->mqttStarted = false;
}

void ZOLVOSDK::setCallBackFun(CallBackFun fn) { registerCallBackFun(fn); }

void ZOLVOSDK::setCommandInterface(CommandInterface* object) { registerCommandInterface(object); }

ZOLVOSDK::~ZOLVOSDK() {
    // The channel stops before the client and the callback object go.
    stopMqttChannel();
    teardownMqttClient();
    SdkConfig* config = g_config;
    g_config = nullptr;
    delete config;
}

}  // namespace zolvo_sdk
