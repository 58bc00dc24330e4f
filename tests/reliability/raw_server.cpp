#include "raw_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <strings.h>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace reltest {

namespace {

// Waits up to `ms` for `fd` to be readable.
bool readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

void sendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

std::string headerValue(const std::string& head, const char* name) {
    const std::string key = std::string("\r\n") + name + ":";
    for (size_t p = 0; p + key.size() <= head.size(); ++p) {
        if (strncasecmp(head.c_str() + p, key.c_str(), key.size()) != 0) continue;
        size_t start = head.find_first_not_of(' ', p + key.size());
        size_t end = head.find("\r\n", start);
        return head.substr(start, end - start);
    }
    return std::string();
}

}  // namespace

TruncatingServer::TruncatingServer(std::string initReply) : initReply_(std::move(initReply)) {
    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd_ < 0) throw std::runtime_error("socket");
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listenFd_, 16) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(listenFd_);
        throw std::runtime_error("bind/listen on loopback");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
}

TruncatingServer::~TruncatingServer() {
    stopping_ = true;
    thread_.join();
    close(listenFd_);
}

void TruncatingServer::serve() {
    while (!stopping_) {
        if (!readable(listenFd_, 50)) continue;
        int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        answer(fd);
        close(fd);
    }
}

// Reads the head and the body its Content-Length announces (answering an
// "Expect: 100-continue" first), each read bounded to 5 s of silence.
void TruncatingServer::answer(int fd) {
    std::string data;
    char buffer[65536];
    size_t headEnd = std::string::npos;
    while (headEnd == std::string::npos && data.size() < (1u << 20)) {
        if (!readable(fd, 5000)) return;
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        data.append(buffer, static_cast<size_t>(n));
        headEnd = data.find("\r\n\r\n");
    }
    if (headEnd == std::string::npos) return;
    const std::string head = data.substr(0, headEnd + 2);
    const size_t firstSpace = head.find(' ');
    const std::string target =
        head.substr(firstSpace + 1, head.find(' ', firstSpace + 1) - firstSpace - 1);
    if (strcasecmp(headerValue(head, "Expect").c_str(), "100-continue") == 0)
        sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n");
    const size_t length = std::strtoull(headerValue(head, "Content-Length").c_str(), nullptr, 10);
    size_t have = data.size() - (headEnd + 4);
    while (have < length) {
        if (!readable(fd, 5000)) return;
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        have += static_cast<size_t>(n);
    }
    if (target == "/api/client/init.do") {
        sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
                    "Content-Length: " +
                        std::to_string(initReply_.size()) + "\r\n\r\n" + initReply_);
        return;
    }
    ++truncated_;
    sendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
                "Content-Length: 4096\r\n\r\n{\"code\":\"0000\",\"msg\":\"cut her");
    shutdown(fd, SHUT_WR);
}

}  // namespace reltest
