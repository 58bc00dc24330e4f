// Runs one transport operation and writes what it returned to standard output:
//   transport_calls_driver post|multipart|upload <url> <form text> [<file path>]
// The call-order test starts it with the call-logging preload library; its
// standard error is appended to that library's log (ZOLVO_CURL_CALL_LOG).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "http_client.h"

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: %s post|multipart|upload URL FORM [PATH]\n", argv[0]);
        return 2;
    }
    const std::string operation = argv[1];
    const std::string url = argv[2];
    const std::string form = argv[3];
    const std::string path = argc == 5 ? argv[4] : "";
    if (const char* log = std::getenv("ZOLVO_CURL_CALL_LOG")) {
        const int fd = open(log, O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd < 0 || dup2(fd, 2) < 0) return 3;
        close(fd);
    }

    zolvo_sdk::HttpClient client;
    std::string result;
    if (operation == "post") {
        result = client.post(url, form);
    } else if (operation == "multipart") {
        result = client.postMultipart(url, form, path);
    } else if (operation == "upload") {
        result = client.postFile(url, form, path);
    } else {
        std::fprintf(stderr, "unknown operation: %s\n", operation.c_str());
        return 2;
    }
    std::fwrite(result.data(), 1, result.size(), stdout);
    return 0;
}
