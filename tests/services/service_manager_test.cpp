// OpenSCManagerA and EnumServicesStatusExA over fixture trees, and the
// service snapshot that the report takes through them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fixture_tree.h"
#include "win32.h"
#include "windows_queries.h"

namespace lystrel {
namespace {

struct Expected {
    std::string serviceName;
    std::string displayName;
    uint32_t processId;
};

// A machine with services of every kind the scan meets.
void WriteMachine(const testing::FixtureTree& tree) {
    tree.MarkSystemd();
    tree.Write("/lib/systemd/system/ssh.service", "[Unit]\nDescription=OpenBSD Secure Shell server\n");
    tree.Write("/lib/systemd/system/getty@.service", "[Unit]\nDescription=Getty on %I\n");
    tree.Write("/lib/systemd/system/cron.service", "[Unit]\nDescription=Regular background program\n");
    tree.Write("/etc/systemd/system/cron.service.d/10-a.conf", "[Unit]\nDescription=First override\n");
    tree.Write("/etc/systemd/system/cron.service.d/20-b.conf", "[Unit]\nDescription=Second override\n");
    tree.Write("/lib/systemd/system/user@.service", "[Unit]\nDescription=User Manager for UID %i\n");
    tree.Write("/lib/systemd/system/odd@.service", "[Unit]\nDescription=Odd %I \x1b[31m\n");
    // cgroup v2, two processes of one service.
    tree.Process(612, "0::/system.slice/ssh.service\n");
    tree.Process(700, "0::/system.slice/ssh.service\n");
    // cgroup v1 and hybrid layouts.
    tree.Process(55, "5:memory:/system.slice/cron.service\n1:name=systemd:/system.slice/cron.service\n");
    tree.Process(80, "1:name=systemd:/system.slice/system-getty.slice/getty@tty1.service\n"
                     "0::/system.slice/system-getty.slice/getty@tty1.service\n");
    // A user's unit inside the user manager.
    tree.Process(1500, "0::/user.slice/user-1000.slice/user@1000.service/app.slice/foo.service\n");
    // No unit file at all.
    tree.Process(90, "0::/system.slice/nofile.service\n");
    // Control bytes in a description, one of them from the unescaped
    // instance, and a backslash in a unit name.
    tree.Process(91, "0::/system.slice/odd@a\\x0ab.service\n");
    // Not services: a session, the init scope, malformed and truncated files.
    tree.Process(2000, "0::/user.slice/user-1000.slice/session-2.scope\n");
    tree.Process(1, "0::/init.scope\n");
    tree.Process(3000, "garbage without colons");
    tree.Process(3001, "0::/system.slice/trunc.serv");
    tree.Process(3002, "");
    // A process that vanished: its directory is left, its files are gone.
    tree.MakeDirectory("/proc/4000");
    // Entries of /proc that are not processes.
    tree.Write("/proc/self/cgroup", "0::/system.slice/ssh.service\n");
    tree.Write("/proc/12ab/cgroup", "0::/system.slice/ssh.service\n");
}

const std::vector<Expected> kMachineServices = {
    {"cron", "Second override", 55},
    {"getty@tty1", "Getty on tty1", 80},
    {"nofile", "nofile", 90},
    {"odd@a\\\\x0ab", "Odd a\\x0ab \\x1b[31m", 91},
    {"ssh", "OpenBSD Secure Shell server", 612},
    {"ssh", "OpenBSD Secure Shell server", 700},
    {"user@1000", "User Manager for UID 1000", 1500},
};

size_t TextBytes(const std::vector<Expected>& services) {
    size_t bytes = 0;
    for (const Expected& s : services) bytes += s.serviceName.size() + 1 + s.displayName.size() + 1;
    return bytes;
}

// Reads `count` entries from a filled buffer, checking that every text lies
// inside it after the array.
std::vector<Expected> ReadEntries(const std::vector<uint8_t>& buffer, DWORD count) {
    std::vector<Expected> services;
    const char* begin = reinterpret_cast<const char*>(buffer.data());
    const char* textsBegin = begin + count * sizeof(ENUM_SERVICE_STATUS_PROCESSA);
    const char* end = begin + buffer.size();
    for (DWORD index = 0; index < count; ++index) {
        ENUM_SERVICE_STATUS_PROCESSA entry;
        std::memcpy(&entry, buffer.data() + index * sizeof entry, sizeof entry);
        for (const char* text : {entry.lpServiceName, entry.lpDisplayName}) {
            EXPECT_GE(text, textsBegin);
            EXPECT_LT(text, end);
            if (text < textsBegin || text >= end) return services;
            EXPECT_NE(std::memchr(text, '\0', static_cast<size_t>(end - text)), nullptr);
        }
        EXPECT_EQ(entry.ServiceStatusProcess.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        EXPECT_EQ(entry.ServiceStatusProcess.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
        services.push_back({entry.lpServiceName, entry.lpDisplayName, entry.ServiceStatusProcess.dwProcessId});
    }
    return services;
}

void ExpectServices(const std::vector<Expected>& actual, const std::vector<Expected>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t index = 0; index < expected.size(); ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(actual[index].serviceName, expected[index].serviceName);
        EXPECT_EQ(actual[index].displayName, expected[index].displayName);
        EXPECT_EQ(actual[index].processId, expected[index].processId);
    }
}

class ServiceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteMachine(tree);
        tree.Use();
        manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
        ASSERT_NE(manager, nullptr);
    }
    void TearDown() override { EXPECT_TRUE(CloseHandle(manager)); }

    BOOL Enumerate(uint8_t* buffer, DWORD size, DWORD* needed, DWORD* returned, DWORD* resume) {
        return EnumServicesStatusExA(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, buffer, size,
                                     needed, returned, resume, nullptr);
    }

    testing::FixtureTree tree;
    SC_HANDLE manager = nullptr;
};

TEST_F(ServiceManagerTest, SizeCallThenExactFetch) {
    uint8_t scratch[1] = {};
    DWORD needed = 0, returned = 99, resume = 0;
    SetLastError(0);
    EXPECT_FALSE(Enumerate(scratch, 1, &needed, &returned, &resume));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(resume, 0u);
    const size_t whole = kMachineServices.size() * sizeof(ENUM_SERVICE_STATUS_PROCESSA) + TextBytes(kMachineServices);
    EXPECT_EQ(needed, whole);

    // Processes that come and go between the calls change nothing.
    tree.Process(5000, "0::/system.slice/late.service\n");
    std::filesystem::remove_all(tree.Root() + "/proc/612");

    std::vector<uint8_t> buffer(needed);
    DWORD moreNeeded = 77;
    EXPECT_EQ(Enumerate(buffer.data(), needed, &moreNeeded, &returned, &resume), TRUE);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(moreNeeded, 0u);
    EXPECT_EQ(resume, 0u);
    ASSERT_EQ(returned, kMachineServices.size());
    ExpectServices(ReadEntries(buffer, returned), kMachineServices);

    // The next enumeration scans afresh.
    needed = 0;
    EXPECT_FALSE(Enumerate(scratch, 1, &needed, &returned, &resume));
    std::vector<Expected> now = kMachineServices;
    now.erase(now.begin() + 4);
    now.push_back({"late", "late", 5000});
    std::sort(now.begin(), now.end(), [](const Expected& a, const Expected& b) { return a.serviceName < b.serviceName; });
    buffer.assign(needed, 0);
    EXPECT_EQ(Enumerate(buffer.data(), needed, &needed, &returned, &resume), TRUE);
    ExpectServices(ReadEntries(buffer, returned), now);
}

TEST_F(ServiceManagerTest, SmallBufferReturnsWhatFitsAndResumes) {
    // Room for the first two entries and a little more, not the third.
    const size_t firstTwo = 2 * sizeof(ENUM_SERVICE_STATUS_PROCESSA) +
                            TextBytes({kMachineServices.begin(), kMachineServices.begin() + 2});
    std::vector<uint8_t> buffer(firstTwo + sizeof(ENUM_SERVICE_STATUS_PROCESSA));
    DWORD needed = 0, returned = 0, resume = 0;
    EXPECT_FALSE(Enumerate(buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &returned, &resume));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    ASSERT_EQ(returned, 2u);
    EXPECT_NE(resume, 0u);
    ExpectServices(ReadEntries(buffer, returned), {kMachineServices.begin(), kMachineServices.begin() + 2});
    const std::vector<Expected> rest(kMachineServices.begin() + 2, kMachineServices.end());
    EXPECT_EQ(needed, rest.size() * sizeof(ENUM_SERVICE_STATUS_PROCESSA) + TextBytes(rest));

    // The rest arrives with the resume handle, into exactly the size asked for.
    std::vector<uint8_t> second(needed);
    EXPECT_EQ(Enumerate(second.data(), needed, &needed, &returned, &resume), TRUE);
    EXPECT_EQ(needed, 0u);
    EXPECT_EQ(resume, 0u);
    ExpectServices(ReadEntries(second, returned), rest);
}

TEST_F(ServiceManagerTest, RejectsBadCalls) {
    uint8_t scratch[1] = {};
    DWORD needed = 0, returned = 0, resume = 0;
    struct Case {
        const char* what;
        SC_HANDLE handle;
        int level;
        DWORD* needed;
        DWORD* returned;
        DWORD error;
    };
    int notAHandle = 0;
    const Case cases[] = {
        {"null handle", nullptr, SC_ENUM_PROCESS_INFO, &needed, &returned, ERROR_INVALID_HANDLE},
        {"unknown handle", &notAHandle, SC_ENUM_PROCESS_INFO, &needed, &returned, ERROR_INVALID_HANDLE},
        {"process pseudo-handle", GetCurrentProcess(), SC_ENUM_PROCESS_INFO, &needed, &returned,
         ERROR_INVALID_HANDLE},
        {"bad level", manager, 1, &needed, &returned, ERROR_INVALID_LEVEL},
        {"null bytes needed", manager, SC_ENUM_PROCESS_INFO, nullptr, &returned, ERROR_INVALID_PARAMETER},
        {"null services returned", manager, SC_ENUM_PROCESS_INFO, &needed, nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_FALSE(EnumServicesStatusExA(c.handle, static_cast<SC_ENUM_TYPE>(c.level), SERVICE_WIN32,
                                           SERVICE_ACTIVE, scratch, 1, c.needed, c.returned, &resume, nullptr));
        EXPECT_EQ(GetLastError(), c.error);
    }

    // A manager opened without enumerate rights.
    SC_HANDLE connectOnly = OpenSCManagerA(nullptr, nullptr, 0x0001);
    ASSERT_NE(connectOnly, nullptr);
    EXPECT_FALSE(EnumServicesStatusExA(connectOnly, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, scratch,
                                       1, &needed, &returned, &resume, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(connectOnly));

    // A closed manager is a bad handle.
    EXPECT_FALSE(EnumServicesStatusExA(connectOnly, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, scratch,
                                       1, &needed, &returned, &resume, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(connectOnly));
}

TEST_F(ServiceManagerTest, ListsNothingForOtherKindsOrGroups) {
    struct Case {
        const char* what;
        DWORD type;
        DWORD state;
        const char* group;
    };
    const Case cases[] = {
        {"drivers", 0x0B, SERVICE_ACTIVE, nullptr},
        {"stopped services", SERVICE_WIN32, SERVICE_INACTIVE, nullptr},
        {"a named group", SERVICE_WIN32, SERVICE_ACTIVE, "NetworkProvider"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t scratch[1] = {};
        DWORD needed = 5, returned = 5, resume = 0;
        EXPECT_EQ(EnumServicesStatusExA(manager, SC_ENUM_PROCESS_INFO, c.type, c.state, scratch, 1, &needed,
                                        &returned, &resume, c.group),
                  TRUE);
        EXPECT_EQ(returned, 0u);
        EXPECT_EQ(needed, 0u);
    }
}

TEST(ServiceManager, OpensOnlyTheLocalActiveDatabase) {
    EXPECT_EQ(OpenSCManagerA("otherhost", nullptr, SC_MANAGER_ENUMERATE_SERVICE), nullptr);
    EXPECT_EQ(OpenSCManagerA(nullptr, "NoSuchDatabase", SC_MANAGER_ENUMERATE_SERVICE), nullptr);
    SC_HANDLE manager = OpenSCManagerA("", "ServicesActive", SC_MANAGER_ENUMERATE_SERVICE);
    EXPECT_NE(manager, nullptr);
    EXPECT_TRUE(CloseHandle(manager));
}

TEST(ServiceManager, NoSystemdMeansNoServices) {
    testing::FixtureTree tree;
    // Processes in service groups, but no /run/systemd/system.
    tree.Process(612, "0::/system.slice/ssh.service\n");
    tree.Write("/lib/systemd/system/ssh.service", "[Unit]\nDescription=OpenBSD Secure Shell server\n");
    tree.MakeDirectory("/run/systemd");
    tree.Use();
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
    ASSERT_NE(manager, nullptr);
    uint8_t scratch[1] = {};
    DWORD needed = 5, returned = 5, resume = 0;
    EXPECT_EQ(EnumServicesStatusExA(manager, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_ACTIVE, scratch, 1,
                                    &needed, &returned, &resume, nullptr),
              TRUE);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(needed, 0u);
    EXPECT_TRUE(CloseHandle(manager));

    // The report then has no snapshot: the size call does not ask for more.
    WindowsSystemQueries queries;
    EXPECT_FALSE(queries.TakeServiceSnapshot().has_value());
}

TEST(ServiceManager, SnapshotThroughTheSystemQueries) {
    testing::FixtureTree tree;
    WriteMachine(tree);
    tree.Use();
    WindowsSystemQueries queries;
    const std::optional<ServiceSnapshot> snapshot = queries.TakeServiceSnapshot();
    ASSERT_TRUE(snapshot.has_value());
    std::vector<Expected> actual;
    for (const ServiceEntry& entry : snapshot->entries)
        actual.push_back({entry.serviceName, entry.displayName, entry.processId});
    ExpectServices(actual, kMachineServices);
}

}  // namespace
}  // namespace lystrel
