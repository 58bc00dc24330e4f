// The library's state: the stored settings and the initialised flag.
#ifndef ZOLVO_SDK_SDK_STATE_H
#define ZOLVO_SDK_SDK_STATE_H

#include <memory>
#include <mutex>

#include "sdk_config.h"
#include "zolvo_sdk/zolvo_sdk.h"

namespace zolvo_sdk {

// The stored settings and the initialised flag, changed together under one
// lock. A reader takes the settings as one snapshot and keeps using it, while
// init may publish newer settings and unInit or the teardown go on.
class SdkState {
public:
    // The stored settings: those of the last successful init, kept by unInit
    // (before the first init, empty texts and zeros). Null once torn down.
    SdkConfigPtr config() const;
    // The stored settings while initialised, else null (flag and settings
    // read together).
    SdkConfigPtr initializedConfig() const;
    bool initialized() const;
    bool tornDown() const;

    // Stores `config` and sets the initialised flag, in one step. false, and
    // nothing stored, once torn down.
    bool publish(SdkConfigPtr config);
    // Clears the initialised flag; false when torn down.
    bool clearInitialized();
    // Clears the initialised flag if the lock is free at once (at the
    // process's end, when a thread that held it is gone for good).
    void clearInitializedAtExit();
    // Drops the stored settings for good (snapshots still held stay valid)
    // and clears the initialised flag.
    void tearDown();

private:
    mutable std::mutex mutex_;
    SdkConfigPtr config_ = std::make_shared<const SdkConfig>();  // null: torn down
    bool initialized_ = false;
};

// The one state of the process, made on first use and never destroyed: a
// thread may still use it during or after the teardown and static destruction.
SdkState& sdkState();

}  // namespace zolvo_sdk

#endif
