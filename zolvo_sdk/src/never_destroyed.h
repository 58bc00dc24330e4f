// The library's process-wide objects: each is made on first use and never
// destroyed, so that a thread still running during or after static destruction
// (a detached channel thread, a host thread at process exit) finds it intact.
#ifndef ZOLVO_SDK_NEVER_DESTROYED_H
#define ZOLVO_SDK_NEVER_DESTROYED_H

#include <new>
#include <utility>

namespace zolvo_sdk {

// Holds a T built in place whose destructor never runs. Used as a function's
// static: `static NeverDestroyed<T> object(arguments…);`.
template <typename T>
class NeverDestroyed {
public:
    template <typename... Args>
    explicit NeverDestroyed(Args&&... args) {
        ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
    }
    ~NeverDestroyed() = default;  // leaves the T alone
    NeverDestroyed(const NeverDestroyed&) = delete;
    NeverDestroyed& operator=(const NeverDestroyed&) = delete;

    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace zolvo_sdk

#endif
