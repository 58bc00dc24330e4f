// MQTT command channel (placeholder until the channel lands).
#include "mqtt_channel.h"

#include <thread>

namespace zolvo_sdk {

void startMqtt() {}

void startMqttThread() { std::thread(startMqtt).detach(); }

}  // namespace zolvo_sdk
