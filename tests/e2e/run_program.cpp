#include "run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace lystrel::test {
namespace {

std::string ReadAll(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return text;
        text.append(buffer, static_cast<size_t>(count));
    }
}

std::string ReadLine(int fd) {
    std::string line;
    char c;
    for (;;) {
        const ssize_t count = read(fd, &c, 1);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return line;
        line.push_back(c);
        if (c == '\n') return line;
    }
}

}  // namespace

ProgramRun RunProgram(const std::string& path, const std::vector<std::string>& arguments, StdoutTarget target) {
    ProgramRun run;
    int out[2] = {-1, -1};
    if (target != StdoutTarget::FullDevice && pipe2(out, O_CLOEXEC) != 0) return run;
    FILE* errFile = tmpfile();
    if (errFile == nullptr) return run;

    std::vector<std::string> argv0 = {path};
    argv0.insert(argv0.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argv0) argv.push_back(&argument[0]);
    argv.push_back(nullptr);

    const pid_t child = fork();
    if (child < 0) return run;
    if (child == 0) {
        signal(SIGPIPE, SIG_DFL);
        const int in = open("/dev/null", O_RDONLY);
        if (in < 0 || dup2(in, 0) < 0) _exit(126);
        const int stdoutFd = target == StdoutTarget::FullDevice ? open("/dev/full", O_WRONLY) : out[1];
        if (stdoutFd < 0 || dup2(stdoutFd, 1) < 0 || dup2(fileno(errFile), 2) < 0) _exit(126);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    run.started = true;
    if (out[1] >= 0) close(out[1]);
    switch (target) {
    case StdoutTarget::Capture:
        run.out = ReadAll(out[0]);
        break;
    case StdoutTarget::ClosedPipe:
        break;
    case StdoutTarget::FirstLineOnly:
        run.out = ReadLine(out[0]);
        break;
    case StdoutTarget::FullDevice:
        break;
    }
    if (out[0] >= 0) close(out[0]);

    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        run.exited = true;
        run.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.signal = WTERMSIG(status);
    }
    fflush(errFile);
    lseek(fileno(errFile), 0, SEEK_SET);
    run.err = ReadAll(fileno(errFile));
    fclose(errFile);
    return run;
}

}  // namespace lystrel::test
