#pragma once

// Starts the built QV_Backup with arguments and an environment of the test's
// own, and collects its output and exit status.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace qvb::test {

struct ProgramResult {
    int exitCode = -1;  // 128 + signal when a signal ended it
    long maxRssKb = 0;  // the peak memory the program (or the wrapper it ran) used
    std::string out;
    std::string err;
};

// Runs `argText` (the program's path first) like runProgram below.
inline ProgramResult runCommand(
    std::vector<std::string> argText, const std::map<std::string, std::string>& env,
    const std::function<void(pid_t, const std::string&)>& onOutput = {}) {
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (!env.count(entry.substr(0, entry.find('=')))) envText.push_back(entry);
    }
    for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
    std::vector<char*> envp, argv;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    for (auto& a : argText) argv.push_back(a.data());
    argv.push_back(nullptr);

    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int rc =
        posix_spawn(&pid, argText[0].c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    ProgramResult result;
    if (rc != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return result;
    }
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            if (i == 0 && onOutput) onOutput(pid, result.out);
        }
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.maxRssKb = usage.ru_maxrss;
    return result;
}

// `onOutput` sees the standard output collected so far after each piece and
// may signal the program.
inline ProgramResult runProgram(
    const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
    const std::function<void(pid_t, const std::string&)>& onOutput = {}) {
    std::vector<std::string> argText{QVB_BINARY};
    argText.insert(argText.end(), args.begin(), args.end());
    return runCommand(std::move(argText), env, onOutput);
}

}  // namespace qvb::test
