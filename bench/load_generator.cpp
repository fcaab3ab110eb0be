// Load for the benchmarks: PROCESSES child processes, each holding SOCKETS TCP
// listeners and SOCKETS UDP sockets, alternating between 127.0.0.1 and ::1.
//
//   lystrel_load PROCESSES SOCKETS [LIFETIME_SECONDS]
//
// Prints "ready" once every child holds its sockets, then keeps them until its
// standard input closes or the lifetime (default 600 s) ends. It then ends the
// children it started, by pid, and waits for them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int OpenSocket(int type, bool ipv6) {
    int fd = socket(ipv6 ? AF_INET6 : AF_INET, type, 0);
    if (fd < 0) return -1;
    int result;
    if (ipv6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_loopback;
        result = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        result = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (result == 0 && type == SOCK_STREAM) result = listen(fd, 4);
    if (result != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// The child's life: open the sockets, report, and wait for the parent to go.
[[noreturn]] void Child(int sockets, int readyFd, int stopFd, unsigned lifetime) {
    alarm(lifetime);
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    char status = 'R';
    for (int index = 0; index < sockets && status == 'R'; ++index) {
        bool ipv6 = index % 2 == 1;
        if (OpenSocket(SOCK_STREAM, ipv6) < 0 || OpenSocket(SOCK_DGRAM, ipv6) < 0) status = 'F';
    }
    if (write(readyFd, &status, 1) != 1) _exit(1);
    char byte;
    while (read(stopFd, &byte, 1) > 0) {
    }
    _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PROCESSES SOCKETS [LIFETIME_SECONDS]\n", argv[0]);
        return 2;
    }
    const int processes = std::atoi(argv[1]);
    const int sockets = std::atoi(argv[2]);
    const unsigned lifetime = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 600;
    if (processes <= 0 || sockets < 0) return 2;

    int ready[2], stop[2];
    if (pipe(ready) != 0 || pipe(stop) != 0) return 1;
    std::vector<pid_t> children;
    for (int index = 0; index < processes; ++index) {
        pid_t pid = fork();
        if (pid < 0) break;
        if (pid == 0) {
            close(ready[0]);
            close(stop[1]);
            Child(sockets, ready[1], stop[0], lifetime);
        }
        children.push_back(pid);
    }
    close(ready[1]);
    close(stop[0]);

    bool ok = static_cast<int>(children.size()) == processes;
    for (size_t index = 0; index < children.size(); ++index) {
        char status = 0;
        if (read(ready[0], &status, 1) != 1 || status != 'R') ok = false;
    }
    if (ok) {
        std::printf("ready\n");
        std::fflush(stdout);
        // Hold the sockets until standard input closes or the lifetime ends.
        pollfd input{STDIN_FILENO, POLLIN, 0};
        char buffer[256];
        while (poll(&input, 1, static_cast<int>(lifetime) * 1000) > 0 &&
               read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
        }
    } else {
        std::fprintf(stderr, "lystrel_load: a child could not open its sockets\n");
    }
    close(stop[1]);
    for (pid_t pid : children) kill(pid, SIGTERM);
    for (pid_t pid : children) waitpid(pid, nullptr, 0);
    return ok ? 0 : 1;
}
