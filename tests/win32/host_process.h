// A program run by a Linux test: the host programs of the wine suite (under
// wine) and the Linux builds of the same hosts.
#ifndef ZOLVO_TESTS_HOST_PROCESS_H
#define ZOLVO_TESTS_HOST_PROCESS_H

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "rig.h"
#include "wire_hex.h"

namespace hostrun {

using namespace std::chrono_literals;

// The value of a variable that the Windows build's ctest entries set; a test
// failure, and the empty text, when it is not set.
inline std::string requiredEnv(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        ADD_FAILURE() << name << " is not set: run this program through the Windows build's ctest";
        return std::string();
    }
    return value;
}

// One run of a program, its standard output and error merged into one pipe
// that a thread reads, its standard input a pipe of ours.
class HostProcess {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // Runs argv[0] (looked up in PATH) with `argv` and `environment` added to ours.
    HostProcess(const std::vector<std::string>& argv, const Environment& environment) {
        if (argv.empty()) return;
        // Everything the child needs is made before the fork: between fork and
        // exec a child of a threaded process must not allocate (another thread
        // may have held the allocator's lock at the fork).
        std::vector<std::string> variables;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string variable = *e;
            const std::string name = variable.substr(0, variable.find('='));
            bool replaced = false;
            for (const auto& given : environment) replaced = replaced || given.first == name;
            if (!replaced) variables.push_back(variable);
        }
        for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
        std::vector<char*> envp, args;
        for (auto& v : variables) envp.push_back(v.data());
        envp.push_back(nullptr);
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        int out[2], in[2];
        if (pipe(out) != 0 || pipe(in) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            dup2(in[0], 0);
            dup2(out[1], 1);
            dup2(out[1], 2);
            close(in[0]);
            close(in[1]);
            close(out[0]);
            close(out[1]);
            execvpe(args[0], args.data(), envp.data());
            _exit(127);
        }
        setpgid(pid_, pid_);
        close(in[0]);
        close(out[1]);
        input_ = in[1];
        reader_ = std::thread([this, fd = out[0]] {
            char buffer[4096];
            for (;;) {
                const ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                std::lock_guard<std::mutex> lock(mutex_);
                // Windows' text mode ends lines with CR LF; lines here end with LF.
                for (ssize_t i = 0; i < n; ++i) {
                    if (buffer[i] != '\r') output_ += buffer[i];
                }
            }
            close(fd);
        });
    }

    ~HostProcess() {
        // A program still running here is killed at once.
        if (pid_ > 0 && !exited_) wait(0ms);
        if (input_ >= 0) close(input_);
        if (reader_.joinable()) reader_.join();
    }

    std::string output() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return output_;
    }

    bool waitFor(const std::string& needle, std::chrono::milliseconds timeout) const {
        return rig::waitUntil([&] { return output().find(needle) != std::string::npos; }, timeout);
    }

    void send(const std::string& text) {
        const std::string lineText = text + "\n";
        if (input_ >= 0) (void)!write(input_, lineText.data(), lineText.size());
    }

    // The program reads the end of its input.
    void closeInput() {
        if (input_ >= 0) close(input_);
        input_ = -1;
    }

    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // The exit status; -1 when the program was killed after `timeout`.
    int wait(std::chrono::milliseconds timeout) {
        if (pid_ <= 0) return -2;
        if (exited_) return status_;
        int status = 0;
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) break;
            if (std::chrono::steady_clock::now() > end) {
                // The program's process group; under wine the prefix's
                // wineserver -k ends the rest.
                kill(-pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                exited_ = true;
                status_ = -1;
                ending_ = "killed at its time-out";
                return status_;
            }
            std::this_thread::sleep_for(20ms);
        }
        exited_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ending_ = WIFEXITED(status) ? "exit status " + std::to_string(status_)
                                    : "signal " + std::to_string(WTERMSIG(status));
        // Whatever the program wrote last is in the pipe: let the reader take it.
        if (reader_.joinable()) reader_.join();
        return status_;
    }

    // How the program ended, after `wait`: "exit status N", "signal N" or
    // "killed at its time-out".
    std::string ending() const { return ending_; }

    // "R <label> <hex>" lines, in order.
    std::vector<std::pair<std::string, std::string>> results() const {
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

    // The first result of that label; fails the test when there is none.
    std::string result(const std::string& label) const {
        for (const auto& r : results()) {
            if (r.first == label) return r.second;
        }
        ADD_FAILURE() << "no result " << label << " in the output:\n" << output();
        return std::string();
    }

private:
    pid_t pid_ = -1;
    int input_ = -1;
    bool exited_ = false;
    int status_ = -1;
    std::string ending_ = "still running";
    std::thread reader_;
    mutable std::mutex mutex_;
    std::string output_;
};

}  // namespace hostrun

#endif
