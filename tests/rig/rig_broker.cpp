// The broker fixture (Debian's mosquitto as a child process) and the Paho clients of the rig.
#include "rig.h"
#include "rig_internal.h"

#include <MQTTClient.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace rig {

namespace {

const char kMosquitto[] = "/usr/sbin/mosquitto";
const char kMosquittoPasswd[] = "/usr/bin/mosquitto_passwd";

// Runs in a child forked from the spawner thread (async-signal-safe calls only).
// The child supervises the program: the program itself may switch users (mosquitto
// does when started as root), which clears a parent-death signal, so the
// supervisor keeps it instead. SIGTERM to the supervisor, or the death of the
// test process, stops the program (SIGTERM, SIGKILL after 5 s); the supervisor
// exits with the program's status.
[[noreturn]] void supervise(pid_t parent, char* const* argv, const char* out) {
    sigset_t none, watched;
    sigemptyset(&none);
    sigemptyset(&watched);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, SIGCHLD);
    sigprocmask(SIG_SETMASK, &watched, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    int in = open("/dev/null", O_RDONLY);
    int o = open(out, O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in >= 0) dup2(in, 0);
    if (o >= 0) {
        dup2(o, 1);
        dup2(o, 2);
    }
    syscall(SYS_close_range, 3U, ~0U, 0U);
    pid_t child = fork();
    if (child < 0) _exit(127);
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execv(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    bool terminating = false;
    int ticks = 0;
    for (;;) {
        siginfo_t info;
        timespec tick{0, 100 * 1000 * 1000};
        int sig = sigtimedwait(&watched, &info, &tick);
        pid_t r = waitpid(child, &status, WNOHANG);
        if (r == child) break;
        if (sig == SIGTERM && !terminating) {
            terminating = true;
            kill(child, SIGTERM);
        }
        if (terminating && ++ticks == 50) kill(child, SIGKILL);  // 5 s of 100 ms ticks
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status)
                            : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0));
}

// Children are forked from one thread that lives as long as the process, and
// ask the kernel to stop them when that thread ends: a test that aborts or is
// killed takes its broker with it.
class Spawner {
public:
    static Spawner& instance() {
        static Spawner* s = new Spawner;  // never destroyed: its thread serves until exit
        return *s;
    }

    pid_t spawn(const std::vector<std::string>& argv, const std::string& outFile) {
        Job job{argv, outFile, {}};
        std::future<pid_t> result = job.pid.get_future();
        {
            std::lock_guard<std::mutex> lk(mu_);
            jobs_.push_back(&job);
        }
        cv_.notify_one();
        return result.get();
    }

private:
    struct Job {
        std::vector<std::string> argv;
        std::string outFile;
        std::promise<pid_t> pid;
    };

    Spawner() {
        std::thread([this] { serve(); }).detach();
    }

    void serve() {
        for (;;) {
            Job* job;
            {
                std::unique_lock<std::mutex> lk(mu_);
                cv_.wait(lk, [this] { return !jobs_.empty(); });
                job = jobs_.front();
                jobs_.pop_front();
            }
            std::vector<char*> argv;
            for (auto& a : job->argv) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            const char* out = job->outFile.c_str();
            pid_t parent = getpid();
            pid_t pid = fork();
            if (pid == 0) supervise(parent, argv.data(), out);
            job->pid.set_value(pid);
        }
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Job*> jobs_;
};

// Waits for the child up to `timeout`; true when it has exited (and was reaped).
bool reap(pid_t pid, std::chrono::milliseconds timeout, int* status = nullptr) {
    int st = 0;
    bool done = waitUntil(
        [&] {
            pid_t r = waitpid(pid, &st, WNOHANG);
            return r == pid || (r < 0 && errno == ECHILD);
        },
        timeout);
    if (status) *status = st;
    return done;
}

int runTool(const std::vector<std::string>& argv, const std::string& outFile) {
    pid_t pid = Spawner::instance().spawn(argv, outFile);
    if (pid < 0) return -1;
    int status = 0;
    if (!reap(pid, std::chrono::seconds(20), &status)) {
        kill(pid, SIGKILL);
        reap(pid, std::chrono::seconds(5));
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
    pid_t pid = -1;

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
                throw std::runtime_error("rig: mosquitto_passwd failed: " +
                                         detail::readFile(outFile()));
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
        pid = Spawner::instance().spawn({kMosquitto, "-c", conf()}, outFile());
        if (pid < 0) throw std::runtime_error("rig: cannot fork mosquitto");
        bool exited = false;
        bool up = waitUntil(
            [&] {
                int st;
                if (waitpid(pid, &st, WNOHANG) == pid) {
                    exited = true;
                    return true;
                }
                return detail::acceptsConnections(port);
            },
            std::chrono::seconds(10));
        if (exited) {
            pid = -1;
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
        if (pid <= 0) return;
        kill(pid, SIGTERM);  // the supervisor escalates to SIGKILL after 5 s itself
        if (!reap(pid, std::chrono::seconds(8))) {
            kill(pid, SIGKILL);
            reap(pid, std::chrono::seconds(5));
        }
        pid = -1;
    }

    std::string allLog() const { return detail::readFile(logFile()) + detail::readFile(outFile()); }
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

bool Broker::running() const {
    if (impl_->pid <= 0) return false;
    int st;
    if (waitpid(impl_->pid, &st, WNOHANG) == impl_->pid) {
        impl_->pid = -1;
        return false;
    }
    return true;
}

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

std::string Broker::log() const { return detail::readFile(impl_->logFile()); }

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
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    bool done =
        waitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(10));
    if (!done) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace rig
