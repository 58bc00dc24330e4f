// The command dispatch: a command payload, as received from the broker, read
// as JSON and turned into one call of the callback object.
#ifndef ZOLVO_SDK_COMMAND_DISPATCH_H
#define ZOLVO_SDK_COMMAND_DISPATCH_H

#include "zolvo_sdk/zolvo_sdk.h"

namespace zolvo_sdk {

// Parses `text` (up to its first NUL) and calls the function of `object` that
// its "command" member names. A text that does not parse, or has no command,
// is ignored; an unknown command is logged. Exceptions of the object's
// function reach the caller.
void dispatchCommand(CommandInterface& object, const char* text);

}  // namespace zolvo_sdk

#endif
