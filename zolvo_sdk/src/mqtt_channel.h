// The MQTT command channel: one client object per process, one thread per start.
//
// The channel's thread is the only thread that touches the client's Paho handle.
// Other threads reach the channel through a stop request (unInit, teardown) and
// through the handover of the callback object, both guarded by the channel's
// mutex; no lock is ever held while the host's callback runs.
#ifndef ZOLVO_SDK_MQTT_CHANNEL_H
#define ZOLVO_SDK_MQTT_CHANNEL_H

#include <MQTTClient.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "zolvo_sdk/zolvo_sdk.h"

namespace zolvo_sdk {

class MqttCommandClient {
public:
    // Copies every setting. Texts are kept whole, whatever their length.
    MqttCommandClient(const std::string& address, const std::string& username,
                      const std::string& password, const std::string& clientId,
                      const std::string& topic, int qos, int timeout, int connectTimeout,
                      int keepAliveInterval, int cleanSession, int useSslTls,
                      const std::string& sslTlsVersion);
    // Deletes the callback object it holds (once, see releaseCommandInterface).
    // Does not touch the connection.
    ~MqttCommandClient();
    MqttCommandClient(const MqttCommandClient&) = delete;
    MqttCommandClient& operator=(const MqttCommandClient&) = delete;

    // Creates the handle, connects and subscribes. 0, or the code of the create
    // or connect call that failed (the handle is then empty again).
    int connect();
    // Receives and dispatches until the channel gives up or is asked to stop
    // (seen within one receive slice). Leaves with an empty handle.
    void receiveLoop();
    // Reconnect procedure. true: connected again; false: gave up or asked to stop
    // (the handle is empty then).
    bool againConnect();
    // Disconnects (up to 10 s) and destroys the handle; nothing with an empty handle.
    void disconnect();
    void setCallBackFun(CallBackFun fn);
    void setCommandInterface(CommandInterface* object);

    // Settings, as copied at construction.
    const std::string address;
    const std::string username;
    const std::string password;
    const std::string clientId;
    const std::string topic;
    const int qos;
    const int timeout;            // receive time-out, milliseconds (negative: none)
    const int connectTimeout;     // seconds
    const int keepAliveInterval;  // seconds
    const int cleanSession;
    const int useSslTls;          // stored, never used
    const std::string sslTlsVersion;  // stored, never used

    // Used by the channel's thread only.
    MQTTClient handle = nullptr;

    // Guarded by the channel mutex (read them in tests only while no channel runs).
    CommandInterface* commandInterface = nullptr;
    CallBackFun callBackFun = nullptr;

    // Start generation of the thread that runs this client; a stop request
    // makes it stale. Written under the channel mutex when a thread takes the client.
    uint64_t epoch = 0;

private:
    friend void deliverPayloadForTesting(MqttCommandClient& client, const void* payload,
                                         int length);
    bool stopRequested() const;
    // One receive with the `timeout` setting, as Paho's, waited for in short
    // slices; a stop request ends it early with no message and sets `stopped`.
    int receive(char** topicName, int* topicLength, MQTTClient_message** message,
                bool& stopped);
    // Waits the reconnect delay; false when a stop request came meanwhile.
    bool waitBeforeReconnect() const;
    void handleMessage(const char* text);
    void dispatch(CommandInterface* object, const char* text);
};

// Starts one detached thread running the channel and returns at once.
void startMqttThread();
// Body of the MQTT thread (also usable on a thread of the caller's own).
void startMqtt();

// Registration of the library (the two public setters), done under the channel mutex.
void registerCallBackFun(CallBackFun fn);
void registerCommandInterface(CommandInterface* object);

// Asks every running channel thread to stop and waits until they have disconnected
// and ended, 11 s at most (the disconnect time-out and one second), whatever the
// receive time-out is. From then on no thread hands a message to the host. Called
// on a channel thread, it does not wait for that thread, which stops once the
// running callback has returned.
void stopMqttChannel();

// Teardown, after stopMqttChannel: deletes the client object (or leaves its
// deletion to the channel thread still inside it) and then the registered
// callback object, and clears g_mqttClient and g_commandInterface.
//
// A callback object held by the registration and by the client is deleted
// exactly once: every holder forgets it first, and when a callback on it is
// running, the channel deletes it as soon as that call returns.
void teardownMqttClient();

// Hands one payload to `client` as its receive loop does (copied, cut at 1023
// bytes, an empty one skipped), with no connection: the callback function and
// the callback object the client holds get it on the calling thread.
void deliverPayloadForTesting(MqttCommandClient& client, const void* payload, int length);

// Delay before each reconnection attempt (60 s unless changed for tests).
void setReconnectWaitForTesting(std::chrono::milliseconds wait);
// Channel threads started and not yet ended.
std::size_t channelThreadCountForTesting();
// Whether a channel thread that a stop request concerns is still running.
bool channelStopPendingForTesting();

}  // namespace zolvo_sdk

#endif
