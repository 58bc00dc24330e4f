// Whether the process is ending: on Windows, the loader's shut-down (the
// DLL_PROCESS_DETACH of ExitProcess), when every other thread of the process
// has already been ended, whatever it held. Elsewhere always false: static
// destruction at exit runs while the other threads still live.
#ifndef ZOLVO_SDK_PROCESS_EXIT_H
#define ZOLVO_SDK_PROCESS_EXIT_H

namespace zolvo_sdk {

bool processEnding();

}  // namespace zolvo_sdk

#endif
