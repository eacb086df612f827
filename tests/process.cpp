#include "process.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;
constexpr uid_t kFirstSpareUser = 1000000;  // plus the test's process id

[[noreturn]] void becomeProgram(const Launch& launch, int input, int output, int errors)
{
    ::dup2(input, STDIN_FILENO);
    ::dup2(output, STDOUT_FILENO);
    ::dup2(errors, STDERR_FILENO);
    if (::chdir(launch.workingDirectory.c_str()) != 0)
        ::_exit(126);
    ::umask(static_cast<mode_t>(launch.umask));
    const auto limit = [](int resource, rlim_t value) {
        const rlimit limits{value, value};
        if (value != 0 && ::setrlimit(resource, &limits) != 0)
            ::_exit(126);
    };
    limit(RLIMIT_AS, launch.addressSpaceLimit);
    limit(RLIMIT_FSIZE, launch.fileSizeLimit);
    limit(RLIMIT_NPROC, launch.processLimit);
    const rlimit noCoreDumps{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCoreDumps);
    const uid_t user = launch.processLimit == 0 ? kNobody : kFirstSpareUser + static_cast<uid_t>(::getppid());
    if (launch.asOtherUser && ::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNoGroup) != 0 ||
                                                    ::setuid(user) != 0))
        ::_exit(126);
    // Whatever the test runner ignores, the program starts as from a
    // terminal: ending by default on an interruption.
    for (const int signalNumber : {SIGHUP, SIGINT, SIGQUIT, SIGTERM})
        ::signal(signalNumber, SIG_DFL);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    for (const std::string& setting : launch.environment)
        ::putenv(const_cast<char*>(setting.c_str()));

    std::vector<char*> argv{const_cast<char*>(launch.program.c_str())};
    for (const std::string& argument : launch.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv(launch.program.c_str(), argv.data());
    ::_exit(127);
}

// Appends what the child writes to `into` until it holds `bytes`, the
// output ends, or the deadline passes; false on the deadline.
bool collect(int output, std::string& into, std::size_t bytes, std::chrono::steady_clock::time_point deadline)
{
    char buffer[4096];
    while (into.size() < bytes) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd poller{output, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&poller, 1, static_cast<int>(left.count())) == 0)
            return false;
        const ssize_t got = ::read(output, buffer, std::min(sizeof buffer, bytes - into.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        into.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

} // namespace

Child start(const Launch& launch)
{
    int input[2], output[2];
    Child child;
    child.errors = ::memfd_create("errors", MFD_CLOEXEC);
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0 || child.errors < 0)
        std::abort();
    child.pid = ::fork();
    if (child.pid == 0)
        becomeProgram(launch, input[0], output[1], child.errors);
    ::close(input[0]);
    ::close(output[1]);
    child.input = input[1];
    child.output = output[0];
    return child;
}

bool endsWithin(const Child& child, std::chrono::milliseconds wait)
{
    const auto deadline = std::chrono::steady_clock::now() + wait;
    do {
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid != 0)
            return true;
        ::usleep(10000);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::string readOutput(Child& child, std::size_t bytes, std::chrono::milliseconds timeout)
{
    std::string output;
    collect(child.output, output, bytes, std::chrono::steady_clock::now() + timeout);
    return output;
}

ProcessResult finish(Child& child, std::chrono::milliseconds timeout)
{
    if (child.input >= 0) {
        ::close(child.input);
        child.input = -1;
    }
    ProcessResult outcome;
    const bool ended = collect(child.output, outcome.output, std::string::npos,
                               std::chrono::steady_clock::now() + timeout);
    ::close(child.output);
    if (!ended)
        ::kill(child.pid, SIGKILL);
    int status = 0;
    while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    outcome.finished = ended;
    char buffer[4096];
    for (ssize_t got; (got = ::pread(child.errors, buffer, sizeof buffer, outcome.errors.size())) > 0;)
        outcome.errors.append(buffer, static_cast<std::size_t>(got));
    ::close(child.errors);
    if (WIFEXITED(status))
        outcome.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        outcome.signal = WTERMSIG(status);
    return outcome;
}

ProcessResult run(const Launch& launch)
{
    Child child = start(launch);
    return finish(child);
}
