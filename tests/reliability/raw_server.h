// A misbehaving platform on a raw loopback socket: it answers the init path
// properly and every other request with a reply whose Content-Length promises
// more than it sends before it closes the connection.
#ifndef ZOLVO_TESTS_RELIABILITY_RAW_SERVER_H
#define ZOLVO_TESTS_RELIABILITY_RAW_SERVER_H

#include <atomic>
#include <string>
#include <thread>

namespace reltest {

class TruncatingServer {
public:
    // `initReply`: the body sent, whole, to requests for /api/client/init.do.
    explicit TruncatingServer(std::string initReply);
    ~TruncatingServer();  // stops accepting and joins
    TruncatingServer(const TruncatingServer&) = delete;
    TruncatingServer& operator=(const TruncatingServer&) = delete;

    int port() const { return port_; }
    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }
    int truncatedReplies() const { return truncated_; }

private:
    void serve();
    void answer(int fd);

    std::string initReply_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> truncated_{0};
    std::thread thread_;
};

}  // namespace reltest

#endif
