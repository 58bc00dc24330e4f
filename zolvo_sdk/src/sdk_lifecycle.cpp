// The library's state, the registration setters, unInit and teardown.
#include "command_channel.h"
#include "never_destroyed.h"
#include "process_exit.h"
#include "sdk_state.h"

namespace zolvo_sdk {

SdkState& sdkState() {
    static NeverDestroyed<SdkState> state;
    return state.get();
}

SdkConfigPtr SdkState::config() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_;
}

SdkConfigPtr SdkState::initializedConfig() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return initialized_ ? config_ : nullptr;
}

bool SdkState::initialized() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return initialized_;
}

bool SdkState::tornDown() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_ == nullptr;
}

bool SdkState::publish(SdkConfigPtr config) {
    if (config == nullptr) return false;
    SdkConfigPtr previous;  // released outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    if (config_ == nullptr) return false;
    previous = std::move(config_);
    config_ = std::move(config);
    initialized_ = true;
    return true;
}

bool SdkState::clearInitialized() {
    std::lock_guard<std::mutex> lock(mutex_);
    initialized_ = false;
    return config_ != nullptr;
}

void SdkState::clearInitializedAtExit() {
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (lock.owns_lock()) initialized_ = false;
}

void SdkState::tearDown() {
    SdkConfigPtr previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        previous = std::move(config_);
        config_ = nullptr;
        initialized_ = false;
    }
}

namespace {

// At the process's end on Windows every other thread is gone already, maybe
// in the middle of one of the library's locks, and will never answer a stop:
// the channel is only marked stopped (nothing more reaches the host), and
// nothing is waited for, locked or deleted. False everywhere else.
bool endingWithTheProcess() {
    if (!processEnding()) return false;
    CommandChannel::instance().abandonAtExit();
    sdkState().clearInitializedAtExit();
    return true;
}

}  // namespace

ZOLVOSDK::ZOLVOSDK() = default;

ZOLVOSDK& ZOLVOSDK::operator=(const ZOLVOSDK&) { return *this; }

void ZOLVOSDK::unInit() {
    if (endingWithTheProcess()) return;
    SdkState& state = sdkState();
    if (!state.clearInitialized()) return;  // torn down: nothing left to change
    // The channel's own thread disconnects and destroys its handle; the client
    // object and the stored settings stay for the next init.
    CommandChannel::instance().stop();
}

void ZOLVOSDK::setCallBackFun(CallBackFun fn) {
    CommandChannel::instance().registerCallBackFun(fn);
}

void ZOLVOSDK::setCommandInterface(CommandInterface* object) {
    CommandChannel::instance().registerCommandInterface(object);
}

ZOLVOSDK::~ZOLVOSDK() {
    if (endingWithTheProcess()) return;
    // The state first: from here no init succeeds. Then the channel, which
    // refuses every start from its first step and stops the thread of an init
    // that came just before, before the client and the callback objects go.
    sdkState().tearDown();
    CommandChannel::instance().tearDown();
}

}  // namespace zolvo_sdk
