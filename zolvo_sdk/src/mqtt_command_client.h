// The channel's MQTT client: the broker settings and the Paho connection handle.
//
// The handle is the client's own: `connect` creates it, and only its owner
// below destroys it (when `disconnect` or a failed connect lets it go, or with
// the client). One thread at a time runs a client, so no two threads touch the
// handle. What the client needs of the channel that runs it (whether a stop is
// requested, the reconnect delay, where a received text goes) it asks through
// a `ClientLink`.
#ifndef ZOLVO_SDK_MQTT_COMMAND_CLIENT_H
#define ZOLVO_SDK_MQTT_COMMAND_CLIENT_H

#include <memory>
#include <string>

namespace zolvo_sdk {

// How long a disconnect waits for the broker.
constexpr int kDisconnectTimeoutMs = 10000;
// The connect result of a broker that could not be reached (Paho's general
// failure), as against a refusal by the broker (its return codes 1 to 5).
constexpr int kConnectFailure = -1;

// The text of a received payload: its bytes followed by a NUL. The platform's
// commands fit in 1023 bytes; a longer payload is cut there.
struct PayloadText {
    char text[1024];
    PayloadText(const void* payload, int length);
};

// What a client asks of the channel whose thread runs it.
class ClientLink {
public:
    // Whether the thread running the client is asked to stop.
    virtual bool stopRequested() const = 0;
    // Waits the delay before a reconnection attempt; false when a stop request
    // came meanwhile.
    virtual bool waitBeforeReconnect() const = 0;
    // One received text: non-empty, NUL-terminated, at most 1023 bytes, valid
    // during the call only.
    virtual void deliver(const char* text) = 0;

protected:
    ~ClientLink() = default;
};

class MqttCommandClient {
public:
    // Copies every setting. Texts are kept whole, whatever their length.
    MqttCommandClient(const std::string& address, const std::string& username,
                      const std::string& password, const std::string& clientId,
                      const std::string& topic, int qos, int timeout, int connectTimeout,
                      int keepAliveInterval, int cleanSession, int useSslTls,
                      const std::string& sslTlsVersion);
    // Destroys the handle, if any, without disconnecting: the thread that ran
    // the client has done so before.
    ~MqttCommandClient();
    MqttCommandClient(const MqttCommandClient&) = delete;
    MqttCommandClient& operator=(const MqttCommandClient&) = delete;

    // Creates the handle, connects and subscribes. 0, or the code of the create
    // or connect call that failed (the handle is then empty again). With a
    // `link` that asks to stop once connected, it disconnects before
    // subscribing and returns 0 with an empty handle.
    int connect(const ClientLink* link = nullptr);
    // Receives and hands each non-empty text to `link` until the channel gives
    // up or `link` asks it to stop (seen within one receive slice). Leaves with
    // an empty handle.
    void receiveLoop(ClientLink& link);
    // Reconnect procedure, after a lost connection and (run by the channel)
    // after a first connect that could not reach the broker. true: connected
    // again; false: gave up or asked to stop (the handle is empty then).
    bool againConnect(const ClientLink& link);
    // Disconnects (up to 10 s) and destroys the handle; nothing with an empty handle.
    void disconnect();
    // Whether a handle exists; ask only while no thread runs the client.
    bool hasHandle() const { return handle_ != nullptr; }

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

private:
    struct HandleDestroy {
        void operator()(void* handle) const;
    };
    using Handle = std::unique_ptr<void, HandleDestroy>;

    // The broker connection; empty until `connect`, empty again after `disconnect`.
    Handle handle_;
};

}  // namespace zolvo_sdk

#endif
