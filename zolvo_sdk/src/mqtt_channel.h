// The MQTT command channel: one client object per process, one thread per start.
#ifndef ZOLVO_SDK_MQTT_CHANNEL_H
#define ZOLVO_SDK_MQTT_CHANNEL_H

#include "zolvo_sdk/zolvo_sdk.h"

namespace zolvo_sdk {

class MqttCommandClient;

// Starts one detached thread running startMqtt() and returns at once.
void startMqttThread();
// Body of the MQTT thread.
void startMqtt();

}  // namespace zolvo_sdk

#endif
