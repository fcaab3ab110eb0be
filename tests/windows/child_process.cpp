// Child processes for the tests: fork and exec, output into anonymous memory
// files, and a bounded wait on a pid file descriptor.
#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

extern char** environ;

namespace lystrel_test {
namespace {

std::string ErrnoText(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// Reads the whole content of a file descriptor from its start.
std::string ReadAll(int fd) {
    std::string content;
    if (lseek(fd, 0, SEEK_SET) < 0) {
        return content;
    }
    char buffer[65536];
    for (;;) {
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(count));
    }
    return content;
}

// This process's environment with the given entries added or replaced.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::map<std::string, std::string> byName;
    std::vector<std::string> order;
    auto put = [&](const std::string& entry) {
        std::string name = entry.substr(0, entry.find('='));
        if (byName.find(name) == byName.end()) {
            order.push_back(name);
        }
        byName[name] = entry;
    };
    for (char** entry = environ; *entry != nullptr; ++entry) {
        put(*entry);
    }
    for (const std::string& entry : extra) {
        put(entry);
    }
    std::vector<std::string> merged;
    for (const std::string& name : order) {
        merged.push_back(byName[name]);
    }
    return merged;
}

std::vector<char*> PointerArray(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Waits for the child to end, at most until the deadline. Returns false on timeout.
bool WaitUntil(int pidFd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd entry{pidFd, POLLIN, 0};
        int ready = poll(&entry, 1, static_cast<int>(left.count()));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

}  // namespace

ChildResult RunChild(const std::vector<std::string>& argv,
                     const std::vector<std::string>& extraEnvironment,
                     const std::string& workDir,
                     std::chrono::seconds limit) {
    ChildResult result;
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = MergedEnvironment(extraEnvironment);
    std::vector<char*> argumentPointers = PointerArray(arguments);
    std::vector<char*> environmentPointers = PointerArray(environment);

    int outFd = memfd_create("child-stdout", MFD_CLOEXEC);
    int errFd = memfd_create("child-stderr", MFD_CLOEXEC);
    int execReport[2] = {-1, -1};
    if (outFd < 0 || errFd < 0 || pipe2(execReport, O_CLOEXEC) != 0) {
        result.error = ErrnoText("memfd_create/pipe2");
        return result;
    }

    auto started = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        // In the child: only async-signal-safe calls until exec.
        int nullFd = open("/dev/null", O_RDONLY);
        if (nullFd < 0 || dup2(nullFd, 0) < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0 ||
            chdir(workDir.c_str()) != 0) {
            int code = errno;
            (void)!write(execReport[1], &code, sizeof code);
            _exit(127);
        }
        execve(argumentPointers[0], argumentPointers.data(), environmentPointers.data());
        int code = errno;
        (void)!write(execReport[1], &code, sizeof code);
        _exit(127);
    }
    close(execReport[1]);
    if (pid < 0) {
        result.error = ErrnoText("fork");
        close(execReport[0]);
        close(outFd);
        close(errFd);
        return result;
    }

    // The report pipe closes on a successful exec; otherwise it carries errno.
    int execError = 0;
    ssize_t got;
    do {
        got = read(execReport[0], &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    close(execReport[0]);

    // A descriptor that becomes readable when the child ends (the system call
    // directly: some C libraries declare no wrapper for C++).
    int pidFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidFd < 0) {
        result.error = ErrnoText("pidfd_open");
        kill(pid, SIGKILL);
    } else if (!WaitUntil(pidFd, started + limit)) {
        result.timedOut = true;
        kill(pid, SIGKILL);
    }
    if (pidFd >= 0) {
        close(pidFd);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);

    if (got == static_cast<ssize_t>(sizeof execError)) {
        errno = execError;
        result.error = ErrnoText(("cannot start " + argv[0]).c_str());
    } else {
        result.started = true;
    }
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    result.standardOutput = ReadAll(outFd);
    result.standardError = ReadAll(errFd);
    close(outFd);
    close(errFd);
    return result;
}

std::string DescribeEnd(const ChildResult& result) {
    if (!result.error.empty()) {
        return result.error;
    }
    if (result.timedOut) {
        return "killed after the time limit (" + std::to_string(result.elapsed.count()) + " ms)";
    }
    if (result.exited) {
        return "exit status " + std::to_string(result.exitStatus);
    }
    return "ended by signal " + std::to_string(result.signal);
}

}  // namespace lystrel_test
