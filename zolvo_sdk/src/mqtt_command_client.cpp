// The channel's MQTT client over Paho's synchronous client (no callbacks set on
// it, messages pulled with MQTTClient_receive): connect, receive, reconnect,
// disconnect. The registration and the stop requests it consults belong to the
// channel's control (channel_control.cpp).
#include "mqtt_command_client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>

#include "command_dispatch.h"

namespace zolvo_sdk {

namespace {

// A receive waits for messages in slices of at most this long, so that the
// channel's thread sees a stop request within one slice whatever the platform's
// receive time-out is.
constexpr int kReceiveSliceMs = 200;

}  // namespace

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

int MqttCommandClient::connect() {
    MQTTClient created = nullptr;
    int rc = MQTTClient_create(&created, address.c_str(), clientId.c_str(),
                               MQTTCLIENT_PERSISTENCE_NONE, nullptr);
    if (rc != MQTTCLIENT_SUCCESS) {
        handle.reset();
        return rc;
    }
    handle.reset(created);
    MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
    options.MQTTVersion = 0;
    options.connectTimeout = connectTimeout;
    options.keepAliveInterval = keepAliveInterval;
    options.cleansession = cleanSession;
    options.username = username.c_str();
    options.password = password.c_str();
    rc = MQTTClient_connect(handle.get(), &options);
    if (rc != MQTTCLIENT_SUCCESS) {
        printf("Failed to connect, return code %d\n", rc);
        fflush(stdout);
        handle.reset();
        return rc;
    }
    rc = MQTTClient_subscribe(handle.get(), topic.c_str(), qos);
    if (rc == MQTTCLIENT_SUCCESS) {
        // The topic as subscribed: a setting with a NUL inside ends there.
        std::cout << "sub topic: " << topic.c_str() << " ,return code : " << rc << std::endl;
    }
    return 0;
}

void MqttCommandClient::disconnect() {
    if (handle == nullptr) return;
    MQTTClient_disconnect(handle.get(), kDisconnectTimeoutMs);
    handle.reset();
}

// The one place where a handle is destroyed.
void MqttCommandClient::HandleDestroy::operator()(void* owned) const {
    MQTTClient doomed = owned;
    MQTTClient_destroy(&doomed);
}

int MqttCommandClient::receive(char** topicName, int* topicLength, MQTTClient_message** message,
                               bool& stopped) {
    stopped = false;
    // A time-out of 0 (return at once) or of at most one slice: one receive.
    if (timeout >= 0 && timeout <= kReceiveSliceMs)
        return MQTTClient_receive(handle.get(), topicName, topicLength, message, timeout);
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
        int rc = MQTTClient_receive(handle.get(), topicName, topicLength, message, slice);
        if (rc != MQTTCLIENT_SUCCESS || *message != nullptr) return rc;
        if (stopRequested()) {
            stopped = true;
            return rc;
        }
    }
}

void MqttCommandClient::receiveLoop() {
    for (;;) {
        if (stopRequested()) {
            disconnect();
            return;
        }
        char* topicName = nullptr;
        int topicLength = 0;
        MQTTClient_message* message = nullptr;
        bool stopped = false;
        int rc = receive(&topicName, &topicLength, &message, stopped);
        if (rc == MQTTCLIENT_SUCCESS && message != nullptr) {
            const int length = message->payloadlen;
            const PayloadText payload(message->payload, length);
            MQTTClient_freeMessage(&message);
            MQTTClient_free(topicName);
            // A message that comes once a stop is requested is left unhandled.
            if (length == 0 || stopRequested()) continue;
            deliver(payload.text);
            continue;
        }
        if (message != nullptr) MQTTClient_freeMessage(&message);
        if (topicName != nullptr) MQTTClient_free(topicName);
        if (stopped) continue;
        std::cout << "Receive message failed ==> " << rc << std::endl;
        if (rc == MQTTCLIENT_DISCONNECTED) {
            std::cout << "Network connection exception ! " << std::endl;
            std::cout << "call againConnect()" << std::endl;
            if (!againConnect()) return;
        }
    }
}

bool MqttCommandClient::againConnect() {
    std::cout << "begin again connect" << std::endl;
    disconnect();
    for (;;) {
        if (!waitBeforeReconnect()) return false;
        int rc = connect();
        if (stopRequested()) {
            disconnect();
            return false;
        }
        if (rc == MQTTCLIENT_SUCCESS) {
            std::cout << "again connect success " << std::endl;
            std::cout << "again connect [start subscribe] " << std::endl;
            return true;
        }
        if (rc != MQTTCLIENT_FAILURE) {
            std::cout << "end again connect" << std::endl;
            return false;
        }
    }
}

}  // namespace zolvo_sdk
