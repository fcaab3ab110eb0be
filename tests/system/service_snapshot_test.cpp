// TakeServiceSnapshot over the scripted Service Control Manager: the size
// call and fetch, the ways to give no snapshot, and the conversion of the
// filled buffer.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "system_fixture.h"

namespace lystrel {
namespace {

class ServiceSnapshotTest : public SystemTest {
protected:
    // The size call asks for `bytesNeeded` and leaves `resumeHandle` behind;
    // the fetch lists `services`.
    void ScriptServices(const std::vector<fake::FakeService>& services, DWORD bytesNeeded, DWORD resumeHandle = 0) {
        fake::EnumServicesAnswer& sizeCall = win32.enumServices.At(0);
        sizeCall.result = FALSE;
        sizeCall.lastError = ERROR_MORE_DATA;
        sizeCall.writesBytesNeeded = true;
        sizeCall.bytesNeeded = bytesNeeded;
        sizeCall.writesServicesReturned = true;
        sizeCall.servicesReturned = 0;
        sizeCall.writesResumeHandle = true;
        sizeCall.resumeHandle = resumeHandle;
        fake::EnumServicesAnswer& fetch = win32.enumServices.At(1);
        fetch.result = TRUE;
        fetch.lastError = 0;
        fetch.writesBytesNeeded = true;
        fetch.bytesNeeded = 0;
        fetch.writesServicesReturned = true;
        fetch.servicesReturned = static_cast<DWORD>(services.size());
        fetch.services = services;
    }
    void ScriptServices(const std::vector<fake::FakeService>& services) {
        ScriptServices(services, fake::ServiceBufferSize(services));
    }
};

const std::vector<fake::FakeService> kServices = {
    {"Dnscache", "DNS Client", 1184},
    {"LanmanServer", "Server", 4},
    {"Winmgmt", "Windows Management Instrumentation", 1184},
    {"", "", 0},
};

TEST_F(ServiceSnapshotTest, ConvertsEveryEntryInOrder) {
    ScriptServices(kServices);

    const std::optional<ServiceSnapshot> snapshot = queries.TakeServiceSnapshot();

    ASSERT_TRUE(snapshot.has_value());
    ASSERT_EQ(snapshot->entries.size(), kServices.size());
    for (size_t index = 0; index < kServices.size(); ++index) {
        SCOPED_TRACE(kServices[index].serviceName);
        EXPECT_EQ(snapshot->entries[index].serviceName, kServices[index].serviceName);
        EXPECT_EQ(snapshot->entries[index].displayName, kServices[index].displayName);
        EXPECT_EQ(snapshot->entries[index].processId, kServices[index].processId);
    }
}

TEST_F(ServiceSnapshotTest, CallsSizeThenFetchWithTheirArguments) {
    // Windows may ask for more than the entries fill; the fetch gets exactly that.
    const DWORD bytesNeeded = fake::ServiceBufferSize(kServices) + 64;
    ScriptServices(kServices, bytesNeeded, 7);

    ASSERT_TRUE(queries.TakeServiceSnapshot().has_value());

    ASSERT_EQ(win32.openManagerCalls.size(), 1u);
    EXPECT_TRUE(win32.openManagerCalls[0].machineNull);
    EXPECT_TRUE(win32.openManagerCalls[0].databaseNull);
    EXPECT_EQ(win32.openManagerCalls[0].access, 4u);

    ASSERT_EQ(win32.enumServicesCalls.size(), 2u) << "a size call and a fetch, no third call";
    for (size_t index = 0; index < 2; ++index) {
        SCOPED_TRACE(index == 0 ? "size call" : "fetch");
        const fake::EnumServicesCall& call = win32.enumServicesCalls[index];
        EXPECT_EQ(call.manager, win32.openManager.fallback.handle);
        EXPECT_EQ(call.level, 0);
        EXPECT_EQ(call.serviceType, 0x30u);
        EXPECT_EQ(call.serviceState, 1u);
        EXPECT_NE(call.buffer, nullptr);
        EXPECT_FALSE(call.bytesNeededNull);
        EXPECT_FALSE(call.servicesReturnedNull);
        EXPECT_FALSE(call.resumeHandleNull);
        EXPECT_EQ(call.groupName, nullptr) << "a null group name, not an empty text";
    }
    EXPECT_EQ(win32.enumServicesCalls[0].bufferSize, 1u);
    EXPECT_EQ(win32.enumServicesCalls[0].resumeHandleOnEntry, 0u);
    EXPECT_EQ(win32.enumServicesCalls[1].bufferSize, bytesNeeded);
    EXPECT_EQ(win32.enumServicesCalls[1].resumeHandleOnEntry, 7u) << "the resume handle is not set back";
}

TEST_F(ServiceSnapshotTest, GivesNoneWhenAnyStepFails) {
    struct NoneCase {
        const char* name;
        std::function<void(fake::Win32Fake&)> script;
        size_t enumCalls;
    };
    const NoneCase cases[] = {
        {"the manager cannot be opened",
         [](fake::Win32Fake& win32) { win32.Fail(fake::Function::OpenSCManagerA, 0, ERROR_ACCESS_DENIED); }, 0},
        {"the size call succeeds",
         [](fake::Win32Fake& win32) {
             win32.enumServices.At(0).result = TRUE;
             win32.enumServices.At(0).lastError = ERROR_MORE_DATA;
         },
         1},
        {"the size call fails with access denied",
         [](fake::Win32Fake& win32) { win32.enumServices.At(0).lastError = ERROR_ACCESS_DENIED; }, 1},
        {"the size call fails with insufficient buffer",
         [](fake::Win32Fake& win32) { win32.enumServices.At(0).lastError = ERROR_INSUFFICIENT_BUFFER; }, 1},
        {"the size call fails with invalid level",
         [](fake::Win32Fake& win32) { win32.Fail(fake::Function::EnumServicesStatusExA, 0, ERROR_INVALID_LEVEL); },
         1},
        {"the fetch returns FALSE with more data",
         [](fake::Win32Fake& win32) {
             win32.enumServices.At(1).result = FALSE;
             win32.enumServices.At(1).lastError = ERROR_MORE_DATA;
         },
         2},
        {"the fetch returns 2", [](fake::Win32Fake& win32) { win32.enumServices.At(1).result = 2; }, 2},
        {"the fetch returns -1", [](fake::Win32Fake& win32) { win32.enumServices.At(1).result = -1; }, 2},
    };
    for (const NoneCase& entry : cases) {
        SCOPED_TRACE(entry.name);
        fake::Reset();
        ScriptServices(kServices);
        entry.script(win32);

        EXPECT_FALSE(queries.TakeServiceSnapshot().has_value());
        EXPECT_EQ(win32.enumServicesCalls.size(), entry.enumCalls);
    }
}

// The size call's error is read from the thread's last error, not assumed.
TEST_F(ServiceSnapshotTest, SizeCallErrorIsReadFromTheLastError) {
    ScriptServices(kServices);

    ASSERT_TRUE(queries.TakeServiceSnapshot().has_value());
    EXPECT_GE(win32.CallCount(fake::Function::GetLastError), 1u);
}

TEST_F(ServiceSnapshotTest, ReadsOnlyTheEntriesThatFitWhateverTheCountClaims) {
    const std::vector<fake::FakeService> two = {{"A", "Alpha", 10}, {"B", "Beta", 11}};
    ScriptServices(two);
    win32.enumServices.At(1).servicesReturned = 1000;

    const std::optional<ServiceSnapshot> snapshot = queries.TakeServiceSnapshot();

    ASSERT_TRUE(snapshot.has_value());
    ASSERT_EQ(snapshot->entries.size(), 2u);
    EXPECT_EQ(snapshot->entries[1].displayName, "Beta");
    EXPECT_EQ(snapshot->entries[1].processId, 11u);
}

TEST_F(ServiceSnapshotTest, NoServicesReturnedGivesAnEmptySnapshot) {
    ScriptServices(kServices);
    win32.enumServices.At(1).servicesReturned = 0;

    const std::optional<ServiceSnapshot> snapshot = queries.TakeServiceSnapshot();

    ASSERT_TRUE(snapshot.has_value());
    EXPECT_TRUE(snapshot->entries.empty());
}

constexpr DWORD kEntries = 4;
constexpr DWORD kSize = kEntries * sizeof(ENUM_SERVICE_STATUS_PROCESSA) + 16;

// Names are read only where they lie, NUL-terminated, inside the buffer.
TEST_F(ServiceSnapshotTest, NameOutsideTheBufferReadsAsEmpty) {
    static char outside[] = "Outside";
    ScriptServices({}, kSize);
    fake::EnumServicesAnswer& fetch = win32.enumServices.At(1);
    fetch.servicesReturned = kEntries;
    fetch.fill = [](uint8_t* buffer, DWORD size) {
        ASSERT_EQ(size, kSize);
        std::memset(buffer, 0, size);
        char* texts = reinterpret_cast<char*>(buffer + kEntries * sizeof(ENUM_SERVICE_STATUS_PROCESSA));
        std::memcpy(texts, "Inside", 7);
        // The last bytes of the buffer: a text with no NUL before its end.
        std::memcpy(texts + 7, "Unfinishe", 9);
        ENUM_SERVICE_STATUS_PROCESSA entries[kEntries];
        std::memset(entries, 0, sizeof entries);
        entries[0] = {outside, texts, {}};
        entries[1] = {texts, reinterpret_cast<char*>(buffer + size), {}};
        entries[2] = {nullptr, texts + 7, {}};
        entries[3] = {reinterpret_cast<char*>(reinterpret_cast<uintptr_t>(buffer) - 1), texts, {}};
        for (DWORD index = 0; index < kEntries; ++index) entries[index].ServiceStatusProcess.dwProcessId = 100 + index;
        std::memcpy(buffer, entries, sizeof entries);
    };

    const std::optional<ServiceSnapshot> snapshot = queries.TakeServiceSnapshot();

    ASSERT_TRUE(snapshot.has_value());
    ASSERT_EQ(snapshot->entries.size(), kEntries);
    const std::pair<std::string, std::string> expected[kEntries] = {
        {"", "Inside"}, {"Inside", ""}, {"", ""}, {"", "Inside"}};
    for (DWORD index = 0; index < kEntries; ++index) {
        SCOPED_TRACE("entry " + std::to_string(index));
        EXPECT_EQ(snapshot->entries[index].serviceName, expected[index].first);
        EXPECT_EQ(snapshot->entries[index].displayName, expected[index].second);
        EXPECT_EQ(snapshot->entries[index].processId, 100 + index);
    }
}

}  // namespace
}  // namespace lystrel
