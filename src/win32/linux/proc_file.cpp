// Reads files of /proc to their end.
#include "proc_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "fault_injection.h"

namespace lystrel::layer {

bool ReadWholeFile(const std::string& hostPath, std::string& text, size_t limit) {
    text.clear();
    const int fd = Faulted(Fault::ProcFileOpen) ? -1 : open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    size_t used = 0;
    bool ok = true;
    while (used < limit) {
        if (text.size() - used < 4096) text.resize(text.size() + (text.size() < 4096 ? 4096 : text.size()));
        const size_t room = text.size() - used < limit - used ? text.size() - used : limit - used;
        const ssize_t count = Faulted(Fault::ProcFileRead) ? -1 : read(fd, &text[used], room);
        if (count < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (count == 0) break;
        used += static_cast<size_t>(count);
    }
    close(fd);
    text.resize(used);
    return ok;
}

}  // namespace lystrel::layer
