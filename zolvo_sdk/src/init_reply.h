// Reading the platform's init reply: the outcome of reading it and the client
// settings of a successful reply. Internal to the library and its tests.
#ifndef ZOLVO_SDK_INIT_REPLY_H
#define ZOLVO_SDK_INIT_REPLY_H

#include <string>

#include "sdk_state.h"

namespace zolvo_sdk {

enum class ReplyOutcome { kSuccess, kRefused, kUnreadable };

// Parses the reply (up to its first NUL) and, on the code "0000", reads its
// client settings (prepaymentType to sslTlsVersion) into `config`, all of them
// or, when one cannot be read, none (`config` is left untouched otherwise). An object without that
// code, or a null, is kRefused. Never throws: every other unexpected shape is
// kUnreadable.
ReplyOutcome readReply(const std::string& responseStr, SdkConfig& config);

}  // namespace zolvo_sdk

#endif
