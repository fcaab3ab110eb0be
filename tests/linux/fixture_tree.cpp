#include "fixture_tree.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "layer.h"

namespace lystrel::test {

FixtureTree::FixtureTree() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lystrel-fixture-XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
    root = pattern;
}

FixtureTree::~FixtureTree() {
    // Folders made unreadable by a test must be opened again to be removed.
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(
             root, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) chmod(it->path().c_str(), 0700);
    }
    std::filesystem::remove_all(root, error);
}

void FixtureTree::Write(std::string_view path, std::string_view content) const {
    const std::filesystem::path full = root + std::string(path);
    std::filesystem::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

void FixtureTree::Link(std::string_view path, std::string_view target) const {
    const std::filesystem::path full = root + std::string(path);
    std::filesystem::create_directories(full.parent_path());
    if (symlink(std::string(target).c_str(), full.c_str()) != 0) throw std::runtime_error("symlink failed");
}

void FixtureTree::MakeFolder(std::string_view path) const {
    std::filesystem::create_directories(root + std::string(path));
}

void FixtureTree::Mode(std::string_view path, unsigned mode) const {
    chmod((root + std::string(path)).c_str(), mode);
}

int RunUnprivileged(int (*check)(const std::string&), const std::string& argument) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                               setresuid(65534, 65534, 65534) != 0))
            _exit(255);
        _exit(check(argument));
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

RootGuard::RootGuard(const std::string& root) { layer::SetRoot(root); }

RootGuard::~RootGuard() { layer::SetRoot("/"); }

}  // namespace lystrel::test
