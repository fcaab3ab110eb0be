// Runs a program as a child process and collects its output and exit status.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace lystrel_test {

/// What one child process run produced.
struct ChildResult {
    bool started = false;   // false: the program could not be started (see error)
    bool timedOut = false;  // true: the child outlived the limit and was killed
    bool exited = false;    // true: the child ended through exit; exitStatus is valid
    int exitStatus = -1;
    int signal = 0;         // the signal that ended the child, when it did not exit
    std::string standardOutput;
    std::string standardError;
    std::string error;      // why the run failed, when it did
    std::chrono::milliseconds elapsed{0};
};

/// Runs argv[0] (a path) with argv and this process's environment plus the
/// given NAME=VALUE entries, in workDir, with standard input from /dev/null.
/// Standard output and standard error are collected separately. A child that
/// runs longer than limit is killed by its pid and reported as timed out.
ChildResult RunChild(const std::vector<std::string>& argv,
                     const std::vector<std::string>& extraEnvironment,
                     const std::string& workDir,
                     std::chrono::seconds limit);

/// A one-line description of how the child ended, for failure messages.
std::string DescribeEnd(const ChildResult& result);

}  // namespace lystrel_test
