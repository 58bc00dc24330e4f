// The MQTT command channel: its threads, stop requests, the registration and
// the callback objects' owners.
#include "command_channel.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <thread>
#include <utility>

#include "command_dispatch.h"
#include "never_destroyed.h"

namespace zolvo_sdk {

namespace {

// Channel thread numbers, unique in the process.
std::atomic<uint64_t> g_nextThreadId{1};
// The number of the channel thread running on this thread, 0 on any other.
thread_local uint64_t t_channelThread = 0;

void logDropped(const char* what) { std::cout << "Command message dropped: " << what << std::endl; }

// The client takes a callback function.
void logFunctionTaken() {
    std::cout << "MQTT setCallBackFun " << std::endl;
    std::cout << "MQTT setCallBackFun true" << std::endl;
}

// Runs one call of the host's code; an exception drops the message and is logged.
template <typename Call>
bool callHost(Call&& call) {
    try {
        call();
        return true;
    } catch (const std::exception& e) {
        logDropped(e.what());
    } catch (...) {
        logDropped("unknown exception");
    }
    return false;
}

}  // namespace

// What the client of one channel thread asks of the channel.
class CommandChannel::ThreadLink final : public ClientLink {
public:
    ThreadLink(CommandChannel& channel, uint64_t startGeneration)
        : channel_(channel), startGeneration_(startGeneration) {}

    // The generation is atomic: looked at between two receive slices, no lock.
    bool stopRequested() const override { return channel_.stale(startGeneration_); }

    bool waitBeforeReconnect() const override {
        std::unique_lock<std::mutex> lock(channel_.mutex_);
        return !channel_.changed_.wait_for(lock, channel_.reconnectWait_,
                                           [&] { return channel_.stale(startGeneration_); });
    }

    void deliver(const char* text) override { channel_.deliver(startGeneration_, text); }

private:
    CommandChannel& channel_;
    const uint64_t startGeneration_;
};

CommandChannel& CommandChannel::instance() {
    static NeverDestroyed<CommandChannel> channel;
    return channel.get();
}

CommandChannel::~CommandChannel() {
    tearDown();
    // A thread still finishing keeps using the channel: wait until it has ended.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return threads_.empty(); });
}

// ---------------------------------------------------------------- under the mutex

bool CommandChannel::anyStaleThreadButCaller() const {
    for (const ChannelThread& t : threads_) {
        if (t.startGeneration != stopGeneration_ && t.id != t_channelThread) return true;
    }
    return false;
}

void CommandChannel::forgetThread(uint64_t id) {
    threads_.erase(std::remove_if(threads_.begin(), threads_.end(),
                                  [id](const ChannelThread& t) { return t.id == id; }),
                   threads_.end());
}

CommandObject CommandChannel::release(const ObjectName& name) {
    if (name == nullptr) return nullptr;
    CommandObject object = name->take();
    if (object != nullptr && name == inCall_) {
        releasedDuringCall_ = std::move(object);
        return nullptr;
    }
    return object;
}

// ---------------------------------------------------------------- the host's registration

void CommandChannel::registerCallBackFun(CallBackFun fn) {
    if (fn == nullptr) return;
    CommandObject doomed;
    bool clientTookIt = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        registered_.function = fn;
        // The client holding the object that goes takes the function in its
        // place, so that the commands that follow reach the host.
        if (registered_.object != nullptr && clientHeld_.object == registered_.object) {
            clientHeld_.function = fn;
            clientHeld_.object.reset();
            clientTookIt = runningThread_ != 0;
        }
        doomed = release(registered_.object);
        registered_.object.reset();
    }
    if (clientTookIt) logFunctionTaken();
}

void CommandChannel::registerCommandInterface(CommandInterface* object) {
    std::lock_guard<std::mutex> lock(mutex_);
    registered_ = Registration();
    if (object == nullptr) return;
    // The client holds it already: both name it.
    if (clientHeld_.objectPointer() == object) registered_.object = clientHeld_.object;
    else registered_.object = std::make_shared<HeldObject>(object);
}

bool CommandChannel::callbackRegistered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registered_.function != nullptr || registered_.objectPointer() != nullptr;
}

bool CommandChannel::takeRegistration(uint64_t startGeneration) {
    CommandObject doomed;
    bool tookFunction = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stale(startGeneration)) return false;
        if (registered_.object != nullptr) {
            // The object the client held before stays with the registration if
            // that still names it, and is no longer the library's otherwise.
            clientHeld_ = registered_;
        } else if (registered_.function != nullptr) {
            // A function replaces the object the client held, which is deleted.
            clientHeld_.function = registered_.function;
            doomed = release(clientHeld_.object);
            clientHeld_.object.reset();
            tookFunction = true;
        }
    }
    if (tookFunction) logFunctionTaken();
    return true;
}

// ---------------------------------------------------------------- delivery

void CommandChannel::deliver(uint64_t startGeneration, const char* text) {
    // While this mark stands the thread is handing a text to the host.
    struct DeliveringMark {
        CommandChannel& channel;
        ~DeliveringMark() {
            std::lock_guard<std::mutex> lock(channel.mutex_);
            channel.delivering_ = false;
        }
    };
    CallBackFun fn = nullptr;
    // Once a stop is requested the host gets nothing more and the text is not
    // logged either: the request and each of these looks are ordered by the mutex.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stale(startGeneration)) return;
        fn = clientHeld_.function;
        delivering_ = true;
    }
    const DeliveringMark mark{*this};
    std::cout << "receive Message : " << text << std::endl;
    if (fn != nullptr && !callHost([&] { fn(text); })) return;

    CommandInterface* object = nullptr;
    {
        // From here until the call returns the object is not deleted: a release
        // meanwhile leaves it with the channel until the call is over.
        std::lock_guard<std::mutex> lock(mutex_);
        object = clientHeld_.objectPointer();
        if (object == nullptr || stale(startGeneration)) return;
        inCall_ = clientHeld_.object;
    }
    callHost([&] { dispatchCommand(*object, text); });
    CommandObject doomed;
    std::lock_guard<std::mutex> lock(mutex_);
    inCall_.reset();
    doomed = std::move(releasedDuringCall_);
}

// ---------------------------------------------------------------- the thread

void CommandChannel::runThread(uint64_t id, const SdkConfigPtr& settings) {
    t_channelThread = id;
    MqttCommandClient* mine = nullptr;
    uint64_t startGeneration = 0;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (const ChannelThread& t : threads_) {
            if (t.id == id) startGeneration = t.startGeneration;
        }
        // A previous thread still finishing (stopped from inside its own
        // callback) hands over first: one channel thread at a time.
        changed_.wait(lock,
                      [&] { return startGeneration != stopGeneration_ || runningThread_ == 0; });
        if (startGeneration != stopGeneration_ || settings == nullptr || mqttStarted_ ||
            tornDown_) {
            forgetThread(id);
            changed_.notify_all();
            t_channelThread = 0;
            return;
        }
        if (client_ == nullptr) {
            const SdkConfig& s = *settings;
            client_ = std::make_unique<MqttCommandClient>(
                s.mqttAddress, s.mqttUsername, s.mqttPassword, s.mqttClientId, s.mqttTopic,
                s.mqttQos, s.mqttTimeout, s.mqttConnectTimeout, s.mqttKeepAliveInterval,
                s.mqttCleanSession, s.useSslTls, s.sslTlsVersion);
        }
        mine = client_.get();
        runningThread_ = id;
        clientInUse_ = mine;
    }

    ThreadLink link(*this, startGeneration);
    bool gaveUp = false;
    // A broker that cannot be reached is tried again as after a lost
    // connection; one that refuses the client ends the channel.
    int rc = mine->connect(&link);
    if (rc == kConnectFailure && !link.stopRequested()) {
        rc = mine->againConnect(link) ? 0 : rc;
        gaveUp = rc != 0;
    }
    if (rc == 0) {
        // The registration standing now is handed to the client.
        if (!takeRegistration(startGeneration)) {
            mine->disconnect();
        } else {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                receiving_ = true;
            }
            mine->receiveLoop(link);
            gaveUp = true;
        }
    }

    std::unique_ptr<MqttCommandClient> leftBehind;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Stopped threads leave the mark to the stop.
        if (gaveUp && !stale(startGeneration) && !tornDown_) mqttStarted_ = true;
        receiving_ = false;
        runningThread_ = 0;
        clientInUse_ = nullptr;
        if (orphan_.get() == mine) leftBehind = std::move(orphan_);
        forgetThread(id);
        changed_.notify_all();
    }
    leftBehind.reset();  // deletes the client the teardown left to this thread
    t_channelThread = 0;
}

bool CommandChannel::start(SdkConfigPtr settings) {
    const uint64_t id = g_nextThreadId++;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (tornDown_) return false;
        threads_.push_back(ChannelThread{id, stopGeneration_});
    }
    try {
        std::thread([this, id, settings = std::move(settings)] {
            runThread(id, settings);
        }).detach();
    } catch (const std::exception&) {
        std::lock_guard<std::mutex> lock(mutex_);
        forgetThread(id);
        changed_.notify_all();
    }
    return true;
}

void CommandChannel::stop() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++stopGeneration_;
    // A receiving thread notices within one receive slice, a thread waiting to
    // reconnect at once; it then disconnects, which the broker may make last up
    // to the disconnect time-out. A thread inside a connect or a host callback
    // notices when that returns; the wait ends at the bound all the same, and
    // such a thread ends on its own later without handing anything more to the host.
    const std::chrono::milliseconds bound(kDisconnectTimeoutMs + 1000);
    changed_.notify_all();
    changed_.wait_for(lock, bound, [&] { return !anyStaleThreadButCaller(); });
    if (!tornDown_) mqttStarted_ = false;
}

void CommandChannel::tearDown() {
    {
        // From here on nothing starts; every thread started before is stale
        // once the stop below has moved the generation on.
        std::lock_guard<std::mutex> lock(mutex_);
        tornDown_ = true;
    }
    stop();
    std::unique_ptr<MqttCommandClient> doomedClient;
    CommandObject doomedHeld;
    CommandObject doomedRegistered;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (client_ != nullptr && clientInUse_ == client_.get()) {
            // Its thread is still inside it (teardown from a callback, or a
            // callback that outlasted the wait): the thread deletes it on its way out.
            orphan_ = std::move(client_);
        } else {
            doomedClient = std::move(client_);  // may be null
        }
        // The client's object first, then the registered one (unless the same).
        doomedHeld = release(clientHeld_.object);
        clientHeld_ = Registration();
        doomedRegistered = release(registered_.object);
        registered_ = Registration();
    }
    doomedClient.reset();
    doomedHeld.reset();
    doomedRegistered.reset();
}

}  // namespace zolvo_sdk
