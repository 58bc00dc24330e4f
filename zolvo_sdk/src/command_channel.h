// The MQTT command channel: the one owner of the process's MQTT client, of the
// host's registration, of the channel's threads and of the stop generation.
//
// A start runs one thread with one init's settings; the thread connects the
// client, takes the registration standing then and receives until it is asked
// to stop or gives up. Only the thread that runs the client touches its Paho
// handle. Other threads reach the channel through a stop request (unInit,
// teardown) and through the registration, both under the channel's mutex; no
// lock is held while the host's callback runs.
//
// Generations: every stop request moves the stop generation on. A thread keeps
// the generation it was started in; once the two differ the thread is stale:
// it hands nothing more to the host and stops.
#ifndef ZOLVO_SDK_COMMAND_CHANNEL_H
#define ZOLVO_SDK_COMMAND_CHANNEL_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "mqtt_command_client.h"
#include "sdk_config.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace zolvo_sdk {

using CommandObject = std::unique_ptr<CommandInterface>;

// A callback object the library owns, named by the registration, by the
// channel's client, or by both, each through the same shared `HeldObject`.
// Deleting it through one name empties every name; the last name to go deletes
// nothing (the object is then no longer the library's).
class HeldObject {
public:
    explicit HeldObject(CommandInterface* object) : object_(object) {}
    ~HeldObject() { (void)object_.release(); }
    HeldObject(const HeldObject&) = delete;
    HeldObject& operator=(const HeldObject&) = delete;

    CommandInterface* get() const { return object_.get(); }
    // Takes the object out for deletion: every name is empty from then on.
    CommandObject take() { return std::move(object_); }

private:
    CommandObject object_;
};
using ObjectName = std::shared_ptr<HeldObject>;

// A registration: a callback function or a callback object, at most one of them.
struct Registration {
    CallBackFun function = nullptr;
    ObjectName object;

    CommandInterface* objectPointer() const { return object != nullptr ? object->get() : nullptr; }
};

class CommandChannel {
public:
    // The channel of the process, made on first use and never destroyed: a
    // detached channel thread may outlive static destruction.
    static CommandChannel& instance();

    CommandChannel() = default;
    // A channel of its own (the tests make some) stops and is torn down first.
    ~CommandChannel();
    CommandChannel(const CommandChannel&) = delete;
    CommandChannel& operator=(const CommandChannel&) = delete;

    // --- the host's registration (the library's two setters)

    // A function: the registered object is deleted (after its running call, if
    // any), also for the client holding it, which takes the function in its
    // place. Null changes nothing.
    void registerCallBackFun(CallBackFun fn);
    // An object replaces the registration; the object registered before is not
    // deleted (it stays with the client holding it, or is no longer the
    // library's). Null clears both registrations.
    void registerCommandInterface(CommandInterface* object);
    bool callbackRegistered() const;

    // --- starts and stops

    // Starts one detached channel thread with `settings` (one init's) and
    // returns at once; false, and nothing started, once `tearDown` has begun.
    // The client is made from the settings of the first start and kept: later
    // starts reuse it. A broker that cannot be reached is tried again as after
    // a lost connection. Nothing connects while the channel is marked started
    // (it gave up; the next `stop` clears the mark).
    bool start(SdkConfigPtr settings);

    // Asks every running channel thread to stop and waits until they have
    // disconnected and ended, 11 s at most (the disconnect time-out and one
    // second), whatever the receive time-out is. From then on no thread hands a
    // text to the host, and the channel may start again. Called on a channel
    // thread it does not wait for that thread, which stops once the running
    // callback has returned. unInit and the teardown both stop here.
    void stop();

    // At the process's end, when the channel's threads are gone already
    // (Windows: the loader's shut-down): marks every channel thread stale, so
    // that nothing more reaches the host, with no lock and no wait.
    void abandonAtExit() { stopGeneration_.fetch_add(1); }

    // From its first step nothing starts; then stops as `stop` does (a thread
    // started just before is stopped too) and deletes the client (or leaves
    // that to its thread, still inside it) and the callback objects, each
    // once; a callback object whose function is running is deleted as soon as
    // that call returns.
    void tearDown();

    // --- observers and settings for the tests. Defined here, inline: the
    // library uses none of them, so it compiles none of them.

    std::size_t threadCount() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_.size();
    }
    // Whether a stale channel thread (other than the caller) still runs.
    bool stopPending() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return anyStaleThreadButCaller();
    }
    // Whether the channel is marked started: it gave up, until the next stop.
    bool mqttStarted() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return mqttStarted_;
    }
    // Whether a channel thread is in its receive loop and not handing a text on.
    bool idleInReceive() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return receiving_ && !delivering_;
    }
    // The client (null before the first start and after the teardown); use it
    // only while no channel thread runs.
    const MqttCommandClient* client() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return client_.get();
    }
    CommandInterface* registeredObject() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return registered_.objectPointer();
    }
    CallBackFun registeredFunction() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return registered_.function;
    }
    // The delay before each reconnection attempt (60 s unless changed).
    void setReconnectWait(std::chrono::milliseconds wait) {
        std::lock_guard<std::mutex> lock(mutex_);
        reconnectWait_ = wait;
    }
    // A channel thread's view with no thread: the registration standing now is
    // handed over as at a thread's start, then `text` is handed to the host as
    // a thread started in `startGeneration` does.
    void deliverAsThreadOf(uint64_t startGeneration, const char* text) {
        takeRegistration(0);
        deliver(startGeneration, text);
    }
    uint64_t stopGeneration() const { return stopGeneration_.load(); }

private:
    // One record per channel thread, from its start until it has ended.
    struct ChannelThread {
        uint64_t id;
        uint64_t startGeneration;
    };
    class ThreadLink;  // the client's link to the channel, for one thread

    void runThread(uint64_t id, const SdkConfigPtr& settings);
    // Hands `text` to the registration the client holds, unless the thread
    // (started in `startGeneration`) is stale: the function first, then the object.
    void deliver(uint64_t startGeneration, const char* text);
    // The client takes the registration standing now; false, and nothing
    // taken, when the thread started in `startGeneration` is stale.
    bool takeRegistration(uint64_t startGeneration);

    // --- the mutex is held for each of these
    bool stale(uint64_t startGeneration) const {
        return startGeneration != 0 && startGeneration != stopGeneration_;
    }
    bool anyStaleThreadButCaller() const;
    void forgetThread(uint64_t id);
    // Takes the object that `name` names out of every name: returned for
    // deletion outside the lock or, while one of its functions runs, kept
    // until that call has returned.
    CommandObject release(const ObjectName& name);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    // Moved on by every stop request (under the mutex). Atomic so that a
    // receiving thread can look at it between two receive slices without the mutex.
    std::atomic<uint64_t> stopGeneration_{1};
    std::vector<ChannelThread> threads_;
    // The client of the process: made by the first start, deleted by the teardown.
    std::unique_ptr<MqttCommandClient> client_;
    // The one thread that runs a client (connects, receives), if any, and that
    // client: `client_`, or `orphan_`, a client the teardown took away while its
    // thread still ran it, which that thread deletes on its way out.
    uint64_t runningThread_ = 0;
    MqttCommandClient* clientInUse_ = nullptr;
    std::unique_ptr<MqttCommandClient> orphan_;
    bool receiving_ = false;   // the running thread is in its receive loop
    bool delivering_ = false;  // … and hands a text to the host
    // Set when a thread's receive loop has given up with no stop requested;
    // no start connects while it is set, and the next stop clears it.
    bool mqttStarted_ = false;
    bool tornDown_ = false;
    Registration registered_;  // the host's
    Registration clientHeld_;  // what the client took at its thread's start
    // The object whose function is running, and the object released meanwhile
    // (deleted once that call has returned).
    ObjectName inCall_;
    CommandObject releasedDuringCall_;
    std::chrono::milliseconds reconnectWait_{60000};
};

}  // namespace zolvo_sdk

#endif
