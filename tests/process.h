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
};

struct Child {
    pid_t pid = -1;
    int input = -1;   // the child's standard input; -1 once closed
    int output = -1;  // the child's standard output
};

struct Outcome {
    bool finished = false;  // false: killed after the timeout
    int exitStatus = -1;    // -1 when ended by a signal
    int signal = 0;
    std::string output;
};

// Starts the program with no display in its environment, standard error
// discarded, standard input a pipe that the caller may write to or close,
// and the default action for SIGHUP, SIGINT and SIGTERM.
Child start(const Launch& launch);

// Whether the child ends within `wait` (it is not reaped).
bool endsWithin(const Child& child, std::chrono::milliseconds wait);

// Reads up to `bytes` of the child's output, as much as arrives within
// `timeout`.
std::string readOutput(Child& child, std::size_t bytes, std::chrono::milliseconds timeout);

// Closes the child's input, collects its output and waits for its end; kills
// it after `timeout`.
Outcome finish(Child& child, std::chrono::milliseconds timeout = std::chrono::seconds(60));

// start, write `input`, finish.
Outcome run(const Launch& launch, const std::string& input = "");
