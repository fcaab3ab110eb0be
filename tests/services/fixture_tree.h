// A temporary directory tree that the layer reads as its root, removed when
// the test ends.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "layer.h"

namespace lystrel::testing {

class FixtureTree {
public:
    FixtureTree() {
        char pattern[] = "/tmp/lystrel-services-XXXXXX";
        const char* made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        root_ = made == nullptr ? std::string() : std::string(made);
    }
    ~FixtureTree() {
        layer::SetRoot("/");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    FixtureTree(const FixtureTree&) = delete;
    FixtureTree& operator=(const FixtureTree&) = delete;

    const std::string& Root() const { return root_; }

    /// Points the layer at this tree.
    void Use() const { layer::SetRoot(root_); }

    /// Writes a file at an absolute path inside the tree, making its folders.
    void Write(const std::string& path, const std::string& text) const {
        const std::filesystem::path host = root_ + path;
        std::filesystem::create_directories(host.parent_path());
        std::ofstream out(host, std::ios::binary);
        out << text;
        ASSERT_TRUE(out.good()) << host;
    }

    void MakeDirectory(const std::string& path) const { std::filesystem::create_directories(root_ + path); }

    /// A symbolic link at `path` inside the tree with the given target text.
    void Link(const std::string& path, const std::string& target) const {
        const std::filesystem::path host = root_ + path;
        std::filesystem::create_directories(host.parent_path());
        ASSERT_EQ(symlink(target.c_str(), host.c_str()), 0) << host;
    }

    /// Marks the tree as a machine that systemd runs.
    void MarkSystemd() const { MakeDirectory("/run/systemd/system"); }

    /// A process with the given /proc/PID/cgroup text.
    void Process(uint32_t pid, const std::string& cgroup) const {
        Write("/proc/" + std::to_string(pid) + "/cgroup", cgroup);
    }

private:
    std::string root_;
};

}  // namespace lystrel::testing
