// MQTT command channel over Paho's synchronous client (no callbacks set on it,
// messages pulled with MQTTClient_receive).
#include "mqtt_channel.h"

#include <json/json.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sdk_state.h"

namespace zolvo_sdk {

namespace {

// A receive waits for messages in slices of at most this long, so that the
// channel's thread sees a stop request within one slice whatever the platform's
// receive time-out is.
constexpr int kReceiveSliceMs = 200;
// How long a disconnect waits for the broker.
constexpr int kDisconnectTimeoutMs = 10000;

// One record per channel thread, from its start request until it has ended.
struct ChannelThread {
    uint64_t token;
    uint64_t epoch;  // the stop generation the thread was started in
};

struct ChannelControl {
    std::mutex mutex;
    std::condition_variable changed;
    // Bumped by every stop request (under the mutex): a thread of an older
    // generation is stale and stops. Atomic so that the receiving thread can look
    // at it between two receive slices without taking the mutex.
    std::atomic<uint64_t> epoch{1};
    uint64_t nextToken = 1;
    std::vector<ChannelThread> threads;
    // The one thread that holds the client (connects, receives), if any.
    uint64_t ownerToken = 0;
    MqttCommandClient* ownerClient = nullptr;
    // A client taken away by the teardown while its thread still used it.
    MqttCommandClient* orphanedClient = nullptr;
    // The callback object whose function is running, and whether it was released meanwhile.
    CommandInterface* inCall = nullptr;
    bool deleteAfterCall = false;
    std::chrono::milliseconds reconnectWait{60000};
};

// Never destroyed: a detached channel thread may outlive static destruction.
ChannelControl& control() {
    static ChannelControl* c = new ChannelControl();
    return *c;
}

thread_local uint64_t t_channelToken = 0;

bool anyStaleThreadButMe(const ChannelControl& c) {
    for (const ChannelThread& t : c.threads) {
        if (t.epoch != c.epoch && t.token != t_channelToken) return true;
    }
    return false;
}

void forgetThread(ChannelControl& c, uint64_t token) {
    c.threads.erase(std::remove_if(c.threads.begin(), c.threads.end(),
                                   [token](const ChannelThread& t) { return t.token == token; }),
                    c.threads.end());
}

// Makes both holders forget `object`; returns it when the caller must delete it
// now (outside the lock), nullptr when there is nothing to delete or the channel
// deletes it after the running call. Channel mutex held.
CommandInterface* detachLocked(CommandInterface* object, MqttCommandClient* extraHolder) {
    if (object == nullptr) return nullptr;
    ChannelControl& c = control();
    if (g_commandInterface == object) g_commandInterface = nullptr;
    if (g_mqttClient != nullptr && g_mqttClient->commandInterface == object)
        g_mqttClient->commandInterface = nullptr;
    if (c.orphanedClient != nullptr && c.orphanedClient->commandInterface == object)
        c.orphanedClient->commandInterface = nullptr;
    if (extraHolder != nullptr && extraHolder->commandInterface == object)
        extraHolder->commandInterface = nullptr;
    if (c.inCall == object) {
        c.deleteAfterCall = true;
        return nullptr;
    }
    return object;
}

void logDropped(const char* what) {
    std::cout << "Command message dropped: " << what << std::endl;
}

// Copies a received payload into `buffer` as a NUL-terminated text. The
// platform's commands fit in 1023 bytes; a longer payload is cut there.
void keepPayload(char (&buffer)[1024], const void* payload, int length) {
    std::size_t kept = length > 0 ? std::min<std::size_t>(length, sizeof buffer - 1) : 0;
    if (kept > 0) std::memcpy(buffer, payload, kept);
    buffer[kept] = '\0';
}

}  // namespace

// ---------------------------------------------------------------- client

MqttCommandClient::MqttCommandClient(const std::string& address_, const std::string& username_,
                                     const std::string& password_, const std::string& clientId_,
                                     const std::string& topic_, int qos_, int timeout_,
                                     int connectTimeout_, int keepAliveInterval_,
                                     int cleanSession_, int useSslTls_,
                                     const std::string& sslTlsVersion_)
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

MqttCommandClient::~MqttCommandClient() {
    CommandInterface* doomed = nullptr;
    {
        std::lock_guard<std::mutex> lock(control().mutex);
        doomed = detachLocked(commandInterface, this);
    }
    delete doomed;
}

int MqttCommandClient::connect() {
    int rc = MQTTClient_create(&handle, address.c_str(), clientId.c_str(),
                               MQTTCLIENT_PERSISTENCE_NONE, nullptr);
    if (rc != MQTTCLIENT_SUCCESS) {
        handle = nullptr;
        return rc;
    }
    MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
    options.MQTTVersion = 0;
    options.connectTimeout = connectTimeout;
    options.keepAliveInterval = keepAliveInterval;
    options.cleansession = cleanSession;
    options.username = username.c_str();
    options.password = password.c_str();
    rc = MQTTClient_connect(handle, &options);
    if (rc != MQTTCLIENT_SUCCESS) {
        printf("Failed to connect, return code %d\n", rc);
        fflush(stdout);
        MQTTClient_destroy(&handle);
        handle = nullptr;
        return rc;
    }
    rc = MQTTClient_subscribe(handle, topic.c_str(), qos);
    if (rc == MQTTCLIENT_SUCCESS) {
        // The topic as subscribed: a setting with a NUL inside ends there.
        std::cout << "sub topic: " << topic.c_str() << " ,return code : " << rc << std::endl;
    }
    return 0;
}

void MqttCommandClient::disconnect() {
    if (handle == nullptr) return;
    MQTTClient_disconnect(handle, kDisconnectTimeoutMs);
    MQTTClient_destroy(&handle);
    handle = nullptr;
}

void MqttCommandClient::setCallBackFun(CallBackFun fn) {
    std::cout << "MQTT setCallBackFun " << std::endl;
    if (fn == nullptr) return;
    std::cout << "MQTT setCallBackFun true" << std::endl;
    CommandInterface* doomed = nullptr;
    {
        std::lock_guard<std::mutex> lock(control().mutex);
        callBackFun = fn;
        doomed = detachLocked(commandInterface, this);
    }
    delete doomed;
}

void MqttCommandClient::setCommandInterface(CommandInterface* object) {
    std::lock_guard<std::mutex> lock(control().mutex);
    commandInterface = object;
    callBackFun = nullptr;
}

bool MqttCommandClient::stopRequested() const {
    // `epoch` is written only by the thread that runs this client.
    return epoch != 0 && epoch != control().epoch.load(std::memory_order_acquire);
}

bool MqttCommandClient::waitBeforeReconnect() const {
    ChannelControl& c = control();
    std::unique_lock<std::mutex> lock(c.mutex);
    auto stale = [&] { return epoch != 0 && epoch != c.epoch; };
    return !c.changed.wait_for(lock, c.reconnectWait, stale);
}

int MqttCommandClient::receive(char** topicName, int* topicLength, MQTTClient_message** message,
                               bool& stopped) {
    stopped = false;
    // A time-out of 0 (return at once) or of at most one slice: one receive.
    if (timeout >= 0 && timeout <= kReceiveSliceMs)
        return MQTTClient_receive(handle, topicName, topicLength, message, timeout);
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
        int rc = MQTTClient_receive(handle, topicName, topicLength, message, slice);
        if (rc != MQTTCLIENT_SUCCESS || *message != nullptr) return rc;
        if (stopRequested()) {
            stopped = true;
            return rc;
        }
    }
}

void MqttCommandClient::receiveLoop() {
    char buffer[1024];
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
            int length = message->payloadlen;
            keepPayload(buffer, message->payload, length);
            MQTTClient_freeMessage(&message);
            MQTTClient_free(topicName);
            // A message that comes once a stop is requested is left unhandled.
            if (length == 0 || stopRequested()) continue;
            handleMessage(buffer);
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

void MqttCommandClient::handleMessage(const char* text) {
    std::cout << "receive Message : " << text << std::endl;
    ChannelControl& c = control();
    CallBackFun fn = nullptr;
    CommandInterface* object = nullptr;
    // Once a stop is requested the host gets nothing more: the request and each
    // of these looks are ordered by the mutex.
    auto stale = [&] { return epoch != 0 && epoch != c.epoch; };
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (stale()) return;
        fn = callBackFun;
    }
    if (fn != nullptr) {
        try {
            fn(text);
        } catch (const std::exception& e) {
            logDropped(e.what());
            return;
        } catch (...) {
            logDropped("unknown exception");
            return;
        }
    }
    {
        // From here until the call returns the object cannot be deleted by
        // another holder: a release meanwhile is carried out after the call.
        std::lock_guard<std::mutex> lock(c.mutex);
        object = commandInterface;
        if (object == nullptr || stale()) return;
        c.inCall = object;
        c.deleteAfterCall = false;
    }
    try {
        dispatch(object, text);
    } catch (const std::exception& e) {
        logDropped(e.what());
    } catch (...) {
        logDropped("unknown exception");
    }
    CommandInterface* doomed = nullptr;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (c.deleteAfterCall) doomed = object;
        c.inCall = nullptr;
        c.deleteAfterCall = false;
    }
    delete doomed;
}

void deliverPayloadForTesting(MqttCommandClient& client, const void* payload, int length) {
    char buffer[1024];
    keepPayload(buffer, payload, length);
    if (length == 0) return;
    client.handleMessage(buffer);
}

void MqttCommandClient::dispatch(CommandInterface* object, const char* text) {
    Json::CharReaderBuilder builder;
    Json::Value parsed;
    std::string errors;
    bool ok = false;
    try {
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        ok = reader->parse(text, text + std::strlen(text), &parsed, &errors);
    } catch (const std::exception&) {
        // The reader gives up on some texts (nesting deeper than it allows) by
        // throwing: a payload that does not parse, ignored like any other.
        ok = false;
    }
    if (!ok || !errors.empty()) return;
    const Json::Value& root = parsed;
    const std::string command = root["command"].asString();
    if (command.empty()) return;

    if (command == "prePay") {
        std::string orderId = root["orderId"].asString();
        std::string carNumber = root["carNumber"].asString();
        std::string parkCode = root["parkCode"].asString();
        object->queryOrder(parkCode, orderId, carNumber);
    } else if (command == "qrCodePay") {
        std::string parkCode = root["parkCode"].asString();
        std::string sysCode = root["sysCode"].asString();
        std::string channel = root["channel"].asString();
        std::string scanNumber = root["scanNumber"].asString();
        std::string orderId = root["orderId"].asString();
        std::string carNumber = root["carNumber"].asString();
        int tempCar = root["tempCar"].asInt();
        object->scanQrCodePay(parkCode, sysCode, channel, scanNumber, orderId, carNumber, tempCar);
    } else if (command == "qrCodeEntry") {
        std::string parkCode = root["parkCode"].asString();
        std::string sysCode = root["sysCode"].asString();
        std::string channel = root["channel"].asString();
        std::string carNumber = root["carNumber"].asString();
        std::string scanNumber = root["scanNumber"].asString();
        object->scanQrEntry(parkCode, sysCode, channel, carNumber, scanNumber);
    } else if (command == "payNotice") {
        std::string orderId = root["orderId"].asString();
        std::string carNumber = root["carNumber"].asString();
        int payStatus = root["payStatus"].asInt();
        int payAmount = root["payAmount"].asInt();
        int duration = root["duration"].asInt();
        std::string inTime = root["inTime"].asString();
        std::string outTime = root["outTime"].asString();
        std::string payTime = root["payTime"].asString();
        int payMethod = root["payMethod"].asInt();
        std::string parkCode = root["parkCode"].asString();
        object->noticeOfPaymentResult(orderId, carNumber, payStatus, payAmount, duration, inTime,
                                      outTime, payTime, payMethod, parkCode);
    } else {
        std::cout << " Unknown command !" << std::endl;
    }
}

// ---------------------------------------------------------------- the thread

namespace {

void runChannel(uint64_t token) {
    t_channelToken = token;
    ChannelControl& c = control();
    MqttCommandClient* client = nullptr;
    uint64_t epoch = 0;
    {
        std::unique_lock<std::mutex> lock(c.mutex);
        for (const ChannelThread& t : c.threads) {
            if (t.token == token) epoch = t.epoch;
        }
        // A previous thread still finishing (stopped from inside its own
        // callback) hands over first: one channel thread at a time.
        c.changed.wait(lock, [&] { return epoch != c.epoch || c.ownerToken == 0; });
        const SdkConfigPtr settings = sdkState().config();  // one init's settings
        bool proceed = epoch == c.epoch && settings != nullptr && !sdkState().mqttStarted;
        if (proceed) {
            if (g_mqttClient == nullptr) {
                const SdkConfig& s = *settings;
                g_mqttClient = new MqttCommandClient(
                    s.mqttAddress, s.mqttUsername, s.mqttPassword, s.mqttClientId, s.mqttTopic,
                    s.mqttQos, s.mqttTimeout, s.mqttConnectTimeout, s.mqttKeepAliveInterval,
                    s.mqttCleanSession, s.useSslTls, s.sslTlsVersion);
            }
            client = g_mqttClient;
            client->epoch = epoch;
            c.ownerToken = token;
            c.ownerClient = client;
        } else {
            forgetThread(c, token);
            c.changed.notify_all();
            t_channelToken = 0;
            return;
        }
    }

    bool gaveUp = false;
    if (client->connect() == 0) {
        CallBackFun fn = nullptr;
        bool stopped = false;
        {
            // The registration standing now is handed to the client.
            std::lock_guard<std::mutex> lock(c.mutex);
            stopped = epoch != c.epoch;
            if (!stopped) {
                if (g_commandInterface != nullptr) {
                    client->commandInterface = g_commandInterface;
                    client->callBackFun = nullptr;
                }
                fn = g_callBackFun;
            }
        }
        if (stopped) {
            client->disconnect();
        } else {
            if (fn != nullptr) client->setCallBackFun(fn);
            client->receiveLoop();
            gaveUp = true;
        }
    }

    MqttCommandClient* orphan = nullptr;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        // Stopped threads leave the flags to unInit.
        if (gaveUp && epoch == c.epoch && !sdkState().tornDown()) sdkState().mqttStarted = true;
        client->epoch = 0;
        c.ownerToken = 0;
        c.ownerClient = nullptr;
        if (c.orphanedClient == client) {
            orphan = client;
            c.orphanedClient = nullptr;
        }
        forgetThread(c, token);
        c.changed.notify_all();
    }
    delete orphan;
    t_channelToken = 0;
}

uint64_t registerThread() {
    ChannelControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    uint64_t token = c.nextToken++;
    c.threads.push_back(ChannelThread{token, c.epoch});
    return token;
}

}  // namespace

void startMqtt() { runChannel(registerThread()); }

void startMqttThread() {
    uint64_t token = registerThread();
    try {
        std::thread(runChannel, token).detach();
    } catch (const std::exception&) {
        ChannelControl& c = control();
        std::lock_guard<std::mutex> lock(c.mutex);
        forgetThread(c, token);
        c.changed.notify_all();
    }
}

// ---------------------------------------------------------------- host side

void registerCallBackFun(CallBackFun fn) {
    if (fn == nullptr) return;
    CommandInterface* doomed = nullptr;
    {
        std::lock_guard<std::mutex> lock(control().mutex);
        g_callBackFun = fn;
        doomed = detachLocked(g_commandInterface, nullptr);
    }
    delete doomed;
}

void registerCommandInterface(CommandInterface* object) {
    std::lock_guard<std::mutex> lock(control().mutex);
    g_commandInterface = object;
    g_callBackFun = nullptr;
}

void stopMqttChannel() {
    ChannelControl& c = control();
    std::unique_lock<std::mutex> lock(c.mutex);
    ++c.epoch;
    // A receiving thread notices within one receive slice, a thread waiting to
    // reconnect at once; it then disconnects, which the broker may make last up
    // to the disconnect time-out. A thread inside a connect or a host callback
    // notices when that returns; the wait ends at the bound all the same, and
    // such a thread ends on its own later without handing anything more to the host.
    const std::chrono::milliseconds bound(kDisconnectTimeoutMs + 1000);
    c.changed.notify_all();
    c.changed.wait_for(lock, bound, [&] { return !anyStaleThreadButMe(c); });
}

void teardownMqttClient() {
    ChannelControl& c = control();
    MqttCommandClient* doomed = nullptr;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (g_mqttClient != nullptr && c.ownerClient == g_mqttClient) {
            // Its thread is still inside it (teardown from a callback, or a
            // callback that outlasted the wait): the thread deletes it on its way out.
            c.orphanedClient = g_mqttClient;
        } else {
            doomed = g_mqttClient;  // may be null
        }
        g_mqttClient = nullptr;
    }
    delete doomed;  // its destructor deletes the object it holds
    CommandInterface* registered = nullptr;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        registered = detachLocked(g_commandInterface, nullptr);
    }
    delete registered;
}

void setReconnectWaitForTesting(std::chrono::milliseconds wait) {
    ChannelControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.reconnectWait = wait;
}

std::size_t channelThreadCountForTesting() {
    ChannelControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.threads.size();
}

bool channelStopPendingForTesting() {
    ChannelControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    return anyStaleThreadButMe(c);
}

}  // namespace zolvo_sdk
