// Runs a program as a user would from a shell and collects what it did.
#pragma once

#include <string>
#include <vector>

namespace lystrel::test {

enum class StdoutTarget {
    /// Read to the end.
    Capture,
    /// A pipe whose read end is closed before the program writes.
    ClosedPipe,
    /// A pipe from which one line is read before the read end is closed.
    FirstLineOnly,
    /// /dev/full.
    FullDevice,
};

struct ProgramRun {
    bool started = false;
    bool exited = false;
    int exitStatus = -1;
    int signal = 0;
    std::string out;
    std::string err;
};

/// Runs `path` with `arguments`, standard input from /dev/null, standard
/// error captured, SIGPIPE at its default, and waits for it to end.
ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& arguments,
                      StdoutTarget target = StdoutTarget::Capture);

}  // namespace lystrel::test
