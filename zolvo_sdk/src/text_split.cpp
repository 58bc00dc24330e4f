// Splitting a text at a separator.
#include "text_split.h"

namespace zolvo_sdk {

std::vector<std::string> split(std::string text, std::string separator) {
    std::vector<std::string> pieces;
    if (separator.empty()) {
        pieces.push_back(text);
        return pieces;
    }
    // Separators are looked for in the text only, never across its end, so a
    // separator that overlaps itself ("aa" in "aaa") cannot swallow the last piece.
    size_t start = 0;
    for (size_t pos = text.find(separator); pos != std::string::npos;
         pos = text.find(separator, start)) {
        pieces.push_back(text.substr(start, pos - start));
        start = pos + separator.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

}  // namespace zolvo_sdk
