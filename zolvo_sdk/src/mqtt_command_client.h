// The channel's MQTT client: the broker settings, the Paho connection handle and
// the callback registration of the one client object of the process.
//
// The handle is the client's own: `connect` creates it, and only its owner
// below destroys it (when `disconnect` or a failed connect lets it go, or with
// the client). Only the channel's thread runs `connect`, `receiveLoop`,
// `againConnect` and `disconnect`, so no other thread touches the handle.
#ifndef ZOLVO_SDK_MQTT_COMMAND_CLIENT_H
#define ZOLVO_SDK_MQTT_COMMAND_CLIENT_H

#include <MQTTClient.h>

#include <cstdint>
#include <memory>
#include <string>

#include "zolvo_sdk/zolvo_sdk.h"

namespace zolvo_sdk {

// How long a disconnect waits for the broker.
constexpr int kDisconnectTimeoutMs = 10000;

// The one owner of a callback object the library holds.
using CommandObject = std::unique_ptr<CommandInterface>;

class ChannelControl;

class MqttCommandClient {
public:
    // Copies every setting. Texts are kept whole, whatever their length.
    MqttCommandClient(const std::string& address, const std::string& username,
                      const std::string& password, const std::string& clientId,
                      const std::string& topic, int qos, int timeout, int connectTimeout,
                      int keepAliveInterval, int cleanSession, int useSslTls,
                      const std::string& sslTlsVersion);
    // Deletes the callback object it owns (after its running call, if any).
    // Does not disconnect: the channel's thread has done so before.
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
    // A function replaces the callback object, which is deleted (after its
    // running call, if any); null changes nothing.
    void setCallBackFun(CallBackFun fn);
    // The client takes `object` and clears the function. The object it held
    // before is not deleted: it goes back to the library's registration if that
    // still names it, and is no longer the library's otherwise.
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
    const int useSslTls;              // stored, never used
    const std::string sslTlsVersion;  // stored, never used

    // Whether a handle exists; read it only while no channel thread runs the client.
    bool handleOpenForTesting() const { return handle != nullptr; }
    // The registration the client holds; read it only while no channel runs.
    CommandInterface* commandInterfaceForTesting() const { return commandInterface.get(); }
    CallBackFun callBackFunForTesting() const { return callBackFun; }
    // Holds both a function and an object (which the client then owns), as no
    // setter leaves it: the dispatch calls the function first, then the object.
    void holdBothForTesting(CallBackFun fn, CommandInterface* object);

private:
    // The start, stop and registration logic of the channel reads and writes
    // the registration and the start generation under its mutex.
    friend class ChannelControl;
    friend void deliverPayloadForTesting(MqttCommandClient& client, const void* payload,
                                         int length);
    friend void requestStopForTesting(MqttCommandClient& client);

    struct HandleDestroy {
        void operator()(void* handle) const;
    };
    using Handle = std::unique_ptr<void, HandleDestroy>;

    // One receive with the `timeout` setting, as Paho's, waited for in short
    // slices; a stop request ends it early with no message and sets `stopped`.
    int receive(char** topicName, int* topicLength, MQTTClient_message** message, bool& stopped);
    // Whether the thread running this client is asked to stop (channel thread).
    bool stopRequested() const;
    // Waits the reconnect delay; false when a stop request came meanwhile.
    bool waitBeforeReconnect() const;
    // Logs one received text and hands it to the callback function, then to
    // the callback object (see channel_control.cpp).
    void deliver(const char* text);

    // The broker connection; empty until `connect`, empty again after `disconnect`.
    Handle handle;
    // Guarded by the channel's mutex. At most one of the two is set.
    CommandObject commandInterface;
    CallBackFun callBackFun = nullptr;
    // Start generation of the thread that runs this client, 0 while none does;
    // a stop request makes it stale. Written under the channel's mutex by that thread.
    uint64_t epoch = 0;
};

}  // namespace zolvo_sdk

#endif
