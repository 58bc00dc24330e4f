// The loopback test rig: a real HTTP(S) server playing the platform, a real
// mosquitto broker, a Paho publisher, and helpers to check what went over the
// wire. Everything listens on 127.0.0.1 only and is stopped by its destructor.
#ifndef ZOLVO_TESTS_RIG_H
#define ZOLVO_TESTS_RIG_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "openssl_md5.h"

namespace rig {

// ---------------------------------------------------------------- platform

// One part of a multipart/form-data body, in the order it came.
struct Part {
    std::string name;
    std::string filename;     // empty when the part had no filename
    std::string contentType;  // empty when the part had no Content-Type
    std::string contents;     // raw bytes
};

struct RecordedRequest {
    std::string method;
    std::string path;    // without query
    std::string target;  // the request target as it came (path and query)
    // Names as sent. The HTTP server groups the lines by name (case-insensitive name
    // order); lines of one name keep the order in which they came.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // raw bytes as received (also for multipart)
    bool multipart = false;
    std::vector<Part> parts;  // for multipart requests, every part in order

    // First header of that name (case-insensitive), or "".
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
    // The part of that name, or nullptr.
    const Part* part(const std::string& name) const;
};

// What the server answers on one path.
struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json;charset=UTF-8";
    int delayMs = 0;       // wait before answering (also before reading a large body)
    std::string location;  // with a 3xx status: the Location header
};

// The ten endpoint paths of the platform.
extern const char* const kEndpoints[10];

class PlatformServer {
public:
    struct Options {
        bool tls = false;  // HTTPS with a self-signed certificate made at start
        std::string bindHost = "127.0.0.1";
        int port = 0;  // 0: a free port
    };
    PlatformServer();
    explicit PlatformServer(Options options);
    ~PlatformServer();  // stops and joins
    PlatformServer(const PlatformServer&) = delete;
    PlatformServer& operator=(const PlatformServer&) = delete;

    int port() const;
    // "http://127.0.0.1:<port>" or "https://127.0.0.1:<port>"
    std::string baseUrl() const;
    // With tls: the PEM certificate file the server uses (for tests that trust it).
    std::string certFile() const;

    // Replies per path. Every one of the ten endpoints answers by default:
    // /api/client/init.do with defaultInitReply(broker set by setBroker, or an
    // unreachable one), every other path with {"code":"0000","msg":"ok","path":"<path>"}.
    // Paths not among the ten answer 404 with an empty body (and are recorded).
    void setReply(const std::string& path, const Reply& reply);
    // A handler that computes the reply from the request (overrides setReply).
    void setHandler(const std::string& path, std::function<Reply(const RecordedRequest&)> handler);
    void resetReplies();
    // Broker named by the default init reply: uri such as "tcp://127.0.0.1:1883", and topic.
    void setBroker(const std::string& uri, const std::string& topic);
    // Called on the server's thread with every request once it is recorded, and the
    // reply it is about to get (the standalone platform program prints a line).
    void setRequestLogger(std::function<void(const RecordedRequest&, const Reply&)> logger);

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsTo(const std::string& path) const;
    size_t requestCount() const;
    void clearRequests();
    // Waits until at least n requests in all (or to `path`, if given) were recorded.
    bool waitForRequests(size_t n, std::chrono::milliseconds timeout,
                         const std::string& path = std::string()) const;

    // The broker settings of a successful init reply.
    struct InitSettings {
        std::string uri;  // such as "tcp://127.0.0.1:1883"
        std::string topic;
        std::string username, password;
        std::string clientId;  // empty: "zolvo-test-<n>", unique in the process
        std::string sslTlsVersion = "TLSv1.2";
        int receiveTimeoutMs = 200;
    };
    // {"code":"0000","msg":"ok","data":{prepaymentType, mqttAddress, mqttUsername,
    // mqttPassword, mqttClientId, mqttTopic, mqttQos, mqttTimeout, mqttConnectTimeout,
    // mqttKeepAliveInterval, mqttCleanSession, useSslTls, sslTlsVersion}} with the
    // settings and: prepaymentType 1, mqttQos 1, mqttConnectTimeout 3,
    // mqttKeepAliveInterval 20, mqttCleanSession 1, useSslTls 0.
    static std::string initReply(const InitSettings& settings);
    // The reply with the settings' defaults for that broker and topic.
    static std::string defaultInitReply(const std::string& brokerUri, const std::string& topic);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// ---------------------------------------------------------------- signatures

// opensslMd5Hex (MD5 by OpenSSL's EVP interface, not the library's) is in
// openssl_md5.h, included above.

// Splits a signed form text "k=v&…&sign=S" into pairs at "&", each pair at its first "=".
std::vector<std::pair<std::string, std::string>> parseForm(const std::string& formText);

// Checks the last pair "sign=S" of a signed form text: S must be the upper-case
// MD5 of everything before "&sign=" followed by "&key=" and `key`.
bool checkSign(const std::string& formText, const std::string& key);

// `form` signed with `key`: form + "&sign=" + the MD5 of form + "&key=" + key.
inline std::string signedForm(const std::string& form, const std::string& key) {
    return form + "&sign=" + opensslMd5Hex(form + "&key=" + key);
}

// Rebuilds the signed form text from multipart fields in order ("k=v&…&sign=S"),
// leaving out the file part "fileImage".
std::string formFromParts(const std::vector<Part>& parts);

// The signed form text of a recorded request as it arrived: the body, or the
// multipart fields rebuilt in order.
std::string wireForm(const RecordedRequest& request);

// ---------------------------------------------------------------- encodings
// An encoder independent of the library's own layer (Qt's codec tables).

std::string utf8ToGbk(const std::string& utf8);
std::string gbkToUtf8(const std::string& gbk);
// The library's own result text {"code":"…","msg":"…"} with the message as GBK
// bytes, made with the rig's encoder.
std::string resultText(const std::string& code, const std::string& msgUtf8);
// Hex dump "C9 C2 41" for readable failure messages.
std::string hex(const std::string& bytes);

// ---------------------------------------------------------------- broker

class Broker {
public:
    struct Options {
        bool allowAnonymous = true;
        // Users for a password file (made with mosquitto_passwd); empty: no password file.
        std::vector<std::pair<std::string, std::string>> users;
        // Contents of an ACL file; empty: no ACL.
        std::string acl;
        int port = 0;  // 0: a free port
    };
    Broker();  // starts at once with default options
    explicit Broker(Options options);
    ~Broker();  // stops by PID, removes its directory
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    int port() const;
    std::string uri() const;  // "tcp://127.0.0.1:<port>"
    bool running() const;
    // Starts the broker (again) on the same port and waits until it accepts connections.
    void start();
    // Stops the broker (SIGTERM, then SIGKILL after 5 s) and waits until it has exited.
    void stop();
    void restart();
    // Rewrites the password file / ACL and restarts, so that new rules apply.
    void setUsers(const std::vector<std::pair<std::string, std::string>>& users);
    void setAcl(const std::string& acl);
    // Everything mosquitto wrote to its log so far.
    std::string log() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A Paho C (synchronous) client that publishes test commands.
class Publisher {
public:
    explicit Publisher(const std::string& uri, const std::string& username = std::string(),
                       const std::string& password = std::string());
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;
    // Connects if needed; publishes and waits for completion. Returns false on failure.
    bool publish(const std::string& topic, const std::string& payload, int qos = 1,
                 bool retained = false);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A Paho C (synchronous) subscriber: the rig's own check that a publish arrives.
class Subscriber {
public:
    Subscriber(const std::string& uri, const std::string& topic, int qos = 1);
    ~Subscriber();
    Subscriber(const Subscriber&) = delete;
    Subscriber& operator=(const Subscriber&) = delete;
    bool connected() const;
    // Next payload within the time-out, or false.
    bool receive(std::string& payload, std::chrono::milliseconds timeout);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Publishes with the mosquitto_pub program, in a process of its own. Use it while
// the library's channel runs in this process: a second synchronous Paho client in
// the same process shares the client library's socket loop with the channel and
// can take the packets that the channel's own connect waits for.
class CliPublisher {
public:
    explicit CliPublisher(int port, std::string username = std::string(),
                          std::string password = std::string());
    ~CliPublisher();
    CliPublisher(const CliPublisher&) = delete;
    CliPublisher& operator=(const CliPublisher&) = delete;
    // Publishes with QoS 1 (an empty payload as a zero-length message) and waits
    // for the program to end (10 s at most). Returns false on failure.
    bool publish(const std::string& topic, const std::string& payload);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A broker, a platform whose init reply names it with `topic`, and a publisher
// to that topic: where a program's command channel is tried.
struct CommandSite {
    explicit CommandSite(std::string topicName) : topic(std::move(topicName)) {
        platform.setBroker(broker.uri(), topic);
    }
    // The channel's line once it has subscribed to the topic.
    std::string subscribed() const { return "sub topic: " + topic + " ,return code : 0"; }
    bool send(const std::string& payload) { return sender.publish(topic, payload); }

    Broker broker;
    PlatformServer platform;
    std::string topic;
    CliPublisher sender{broker.port()};
};

// ---------------------------------------------------------------- processes and output

// A program run by a test: the broker, its tools, a host program under wine or
// on Linux. It is started from a thread of the rig that lives as long as the
// process, under a small supervisor: the program ends with the test process,
// however that ends. Both run in a process group of their own.
class ChildProcess {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // Runs argv[0] (looked up in PATH) with `argv`, and `environment` added to
    // ours. Its standard output and error go, merged, into output(), or are
    // appended to `outputFile` when one is named; its standard input is a pipe.
    explicit ChildProcess(const std::vector<std::string>& argv,
                          const Environment& environment = Environment(),
                          const std::string& outputFile = std::string());
    ~ChildProcess();  // a program still running is killed with its group
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const;  // the supervisor's; -1 when nothing was started
    bool running();
    // Its output so far, without the CR of Windows' line ends.
    std::string output() const;
    bool waitFor(const std::string& needle, std::chrono::milliseconds timeout) const;
    // A line to its standard input; closeInput: it reads the end of its input.
    void send(const std::string& text);
    void closeInput();
    // Waits for its end and returns its exit status (128 + N for signal N); -1
    // when it was killed, with its group, after `timeout`; -2 when nothing was started.
    int wait(std::chrono::milliseconds timeout);
    // SIGTERM, SIGKILL after 5 s; returns when it has ended.
    void stop();
    // How it ended: "exit status N", "signal N", "killed at its time-out" or
    // "still running".
    std::string ending() const;

    // The results that a host program prints as "R <label> <hex>" lines
    // (tests/win32/wire_hex.h), in order, as bytes.
    std::vector<std::pair<std::string, std::string>> results() const;
    // The first result of that label; fails the test when there is none.
    std::string result(const std::string& label) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Captures what the process writes to file descriptor 1 or 2 (std::cout, printf,
// fprintf(stderr)) while the object lives; text() flushes and returns it so far.
// Safe while other threads write.
class OutputCapture {
public:
    explicit OutputCapture(int fd);  // 1 or 2
    ~OutputCapture();                // restores the descriptor
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;
    std::string text() const;
    // Waits until text() contains `needle`.
    bool waitFor(const std::string& needle, std::chrono::milliseconds timeout) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A temporary directory removed with everything in it by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Writes a file inside and returns its full path.
    std::string write(const std::string& name, const std::string& contents) const;

private:
    std::string path_;
};

// The whole contents of a file ("" when it cannot be read).
std::string readFile(const std::string& path);
// A loopback port on which nothing listens.
int closedPort();
// How often `needle` stands in `text`, overlapping occurrences included.
size_t occurrences(const std::string& text, const std::string& needle);
// Polls `condition` every 10 ms until it holds or the time-out passes.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace rig

#endif  // ZOLVO_TESTS_RIG_H
