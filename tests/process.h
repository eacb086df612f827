// Runs lumaLeveller as a child process for the tests: its standard output,
// its exit status or signal, each wait bounded by a timeout.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

struct Launch {
    std::string program;
    std::vector<std::string> arguments;
    std::string workingDirectory = ".";
    bool asOtherUser = false;  // drop to an unprivileged user when run as root
    int umask = 022;
    unsigned long long addressSpaceLimit = 0;  // bytes, 0 for none
    unsigned long long fileSizeLimit = 0;      // bytes, 0 for none
    // Processes and threads the user may have, 0 for no limit. The other
    // user is then one of this test process alone, since the limit counts
    // every process of the user.
    unsigned long processLimit = 0;
    std::vector<std::string> environment{};  // "NAME=value", added
};

struct Child {
    pid_t pid = -1;
    int input = -1;   // the child's standard input; -1 once closed
    int output = -1;  // the child's standard output
    int errors = -1;  // a memory file that holds the child's standard error
};

struct ProcessResult {
    bool finished = false;  // false: killed after the timeout
    int exitStatus = -1;    // -1 when ended by a signal
    int signal = 0;
    std::string output;
    std::string errors;
};

// Starts the program with no display in its environment, standard error
// collected, standard input a pipe that the caller may write to or close,
// the default action for SIGHUP, SIGINT, SIGQUIT and SIGTERM, and no core
// dumps.
Child start(const Launch& launch);

// How long the program may take for a step it takes on its own (start,
// read, end) on a busy machine: a sanitized build with both cores taken
// by other work. A run that waits for input never ends at all.
constexpr std::chrono::seconds kStepDeadline{30};

// Whether the child ends within `wait` (it is not reaped).
bool endsWithin(const Child& child, std::chrono::milliseconds wait);

// Reads up to `bytes` of the child's output, as much as arrives within
// `timeout`.
std::string readOutput(Child& child, std::size_t bytes, std::chrono::milliseconds timeout);

// Closes the child's input, collects its output and waits for its end; kills
// it after `timeout`.
ProcessResult finish(Child& child, std::chrono::milliseconds timeout = std::chrono::seconds(60));

// start, then finish: the program's input ends at once.
ProcessResult run(const Launch& launch);
