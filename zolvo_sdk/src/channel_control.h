// The MQTT command channel's control: starts and stops of the channel's
// threads (one thread per start, one client object per process), the host's
// registration, and the ownership of the callback objects.
//
// The channel's thread is the only thread that touches the client's Paho handle.
// Other threads reach the channel through a stop request (unInit, teardown) and
// through the registration, both guarded by the channel's mutex; no lock is
// ever held while the host's callback runs.
//
// A callback object the library holds has one owner at a time: the
// registration, until a channel thread hands it to the client, then the
// client (the registration only names it meanwhile), and, when it is released
// while one of its functions runs, the channel until that call has returned.
#ifndef ZOLVO_SDK_CHANNEL_CONTROL_H
#define ZOLVO_SDK_CHANNEL_CONTROL_H

#include <chrono>
#include <cstddef>

#include "mqtt_command_client.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace zolvo_sdk {

// Starts one detached thread running the channel and returns at once.
void startMqttThread();
// Body of the MQTT thread (also usable on a thread of the caller's own).
void startMqtt();

// Registration of the library (the two public setters). A function deletes the
// registered object (after its running call, if any); an object replaces the
// registration without deleting the object registered before.
void registerCallBackFun(CallBackFun fn);
void registerCommandInterface(CommandInterface* object);
// Whether a callback function or object is registered.
bool callbackRegistered();

// Asks every running channel thread to stop and waits until they have disconnected
// and ended, 11 s at most (the disconnect time-out and one second), whatever the
// receive time-out is. From then on no thread hands a message to the host. Called
// on a channel thread, it does not wait for that thread, which stops once the
// running callback has returned.
void stopMqttChannel();

// Teardown, after stopMqttChannel: deletes the client object (or leaves its
// deletion to the channel thread still inside it) with the callback object it
// owns, and then the registered callback object. A callback object whose
// function is running is deleted as soon as that call returns.
void teardownMqttClient();

// Hands one payload to `client` as its receive loop does (copied, cut at 1023
// bytes, an empty one skipped), with no connection: the callback function and
// the callback object the client holds get it on the calling thread.
void deliverPayloadForTesting(MqttCommandClient& client, const void* payload, int length);
// Marks `client` as run by a channel thread that is then asked to stop, with
// no thread: what it is handed afterwards goes nowhere.
void requestStopForTesting(MqttCommandClient& client);

// Delay before each reconnection attempt (60 s unless changed for tests).
void setReconnectWaitForTesting(std::chrono::milliseconds wait);
// Channel threads started and not yet ended.
std::size_t channelThreadCountForTesting();
// Whether a channel thread that a stop request concerns is still running.
bool channelStopPendingForTesting();
// The client object of the process (null before the first start and after the
// teardown), and the registration; read them while no channel runs.
MqttCommandClient* channelClientForTesting();
CommandInterface* registeredCommandInterfaceForTesting();
CallBackFun registeredCallBackFunForTesting();

}  // namespace zolvo_sdk

#endif
