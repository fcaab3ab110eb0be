// A temporary directory tree that stands in for the layer's root in tests.
#pragma once

#include <string>
#include <string_view>

namespace lystrel::test {

class FixtureTree {
public:
    FixtureTree();
    ~FixtureTree();
    FixtureTree(const FixtureTree&) = delete;
    FixtureTree& operator=(const FixtureTree&) = delete;

    const std::string& Path() const { return root; }
    /// Writes a file at an absolute path inside the tree, creating folders.
    void Write(std::string_view path, std::string_view content) const;
    /// Creates a symbolic link at `path` inside the tree pointing to `target`.
    void Link(std::string_view path, std::string_view target) const;
    /// Creates a folder (and its parents) inside the tree.
    void MakeFolder(std::string_view path) const;
    /// Changes the mode of an entry inside the tree.
    void Mode(std::string_view path, unsigned mode) const;

private:
    std::string root;
};

/// Runs `check` in a forked child that, when the test runs as root, first
/// drops to the unprivileged user 65534; gives the child's exit status, or
/// -1 when the child could not run it. Without root it runs as the caller.
int RunUnprivileged(int (*check)(const std::string&), const std::string& argument);

/// Points the layer at a tree for the guard's lifetime, then back at "/".
class RootGuard {
public:
    explicit RootGuard(const std::string& root);
    ~RootGuard();
};

}  // namespace lystrel::test
