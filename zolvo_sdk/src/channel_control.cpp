// The MQTT command channel's control: channel threads, stop requests, the
// registration and the callback objects' owners.
#include "channel_control.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "command_dispatch.h"
#include "sdk_state.h"

namespace zolvo_sdk {

// One record per channel thread, from its start request until it has ended.
struct ChannelThread {
    uint64_t token;
    uint64_t epoch;  // the stop generation the thread was started in
};

namespace {

thread_local uint64_t t_channelToken = 0;

void logDropped(const char* what) { std::cout << "Command message dropped: " << what << std::endl; }

}  // namespace

// What the host registered: a function, or an object. The registration owns
// its object until a channel thread hands it to the client; from then on the
// client owns it and the registration only names it (`lent`), until the one
// or the other lets it go.
struct Registration {
    CallBackFun function = nullptr;
    CommandObject owned;
    CommandInterface* lent = nullptr;  // owned by the channel's client

    CommandInterface* object() const { return owned != nullptr ? owned.get() : lent; }
};

class ChannelControl {
public:
    // Never destroyed: a detached channel thread may outlive static destruction.
    static ChannelControl& instance() {
        static ChannelControl* c = new ChannelControl();
        return *c;
    }

    std::mutex mutex;
    std::condition_variable changed;
    // Bumped by every stop request (under the mutex): a thread of an older
    // generation is stale and stops. Atomic so that the receiving thread can look
    // at it between two receive slices without taking the mutex.
    std::atomic<uint64_t> epoch{1};
    uint64_t nextToken = 1;
    std::vector<ChannelThread> threads;
    // The client of the process: made by the first start, deleted by the teardown.
    std::unique_ptr<MqttCommandClient> client;
    // The one thread that runs the client (connects, receives), if any.
    uint64_t ownerToken = 0;
    MqttCommandClient* clientInUse = nullptr;  // names `client` or `orphan`
    // A client taken away by the teardown while its thread still ran it; that
    // thread deletes it on its way out.
    std::unique_ptr<MqttCommandClient> orphan;
    Registration registration;
    // The callback object whose function is running (owned by a client), and
    // an object released meanwhile, deleted once that call has returned.
    CommandInterface* inCall = nullptr;
    CommandObject releasedDuringCall;
    std::chrono::milliseconds reconnectWait{60000};

    // --- the mutex is held for each of these

    bool anyStaleThreadButMe() const {
        for (const ChannelThread& t : threads) {
            if (t.epoch != epoch && t.token != t_channelToken) return true;
        }
        return false;
    }

    void forgetThread(uint64_t token) {
        threads.erase(std::remove_if(threads.begin(), threads.end(),
                                     [token](const ChannelThread& t) { return t.token == token; }),
                      threads.end());
    }

    // Takes the object out of `holder`: returned for deletion outside the lock,
    // or, when one of its functions is running, kept until that call returns.
    CommandObject release(CommandObject& holder) {
        if (holder != nullptr && holder.get() == inCall) {
            releasedDuringCall = std::move(holder);
            return nullptr;
        }
        return std::move(holder);
    }

    // Takes the object out of `c`, which the registration then no longer names.
    CommandObject releaseFrom(MqttCommandClient& c) {
        if (registration.lent != nullptr && registration.lent == c.commandInterface.get())
            registration.lent = nullptr;
        return release(c.commandInterface);
    }

    // The registered object, taken out of its owner, registration or client.
    CommandObject releaseRegistered() {
        CommandObject object;
        if (registration.owned != nullptr) {
            object = release(registration.owned);
        } else if (registration.lent != nullptr) {
            for (MqttCommandClient* c : {client.get(), orphan.get()}) {
                if (c != nullptr && c->commandInterface.get() == registration.lent)
                    object = releaseFrom(*c);
            }
            registration.lent = nullptr;
        }
        return object;
    }

    // `c` takes `object` and drops its function. The object it held before
    // goes back to the registration if that still names it; otherwise it is no
    // longer the library's, and is not deleted.
    void handOver(MqttCommandClient& c, CommandInterface* object) {
        CommandObject& held = c.commandInterface;
        if (held.get() != object) {
            if (held != nullptr && held.get() == registration.lent) {
                registration.owned = std::move(held);
                registration.lent = nullptr;
            }
            (void)held.release();
            if (object != nullptr && object == registration.owned.get()) {
                held = std::move(registration.owned);
                registration.lent = object;
            } else {
                held.reset(object);
            }
        }
        c.callBackFun = nullptr;
    }

    bool stale(uint64_t threadEpoch) const { return threadEpoch != 0 && threadEpoch != epoch; }

    // Whether the client of the process holds `object`.
    bool clientHolds(const CommandInterface* object) const {
        return client != nullptr && client->commandInterface.get() == object;
    }

    // --- without the mutex

    // Body of a channel thread.
    static void run(uint64_t token);
};

namespace {

ChannelControl& control() { return ChannelControl::instance(); }

}  // namespace

// ---------------------------------------------------------------- the client's registration

MqttCommandClient::~MqttCommandClient() {
    CommandObject doomed;
    {
        std::lock_guard<std::mutex> lock(control().mutex);
        doomed = control().releaseFrom(*this);
    }
}

void MqttCommandClient::setCallBackFun(CallBackFun fn) {
    std::cout << "MQTT setCallBackFun " << std::endl;
    if (fn == nullptr) return;
    std::cout << "MQTT setCallBackFun true" << std::endl;
    CommandObject doomed;
    {
        std::lock_guard<std::mutex> lock(control().mutex);
        callBackFun = fn;
        doomed = control().releaseFrom(*this);
    }
}

void MqttCommandClient::setCommandInterface(CommandInterface* object) {
    std::lock_guard<std::mutex> lock(control().mutex);
    control().handOver(*this, object);
}

void MqttCommandClient::holdBothForTesting(CallBackFun fn, CommandInterface* object) {
    std::lock_guard<std::mutex> lock(control().mutex);
    control().handOver(*this, object);
    callBackFun = fn;
}

bool MqttCommandClient::stopRequested() const {
    // `epoch` is written only by the thread that runs this client.
    return control().stale(epoch);
}

bool MqttCommandClient::waitBeforeReconnect() const {
    ChannelControl& c = control();
    std::unique_lock<std::mutex> lock(c.mutex);
    return !c.changed.wait_for(lock, c.reconnectWait, [&] { return c.stale(epoch); });
}

void MqttCommandClient::deliver(const char* text) {
    ChannelControl& c = control();
    CallBackFun fn = nullptr;
    CommandInterface* object = nullptr;
    // Once a stop is requested the host gets nothing more, and the text is not
    // logged either: the request and each of these looks are ordered by the mutex.
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (c.stale(epoch)) return;
        fn = callBackFun;
    }
    std::cout << "receive Message : " << text << std::endl;
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
        // From here until the call returns the object is not deleted: a
        // release meanwhile leaves it with the channel until the call is over.
        std::lock_guard<std::mutex> lock(c.mutex);
        object = commandInterface.get();
        if (object == nullptr || c.stale(epoch)) return;
        c.inCall = object;
    }
    try {
        dispatchCommand(*object, text);
    } catch (const std::exception& e) {
        logDropped(e.what());
    } catch (...) {
        logDropped("unknown exception");
    }
    CommandObject doomed;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        c.inCall = nullptr;
        doomed = std::move(c.releasedDuringCall);
    }
}

void deliverPayloadForTesting(MqttCommandClient& client, const void* payload, int length) {
    const PayloadText received(payload, length);
    if (length == 0) return;
    client.deliver(received.text);
}

void requestStopForTesting(MqttCommandClient& client) {
    ChannelControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    client.epoch = c.epoch;
    ++c.epoch;
}

// ---------------------------------------------------------------- the thread

void ChannelControl::run(uint64_t token) {
    t_channelToken = token;
    ChannelControl& c = control();
    MqttCommandClient* mine = nullptr;
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
            if (c.client == nullptr) {
                const SdkConfig& s = *settings;
                c.client = std::make_unique<MqttCommandClient>(
                    s.mqttAddress, s.mqttUsername, s.mqttPassword, s.mqttClientId, s.mqttTopic,
                    s.mqttQos, s.mqttTimeout, s.mqttConnectTimeout, s.mqttKeepAliveInterval,
                    s.mqttCleanSession, s.useSslTls, s.sslTlsVersion);
            }
            mine = c.client.get();
            mine->epoch = epoch;
            c.ownerToken = token;
            c.clientInUse = mine;
        } else {
            c.forgetThread(token);
            c.changed.notify_all();
            t_channelToken = 0;
            return;
        }
    }

    bool gaveUp = false;
    if (mine->connect() == 0) {
        CallBackFun fn = nullptr;
        bool stopped = false;
        {
            // The registration standing now is handed to the client.
            std::lock_guard<std::mutex> lock(c.mutex);
            stopped = epoch != c.epoch;
            if (!stopped) {
                if (CommandInterface* object = c.registration.object()) c.handOver(*mine, object);
                fn = c.registration.function;
            }
        }
        if (stopped) {
            mine->disconnect();
        } else {
            if (fn != nullptr) mine->setCallBackFun(fn);
            mine->receiveLoop();
            gaveUp = true;
        }
    }

    std::unique_ptr<MqttCommandClient> leftBehind;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        // Stopped threads leave the flags to unInit.
        if (gaveUp && epoch == c.epoch && !sdkState().tornDown()) sdkState().mqttStarted = true;
        mine->epoch = 0;
        c.ownerToken = 0;
        c.clientInUse = nullptr;
        if (c.orphan.get() == mine) leftBehind = std::move(c.orphan);
        c.forgetThread(token);
        c.changed.notify_all();
    }
    leftBehind.reset();  // deletes the client the teardown left to this thread
    t_channelToken = 0;
}

namespace {

uint64_t registerThread() {
    ChannelControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    uint64_t token = c.nextToken++;
    c.threads.push_back(ChannelThread{token, c.epoch});
    return token;
}

}  // namespace

void startMqtt() { ChannelControl::run(registerThread()); }

void startMqttThread() {
    uint64_t token = registerThread();
    try {
        std::thread(&ChannelControl::run, token).detach();
    } catch (const std::exception&) {
        ChannelControl& c = control();
        std::lock_guard<std::mutex> lock(c.mutex);
        c.forgetThread(token);
        c.changed.notify_all();
    }
}

// ---------------------------------------------------------------- host side

void registerCallBackFun(CallBackFun fn) {
    if (fn == nullptr) return;
    CommandObject doomed;
    {
        ChannelControl& c = control();
        std::lock_guard<std::mutex> lock(c.mutex);
        c.registration.function = fn;
        doomed = c.releaseRegistered();
    }
}

void registerCommandInterface(CommandInterface* object) {
    ChannelControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    Registration& r = c.registration;
    r.function = nullptr;
    // The object registered before is replaced, not deleted: it stays with the
    // client that took it, or is no longer the library's.
    (void)r.owned.release();
    r.lent = nullptr;
    if (object == nullptr) return;
    if (c.clientHolds(object)) {
        r.lent = object;  // the client holds it already
    } else {
        r.owned.reset(object);
    }
}

bool callbackRegistered() {
    ChannelControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.registration.function != nullptr || c.registration.object() != nullptr;
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
    c.changed.wait_for(lock, bound, [&] { return !c.anyStaleThreadButMe(); });
}

void teardownMqttClient() {
    ChannelControl& c = control();
    std::unique_ptr<MqttCommandClient> doomed;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        if (c.client != nullptr && c.clientInUse == c.client.get()) {
            // Its thread is still inside it (teardown from a callback, or a
            // callback that outlasted the wait): the thread deletes it on its way out.
            c.orphan = std::move(c.client);
        } else {
            doomed = std::move(c.client);  // may be null
        }
    }
    doomed.reset();  // deletes the object the client owns
    CommandObject registered;
    {
        std::lock_guard<std::mutex> lock(c.mutex);
        registered = c.releaseRegistered();
    }
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
    return c.anyStaleThreadButMe();
}

MqttCommandClient* channelClientForTesting() {
    ChannelControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.client.get();
}

CommandInterface* registeredCommandInterfaceForTesting() {
    ChannelControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.registration.object();
}

CallBackFun registeredCallBackFunForTesting() {
    ChannelControl& c = control();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.registration.function;
}

}  // namespace zolvo_sdk
