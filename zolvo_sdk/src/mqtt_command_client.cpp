// The channel's MQTT client over Paho's synchronous client (no callbacks set on
// it, messages pulled with MQTTClient_receive): connect, receive, reconnect,
// disconnect.
#include "mqtt_command_client.h"

#include <MQTTClient.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>

namespace zolvo_sdk {

namespace {

// A receive waits for messages in slices of this long, so that the channel's
// thread sees a stop request within one slice whatever the platform's receive
// time-out is. It is also the shortest wait: a time-out of 0 would otherwise
// turn an idle channel into a busy loop writing thousands of lines a second. A
// message ends a receive as soon as it comes, so the longer wait delays no
// command, and an idle channel writes its line at most five times a second.
constexpr int kReceiveSliceMs = 200;

static_assert(kConnectFailure == MQTTCLIENT_FAILURE, "the channel's name for Paho's failure");

// What one receive hands back (a message and its topic name, either may be
// null), freed with this owner on every way out.
struct Received {
    char* topicName = nullptr;
    int topicLength = 0;
    MQTTClient_message* message = nullptr;

    Received() = default;
    ~Received() {
        if (message != nullptr) MQTTClient_freeMessage(&message);
        if (topicName != nullptr) MQTTClient_free(topicName);
    }
    Received(const Received&) = delete;
    Received& operator=(const Received&) = delete;
};

// One receive with the client's time-out, as Paho's, waited for in short
// slices; a stop request ends it early with no message and sets `stopped`.
int receive(MQTTClient handle, int timeout, const ClientLink& link, Received& got, bool& stopped) {
    stopped = false;
    // A time-out of at most one slice (0, return at once, included): one
    // receive of one slice.
    if (timeout >= 0 && timeout <= kReceiveSliceMs)
        return MQTTClient_receive(handle, &got.topicName, &got.topicLength, &got.message,
                                  kReceiveSliceMs);
    // A longer one, or a negative one (Paho reads it as unsigned: no time-out, the
    // receive waits for a message), in slices that keep the same end.
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        long slice = kReceiveSliceMs;
        if (timeout > 0) {
            const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count();
            if (waited >= timeout) return MQTTCLIENT_SUCCESS;  // the time-out, no message
            slice = std::min<long>(slice, timeout - waited);
        }
        int rc = MQTTClient_receive(handle, &got.topicName, &got.topicLength, &got.message, slice);
        if (rc != MQTTCLIENT_SUCCESS || got.message != nullptr) return rc;
        if (link.stopRequested()) {
            stopped = true;
            return rc;
        }
    }
}

}  // namespace

PayloadText::PayloadText(const void* payload, int length) {
    std::size_t kept = length > 0 ? std::min<std::size_t>(length, sizeof text - 1) : 0;
    if (kept > 0) std::memcpy(text, payload, kept);
    text[kept] = '\0';
}

MqttCommandClient::MqttCommandClient(const std::string& address_, const std::string& username_,
                                     const std::string& password_, const std::string& clientId_,
                                     const std::string& topic_, int qos_, int timeout_,
                                     int connectTimeout_, int keepAliveInterval_, int cleanSession_,
                                     int useSslTls_, const std::string& sslTlsVersion_)
    : address(address_),
      username(username_),
      password(password_),
      clientId(clientId_),
      topic(topic_),
      qos(qos_),
      timeout(timeout_),
      connectTimeout(connectTimeout_),
      keepAliveInterval(keepAliveInterval_),
      cleanSession(cleanSession_),
      useSslTls(useSslTls_),
      sslTlsVersion(sslTlsVersion_) {}

MqttCommandClient::~MqttCommandClient() = default;

int MqttCommandClient::connect(const ClientLink* link) {
    MQTTClient created = nullptr;
    int rc = MQTTClient_create(&created, address.c_str(), clientId.c_str(),
                               MQTTCLIENT_PERSISTENCE_NONE, nullptr);
    if (rc != MQTTCLIENT_SUCCESS) {
        handle_.reset();
        return rc;
    }
    handle_.reset(created);
    MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
    options.MQTTVersion = 0;
    options.connectTimeout = connectTimeout;
    options.keepAliveInterval = keepAliveInterval;
    options.cleansession = cleanSession;
    options.username = username.c_str();
    options.password = password.c_str();
    rc = MQTTClient_connect(handle_.get(), &options);
    if (rc != MQTTCLIENT_SUCCESS) {
        printf("Failed to connect, return code %d\n", rc);
        fflush(stdout);
        handle_.reset();
        return rc;
    }
    // Stopped while connecting: the connection goes before anything is
    // subscribed, so that no message is taken (and acknowledged) for nobody.
    if (link != nullptr && link->stopRequested()) {
        disconnect();
        return MQTTCLIENT_SUCCESS;
    }
    rc = MQTTClient_subscribe(handle_.get(), topic.c_str(), qos);
    if (rc == MQTTCLIENT_SUCCESS) {
        // The topic as subscribed: a setting with a NUL inside ends there.
        std::cout << "sub topic: " << topic.c_str() << " ,return code : " << rc << std::endl;
    }
    return 0;
}

void MqttCommandClient::disconnect() {
    if (handle_ == nullptr) return;
    MQTTClient_disconnect(handle_.get(), kDisconnectTimeoutMs);
    handle_.reset();
}

// The one place where a handle is destroyed.
void MqttCommandClient::HandleDestroy::operator()(void* owned) const {
    MQTTClient doomed = owned;
    MQTTClient_destroy(&doomed);
}

void MqttCommandClient::receiveLoop(ClientLink& link) {
    for (;;) {
        if (link.stopRequested()) {
            disconnect();
            return;
        }
        bool stopped = false;
        int rc = MQTTCLIENT_SUCCESS;
        std::optional<PayloadText> text;
        {
            // The message and its topic are freed here, before the text is handed on.
            Received got;
            rc = receive(handle_.get(), timeout, link, got, stopped);
            if (rc == MQTTCLIENT_SUCCESS && got.message != nullptr && got.message->payloadlen != 0)
                text.emplace(got.message->payload, got.message->payloadlen);
            else if (rc == MQTTCLIENT_SUCCESS && got.message != nullptr)
                continue;  // an empty payload is skipped
        }
        if (text) {
            // A message that comes once a stop is requested is left unhandled.
            if (!link.stopRequested()) link.deliver(text->text);
            continue;
        }
        if (stopped) continue;
        std::cout << "Receive message failed ==> " << rc << std::endl;
        if (rc == MQTTCLIENT_DISCONNECTED) {
            std::cout << "Network connection exception ! " << std::endl;
            std::cout << "call againConnect()" << std::endl;
            if (!againConnect(link)) return;
        }
    }
}

bool MqttCommandClient::againConnect(const ClientLink& link) {
    std::cout << "begin again connect" << std::endl;
    disconnect();
    for (;;) {
        if (!link.waitBeforeReconnect()) return false;
        int rc = connect(&link);
        if (link.stopRequested()) {
            disconnect();
            return false;
        }
        if (rc == MQTTCLIENT_SUCCESS) {
            std::cout << "again connect success " << std::endl;
            std::cout << "again connect [start subscribe] " << std::endl;
            return true;
        }
        if (rc != kConnectFailure) {
            std::cout << "end again connect" << std::endl;
            return false;
        }
    }
}

}  // namespace zolvo_sdk
