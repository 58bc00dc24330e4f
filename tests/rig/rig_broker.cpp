// The broker fixture (Debian's mosquitto as a child process) and the Paho clients of the rig.
#include "rig.h"
#include "rig_internal.h"

#include <MQTTClient.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace rig {

namespace {

const char kMosquitto[] = "/usr/sbin/mosquitto";
const char kMosquittoPasswd[] = "/usr/bin/mosquitto_passwd";

// Runs a tool of mosquitto's to its end (20 s at most), its output appended
// to `outFile`; its exit status, -1 when it did not end by itself.
int runTool(const std::vector<std::string>& argv, const std::string& outFile) {
    ChildProcess tool(argv, {}, outFile);
    const int status = tool.wait(std::chrono::seconds(20));
    return status >= 0 && status < 128 ? status : -1;
}

std::atomic<int> g_clientCounter{0};

std::string uniqueClientId(const char* kind) {
    return std::string("rig-") + kind + "-" + std::to_string(getpid()) + "-" +
           std::to_string(++g_clientCounter);
}

}  // namespace

// ---------------------------------------------------------------- broker

struct Broker::Impl {
    Options options;
    TempDir dir;
    int port = 0;
    std::unique_ptr<ChildProcess> process;

    std::string conf() const { return dir.path() + "/mosquitto.conf"; }
    std::string logFile() const { return dir.path() + "/mosquitto.log"; }
    std::string outFile() const { return dir.path() + "/mosquitto.out"; }

    // Started as root, mosquitto switches to the user "mosquitto" before it reads
    // the password and ACL files and writes its log: hand it the directory.
    void handOver() {
        if (geteuid() != 0) return;
        struct passwd* pw = getpwnam("mosquitto");
        if (!pw) return;
        for (const std::string& f : {dir.path(), conf(), logFile(), outFile(),
                                     dir.path() + "/passwd", dir.path() + "/acl"}) {
            if (access(f.c_str(), F_OK) == 0 && chown(f.c_str(), pw->pw_uid, pw->pw_gid) != 0)
                throw std::runtime_error("rig: cannot hand " + f + " to mosquitto");
        }
    }

    void writeFiles() {
        std::string c;
        c += "listener " + std::to_string(port) + " 127.0.0.1\n";
        c += std::string("allow_anonymous ") + (options.allowAnonymous ? "true" : "false") + "\n";
        c += "persistence false\n";
        c += "log_dest file " + logFile() + "\n";
        c += "log_type all\n";
        c += "connection_messages true\n";
        c += "log_timestamp true\n";
        std::string passwd = dir.path() + "/passwd";
        std::string acl = dir.path() + "/acl";
        unlink(passwd.c_str());
        unlink(acl.c_str());
        if (!options.users.empty()) {
            std::string plain;
            for (const auto& u : options.users) plain += u.first + ":" + u.second + "\n";
            dir.write("passwd", plain);
            chmod(passwd.c_str(), 0600);
            if (runTool({kMosquittoPasswd, "-U", passwd}, outFile()) != 0)
                throw std::runtime_error("rig: mosquitto_passwd failed: " + readFile(outFile()));
            chmod(passwd.c_str(), 0600);
            c += "password_file " + passwd + "\n";
        }
        if (!options.acl.empty()) {
            dir.write("acl", options.acl);
            chmod(acl.c_str(), 0600);
            c += "acl_file " + acl + "\n";
        }
        dir.write("mosquitto.conf", c);
        chmod(dir.path().c_str(), 0700);
        handOver();
    }

    // One attempt; false when mosquitto exited before it listened.
    bool tryStart() {
        process = std::make_unique<ChildProcess>(std::vector<std::string>{kMosquitto, "-c", conf()},
                                                 ChildProcess::Environment(), outFile());
        if (process->pid() < 0) throw std::runtime_error("rig: cannot fork mosquitto");
        bool exited = false;
        bool up = waitUntil(
            [&] {
                exited = !process->running();
                return exited || detail::acceptsConnections(port);
            },
            std::chrono::seconds(10));
        if (exited) {
            process.reset();
            return false;
        }
        if (!up) {
            stop();
            throw std::runtime_error("rig: mosquitto did not listen on port " +
                                     std::to_string(port));
        }
        return true;
    }

    void stop() {
        if (process) process->stop();
        process.reset();
    }

    std::string allLog() const { return readFile(logFile()) + readFile(outFile()); }
};

Broker::Broker() : Broker(Options()) {}

Broker::Broker(Options options) : impl_(new Impl) {
    detail::atLoad();
    impl_->options = options;
    // A port chosen here may be taken by someone else before mosquitto binds it: try another.
    for (int attempt = 0;; ++attempt) {
        impl_->port = options.port ? options.port : detail::freePort();
        impl_->writeFiles();
        if (impl_->tryStart()) break;
        if (options.port || attempt == 4)
            throw std::runtime_error("rig: mosquitto exited at start: " + impl_->allLog());
    }
}

Broker::~Broker() { impl_->stop(); }

int Broker::port() const { return impl_->port; }

std::string Broker::uri() const { return "tcp://127.0.0.1:" + std::to_string(impl_->port); }

bool Broker::running() const { return impl_->process && impl_->process->running(); }

void Broker::start() {
    if (running()) return;
    // The port was ours a moment ago; a listener in TIME_WAIT may need a short while.
    for (int attempt = 0;; ++attempt) {
        if (impl_->tryStart()) return;
        if (attempt == 20)
            throw std::runtime_error("rig: mosquitto did not restart: " + impl_->allLog());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void Broker::stop() { impl_->stop(); }

void Broker::restart() {
    stop();
    start();
}

void Broker::setUsers(const std::vector<std::pair<std::string, std::string>>& users) {
    impl_->options.users = users;
    stop();
    impl_->writeFiles();
    start();
}

void Broker::setAcl(const std::string& acl) {
    impl_->options.acl = acl;
    stop();
    impl_->writeFiles();
    start();
}

std::string Broker::log() const { return readFile(impl_->logFile()); }

// ---------------------------------------------------------------- publisher

struct Publisher::Impl {
    MQTTClient client = nullptr;
    std::string username, password;
    std::mutex mu;

    bool connect() {
        if (MQTTClient_isConnected(client)) return true;
        MQTTClient_connectOptions opts = MQTTClient_connectOptions_initializer;
        opts.keepAliveInterval = 20;
        opts.cleansession = 1;
        opts.connectTimeout = 5;
        if (!username.empty()) opts.username = username.c_str();
        if (!password.empty()) opts.password = password.c_str();
        return MQTTClient_connect(client, &opts) == MQTTCLIENT_SUCCESS;
    }
};

Publisher::Publisher(const std::string& uri, const std::string& username,
                     const std::string& password)
    : impl_(new Impl) {
    detail::atLoad();
    impl_->username = username;
    impl_->password = password;
    if (MQTTClient_create(&impl_->client, uri.c_str(), uniqueClientId("pub").c_str(),
                          MQTTCLIENT_PERSISTENCE_NONE, nullptr) != MQTTCLIENT_SUCCESS)
        throw std::runtime_error("rig: MQTTClient_create failed for " + uri);
}

Publisher::~Publisher() {
    if (MQTTClient_isConnected(impl_->client)) MQTTClient_disconnect(impl_->client, 1000);
    MQTTClient_destroy(&impl_->client);
}

bool Publisher::publish(const std::string& topic, const std::string& payload, int qos,
                        bool retained) {
    std::lock_guard<std::mutex> lk(impl_->mu);
    if (!impl_->connect()) return false;
    MQTTClient_message msg = MQTTClient_message_initializer;
    msg.payload = const_cast<char*>(payload.data());
    msg.payloadlen = static_cast<int>(payload.size());
    msg.qos = qos;
    msg.retained = retained ? 1 : 0;
    MQTTClient_deliveryToken token = 0;
    if (MQTTClient_publishMessage(impl_->client, topic.c_str(), &msg, &token) != MQTTCLIENT_SUCCESS)
        return false;
    if (qos == 0) return true;
    return MQTTClient_waitForCompletion(impl_->client, token, 5000) == MQTTCLIENT_SUCCESS;
}

// ---------------------------------------------------------------- subscriber

struct Subscriber::Impl {
    MQTTClient client = nullptr;
    bool connected = false;
};

Subscriber::Subscriber(const std::string& uri, const std::string& topic, int qos)
    : impl_(new Impl) {
    detail::atLoad();
    if (MQTTClient_create(&impl_->client, uri.c_str(), uniqueClientId("sub").c_str(),
                          MQTTCLIENT_PERSISTENCE_NONE, nullptr) != MQTTCLIENT_SUCCESS)
        throw std::runtime_error("rig: MQTTClient_create failed for " + uri);
    MQTTClient_connectOptions opts = MQTTClient_connectOptions_initializer;
    opts.keepAliveInterval = 20;
    opts.cleansession = 1;
    opts.connectTimeout = 5;
    impl_->connected =
        MQTTClient_connect(impl_->client, &opts) == MQTTCLIENT_SUCCESS &&
        MQTTClient_subscribe(impl_->client, topic.c_str(), qos) == MQTTCLIENT_SUCCESS;
}

Subscriber::~Subscriber() {
    if (MQTTClient_isConnected(impl_->client)) MQTTClient_disconnect(impl_->client, 1000);
    MQTTClient_destroy(&impl_->client);
}

bool Subscriber::connected() const { return impl_->connected; }

bool Subscriber::receive(std::string& payload, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) return false;
        char* topicName = nullptr;
        int topicLen = 0;
        MQTTClient_message* msg = nullptr;
        int rc =
            MQTTClient_receive(impl_->client, &topicName, &topicLen, &msg,
                               static_cast<unsigned long>(std::min<long long>(left.count(), 1000)));
        if (msg) {
            payload.assign(static_cast<const char*>(msg->payload),
                           static_cast<size_t>(msg->payloadlen));
            MQTTClient_freeMessage(&msg);
            MQTTClient_free(topicName);
            return true;
        }
        if (topicName) MQTTClient_free(topicName);
        if (rc != MQTTCLIENT_SUCCESS && rc != MQTTCLIENT_TOPICNAME_TRUNCATED)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// ---------------------------------------------------------------- CliPublisher

struct CliPublisher::Impl {
    int port;
    std::string username, password;
    TempDir dir;
    int count = 0;
};

CliPublisher::CliPublisher(int port, std::string username, std::string password)
    : impl_(new Impl{port, std::move(username), std::move(password), {}, 0}) {}

CliPublisher::~CliPublisher() = default;

bool CliPublisher::publish(const std::string& topic, const std::string& payload) {
    std::vector<std::string> args = {"/usr/bin/mosquitto_pub",
                                     "-h",
                                     "127.0.0.1",
                                     "-p",
                                     std::to_string(impl_->port),
                                     "-q",
                                     "1",
                                     "-t",
                                     topic};
    if (!impl_->username.empty())
        args.insert(args.end(), {"-u", impl_->username, "-P", impl_->password});
    if (payload.empty()) {
        args.push_back("-n");
    } else {
        // From a file, so that any bytes (NUL included) go out as they are.
        args.push_back("-f");
        args.push_back(impl_->dir.write("payload" + std::to_string(++impl_->count), payload));
    }
    ChildProcess program(args, {}, "/dev/null");
    return program.wait(std::chrono::seconds(10)) == 0;
}

}  // namespace rig
