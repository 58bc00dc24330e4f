// Splitting a text at a separator (the transport's multipart fields).
#ifndef ZOLVO_SDK_TEXT_SPLIT_H
#define ZOLVO_SDK_TEXT_SPLIT_H

#include <string>
#include <vector>

namespace zolvo_sdk {

// Splits at every occurrence of `separator`; empty pieces count.
std::vector<std::string> split(std::string text, std::string separator);

}  // namespace zolvo_sdk

#endif
