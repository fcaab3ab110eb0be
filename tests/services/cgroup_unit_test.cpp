// Which service a /proc/PID/cgroup text places a process in.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "cgroup_unit.h"

namespace lystrel::layer {
namespace {

struct CgroupCase {
    const char* what;
    std::string text;
    std::optional<std::string> unit;
};

TEST(ParseCgroupServiceUnit, NamesTheServiceOfEachHierarchyLayout) {
    const CgroupCase cases[] = {
        {"v2", "0::/system.slice/ssh.service\n", "ssh.service"},
        {"v2 without final newline", "0::/system.slice/cron.service", "cron.service"},
        {"v1 name=systemd line",
         "12:pids:/system.slice/ssh.service\n1:name=systemd:/system.slice/ssh.service\n", "ssh.service"},
        {"hybrid: both lines", "1:name=systemd:/system.slice/nginx.service\n0::/system.slice/nginx.service\n",
         "nginx.service"},
        {"v1 line wins over the unified one",
         "1:name=systemd:/system.slice/a.service\n0::/system.slice/b.service\n", "a.service"},
        {"v1 hierarchy at its root, unified line names the service",
         "1:name=systemd:/\n0::/system.slice/docker.service\n", "docker.service"},
        {"v1 controller lists", "3:cpu,name=systemd:/system.slice/x.service\n", "x.service"},
        {"nested slices", "0::/system.slice/system-getty.slice/getty@tty1.service\n", "getty@tty1.service"},
        {"user manager hosts the user's units",
         "0::/user.slice/user-1000.slice/user@1000.service/app.slice/foo.service\n", "user@1000.service"},
        {"subgroup inside a service", "0::/system.slice/containerd.service/kubepods/pod1\n",
         "containerd.service"},
        {"service directly under the root", "0::/ssh.service\n", "ssh.service"},
        {"escaped unit name", "0::/system.slice/systemd-fsck@dev-disk-by\\x2duuid-1.service\n",
         "systemd-fsck@dev-disk-by\\x2duuid-1.service"},
        {"path holding a colon", "0::/system.slice/a:b.service\n", "a:b.service"},
        {"session scope", "0::/user.slice/user-1000.slice/session-2.scope\n", std::nullopt},
        {"init scope", "0::/init.scope\n", std::nullopt},
        {"root group", "0::/\n", std::nullopt},
        {"slice only", "0::/system.slice\n", std::nullopt},
        {"service below a scope", "0::/machine.slice/libpod-1.scope/container/x.service\n", std::nullopt},
        {"no systemd lines", "4:memory:/system.slice/ssh.service\n", std::nullopt},
        {"empty", "", std::nullopt},
        {"truncated name", "0::/system.slice/ssh.serv", std::nullopt},
        {"truncated line", "0:", std::nullopt},
        {"missing path separator", "0::system.slice/ssh.service\n", std::nullopt},
        {"bare suffix", "0::/system.slice/.service\n", std::nullopt},
        {"bare template", "0::/system.slice/getty@.service\n", std::nullopt},
        {"template without name", "0::/system.slice/@tty1.service\n", std::nullopt},
        {"bytes outside unit names", "0::/system.slice/a b.service\n", std::nullopt},
        {"non-numeric id", "x::/system.slice/ssh.service\n", std::nullopt},
        {"empty component", "0::/system.slice//ssh.service\n", std::nullopt},
        {"binary garbage", std::string("\0\xff:\n::\n0::", 10), std::nullopt},
        {"overlong name", "0::/" + std::string(300, 'a') + ".service\n", std::nullopt},
    };
    for (const CgroupCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ParseCgroupServiceUnit(c.text), c.unit);
    }
}

}  // namespace
}  // namespace lystrel::layer
