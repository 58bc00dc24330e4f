// The rig's one way of starting a program: ChildProcess, for the broker, its
// tools and the programs that tests run (host programs under wine and on
// Linux, helpers with a preload library).
#include "rig.h"
#include "rig_internal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

// The hex form in which the host programs print their results.
#include "../win32/wire_hex.h"

namespace rig {

namespace {

using namespace std::chrono_literals;

// Everything the child needs, made before the fork: between fork and exec a
// child of a threaded process must not allocate (another thread may have held
// the allocator's lock at the fork).
struct Launch {
    std::string program;  // argv[0], looked up in PATH
    std::vector<std::string> strings;
    std::vector<char*> argv, envp;
    std::string outputFile;  // when not empty, output goes here instead of `output`
    int input = -1;          // the read end of the input pipe
    int output = -1;         // the write end of the output pipe
    pid_t parent = 0;
};

// Runs in a child forked from the spawner thread (async-signal-safe calls only).
// The child supervises the program: the program itself may switch users (mosquitto
// does when started as root), which clears a parent-death signal, so the
// supervisor keeps it instead. SIGTERM to the supervisor, or the death of the
// test process, stops the program (SIGTERM, SIGKILL after 5 s); the supervisor
// exits with the program's status, 128 + N for a program ended by signal N.
// Both run in a process group of their own.
[[noreturn]] void supervise(const Launch& launch) {
    setpgid(0, 0);
    sigset_t none, watched;
    sigemptyset(&none);
    sigemptyset(&watched);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, SIGCHLD);
    sigprocmask(SIG_SETMASK, &watched, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != launch.parent) _exit(127);
    const int out = launch.outputFile.empty()
                        ? launch.output
                        : open(launch.outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(launch.input, 0);
    if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
    }
    syscall(SYS_close_range, 3U, ~0U, 0U);
    pid_t child = fork();
    if (child < 0) _exit(127);
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execve(launch.program.c_str(), launch.argv.data(), launch.envp.data());
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
// killed takes its programs with it.
class Spawner {
public:
    static Spawner& instance() {
        static Spawner* s = new Spawner;  // never destroyed: its thread serves until exit
        return *s;
    }

    pid_t spawn(const Launch& launch) {
        Job job{&launch, {}};
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
        const Launch* launch;
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
            pid_t pid = fork();
            if (pid == 0) supervise(*job->launch);
            if (pid > 0) setpgid(pid, pid);
            job->pid.set_value(pid);
        }
    }

    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<Job*> jobs_;
};

// The file that `name` names in PATH, or `name` itself.
std::string lookUp(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    const char* path = std::getenv("PATH");
    std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return name;
}

}  // namespace

struct ChildProcess::Impl {
    pid_t pid = -1;
    int input = -1;
    std::string outputFile;
    bool exited = false;
    int status = -1;
    std::string ending = "not started";
    std::thread reader;
    mutable std::mutex mutex;
    std::string output;

    // Reaps the program if it has ended; true once it has.
    bool reaped() {
        if (exited) return true;
        int st = 0;
        const pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == 0 || (r < 0 && errno != ECHILD)) return false;
        exited = true;
        status = r == pid && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        ending = r != pid        ? "reaped elsewhere"
                 : WIFEXITED(st) ? "exit status " + std::to_string(status)
                                 : "signal " + std::to_string(WTERMSIG(st));
        // Whatever the program wrote last is in the pipe: let the reader take it.
        if (reader.joinable()) reader.join();
        return true;
    }
};

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const Environment& environment,
                           const std::string& outputFile)
    : impl_(new Impl) {
    detail::atLoad();
    impl_->outputFile = outputFile;
    if (argv.empty()) return;
    Launch launch;
    launch.program = lookUp(argv[0]);
    launch.outputFile = outputFile;
    launch.parent = getpid();
    std::vector<std::string>& strings = launch.strings;
    strings = argv;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string variable = *e;
        const std::string name = variable.substr(0, variable.find('='));
        bool replaced = false;
        for (const auto& given : environment) replaced = replaced || given.first == name;
        if (!replaced) strings.push_back(variable);
    }
    for (const auto& [name, value] : environment) strings.push_back(name + "=" + value);
    for (size_t i = 0; i < strings.size(); ++i) {
        (i < argv.size() ? launch.argv : launch.envp).push_back(strings[i].data());
    }
    launch.argv.push_back(nullptr);
    launch.envp.push_back(nullptr);
    int in[2], out[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0) return;
    if (outputFile.empty() && pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    launch.input = in[0];
    launch.output = out[1];
    impl_->pid = Spawner::instance().spawn(launch);
    close(in[0]);
    if (out[1] >= 0) close(out[1]);
    impl_->input = in[1];
    impl_->ending = "still running";
    if (out[0] < 0) return;
    impl_->reader = std::thread([impl = impl_.get(), fd = out[0]] {
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            std::lock_guard<std::mutex> lock(impl->mutex);
            // Windows' text mode ends lines with CR LF; lines here end with LF.
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] != '\r') impl->output += buffer[i];
            }
        }
        close(fd);
    });
}

ChildProcess::~ChildProcess() {
    // A program still running here is killed at once.
    if (impl_->pid > 0 && !impl_->exited) wait(0ms);
    if (impl_->input >= 0) close(impl_->input);
    if (impl_->reader.joinable()) impl_->reader.join();
}

int ChildProcess::pid() const { return impl_->pid; }

bool ChildProcess::running() { return impl_->pid > 0 && !impl_->reaped(); }

std::string ChildProcess::output() const {
    if (!impl_->outputFile.empty()) return readFile(impl_->outputFile);
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->output;
}

bool ChildProcess::waitFor(const std::string& needle, std::chrono::milliseconds timeout) const {
    return waitUntil([&] { return output().find(needle) != std::string::npos; }, timeout);
}

void ChildProcess::send(const std::string& text) {
    const std::string line = text + "\n";
    if (impl_->input >= 0) (void)!write(impl_->input, line.data(), line.size());
}

void ChildProcess::closeInput() {
    if (impl_->input >= 0) close(impl_->input);
    impl_->input = -1;
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (impl_->pid <= 0) return -2;
    if (waitUntil([&] { return impl_->reaped(); }, timeout)) return impl_->status;
    // The program's process group; under wine the prefix's wineserver -k ends the rest.
    kill(-impl_->pid, SIGKILL);
    waitpid(impl_->pid, nullptr, 0);
    impl_->exited = true;
    impl_->status = -1;
    impl_->ending = "killed at its time-out";
    return impl_->status;
}

void ChildProcess::stop() {
    if (!running()) return;
    kill(impl_->pid, SIGTERM);  // the supervisor escalates to SIGKILL after 5 s itself
    wait(8s);
}

std::string ChildProcess::ending() const { return impl_->ending; }

std::vector<std::pair<std::string, std::string>> ChildProcess::results() const {
    std::vector<std::pair<std::string, std::string>> all;
    std::istringstream lines(output());
    std::string l;
    while (std::getline(lines, l)) {
        if (l.rfind("R ", 0) != 0) continue;
        const size_t space = l.find(' ', 2);
        if (space == std::string::npos) continue;
        all.emplace_back(l.substr(2, space - 2), wirehex::decode(l.substr(space + 1)));
    }
    return all;
}

std::string ChildProcess::result(const std::string& label) const {
    for (const auto& r : results()) {
        if (r.first == label) return r.second;
    }
    ADD_FAILURE() << "no result " << label << " in the output:\n" << output();
    return std::string();
}

}  // namespace rig
