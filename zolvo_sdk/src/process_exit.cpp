// The loader's shut-down, as ntdll reports it (looked up at run time: the
// function is not in the import libraries).
#include "process_exit.h"

#ifdef _WIN32
#  include <windows.h>
#endif

namespace zolvo_sdk {

#ifdef _WIN32

bool processEnding() {
    using ShutdownInProgress = BOOLEAN(WINAPI*)();
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return false;
    const auto inProgress = reinterpret_cast<ShutdownInProgress>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlDllShutdownInProgress")));
    return inProgress != nullptr && inProgress() != FALSE;
}

#else

bool processEnding() { return false; }

#endif

}  // namespace zolvo_sdk
