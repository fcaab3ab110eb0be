// Inspects the two cross-built lystrel.exe files: PE headers, imported DLLs,
// the embedded manifest and the version information.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "child_process.h"
#include "pe_facts.h"
#include "tool_lookup.h"
#include "version_resource.h"

namespace lystrel_test {
namespace {

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kRtManifest = 24;

struct WindowsExe {
    const char* name;  // also the test name suffix
    const char* path;
    const char* objdump;
    std::uint32_t magic;  // 0x10b PE32, 0x20b PE32+
};

// Test names and failure messages show the build by its name.
void PrintTo(const WindowsExe& exe, std::ostream* out) { *out << exe.name; }

const WindowsExe kExes[] = {
    {"i686", LYSTREL_WIN32_EXE, "i686-w64-mingw32-objdump", 0x10b},
    {"x86_64", LYSTREL_WIN64_EXE, "x86_64-w64-mingw32-objdump", 0x20b},
};

std::string RunObjdump(const std::string& objdump, const char* option, const char* exe) {
    ChildResult run = RunChild({objdump, option, exe}, {}, ".", std::chrono::seconds(60));
    EXPECT_TRUE(run.exited && run.exitStatus == 0)
        << objdump << " " << option << " " << exe << ": " << DescribeEnd(run) << "\n"
        << run.standardError;
    return run.standardOutput;
}

const ResourceLeaf* FindResource(const PeFacts& facts, std::uint32_t type, std::uint32_t id) {
    for (const ResourceLeaf& leaf : facts.resources) {
        if (leaf.type == type && leaf.id == id) {
            return &leaf;
        }
    }
    return nullptr;
}

// Each test reads one exe's bytes and its objdump listing first.
class WindowsExeTest : public ::testing::TestWithParam<WindowsExe> {
protected:
    void SetUp() override {
        const WindowsExe& exe = GetParam();
        std::optional<std::string> objdump = FindProgram(exe.objdump);
        if (!objdump) {
            GTEST_SKIP() << exe.objdump
                         << " is not installed (scripts/install-deps.sh installs it)";
        }
        std::ifstream file(exe.path, std::ios::binary);
        ASSERT_TRUE(file.good())
            << exe.path << " is missing: build it with scripts/build-windows.sh (make windows)";
        content.assign(std::istreambuf_iterator<char>(file), {});
        facts = ParsePeFacts(RunObjdump(*objdump, "-p", exe.path),
                             RunObjdump(*objdump, "-h", exe.path));
    }

    PeFacts facts;
    std::string content;  // the exe's bytes
};

TEST_P(WindowsExeTest, IsConsoleProgramForWindows6) {
    ASSERT_TRUE(facts.magic.has_value()) << "no Magic line in objdump -p";
    EXPECT_EQ(*facts.magic, GetParam().magic);
    ASSERT_TRUE(facts.subsystem.has_value());
    EXPECT_EQ(*facts.subsystem, 3u) << "expected the Windows CUI subsystem";
    EXPECT_EQ(facts.majorSubsystemVersion, std::optional<std::uint32_t>(6));
    EXPECT_EQ(facts.minorSubsystemVersion, std::optional<std::uint32_t>(0));
    EXPECT_EQ(facts.majorOsVersion, std::optional<std::uint32_t>(6));
    EXPECT_EQ(facts.minorOsVersion, std::optional<std::uint32_t>(0));
}

TEST_P(WindowsExeTest, ImportsOnlySystemDlls) {
    const std::set<std::string> allowed = {"advapi32.dll", "iphlpapi.dll", "kernel32.dll",
                                           "msvcrt.dll", "ws2_32.dll"};
    std::ostringstream found;
    for (const std::string& dll : facts.importedDlls) {
        found << dll << " ";
    }
    EXPECT_EQ(facts.importedDlls, allowed) << "imported: " << found.str();
}

TEST_P(WindowsExeTest, ManifestAsksForNoElevation) {
    const ResourceLeaf* leaf = FindResource(facts, kRtManifest, 1);
    ASSERT_NE(leaf, nullptr) << "no RT_MANIFEST resource with id 1";
    std::optional<std::string> manifest = ResourceBytes(facts, *leaf, content);
    ASSERT_TRUE(manifest.has_value()) << "the manifest lies outside .rsrc";
    const std::regex element(R"(<requestedExecutionLevel\s([^>]*)/>)");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(*manifest, match, element)) << *manifest;
    const std::string attributes = match[1];
    EXPECT_TRUE(std::regex_search(attributes, std::regex(R"((^|\s)level="asInvoker")")))
        << attributes;
    EXPECT_TRUE(std::regex_search(attributes, std::regex(R"((^|\s)uiAccess="false")")))
        << attributes;
    const std::string rest = match.suffix();
    EXPECT_FALSE(std::regex_search(rest, element)) << "a second requestedExecutionLevel";
}

TEST_P(WindowsExeTest, VersionResourceNamesProduct) {
    const ResourceLeaf* leaf = FindResource(facts, kRtVersion, 1);
    ASSERT_NE(leaf, nullptr) << "no RT_VERSION resource with id 1";
    std::optional<std::string> resource = ResourceBytes(facts, *leaf, content);
    ASSERT_TRUE(resource.has_value()) << "the version information lies outside .rsrc";

    std::optional<FixedVersion> fixed = ReadFixedVersion(*resource);
    ASSERT_TRUE(fixed.has_value()) << "no VS_FIXEDFILEINFO";
    EXPECT_EQ(fixed->file[0], 2);
    EXPECT_EQ(fixed->file[1], 0);
    EXPECT_EQ(fixed->product[0], 2);
    EXPECT_EQ(fixed->product[1], 0);

    EXPECT_EQ(ReadVersionString(*resource, "ProductName"), std::optional<std::string>("Lystrel"));
    std::optional<std::string> productVersion = ReadVersionString(*resource, "ProductVersion");
    ASSERT_TRUE(productVersion.has_value());
    EXPECT_EQ(productVersion->rfind("2.0", 0), 0u) << *productVersion;
    std::optional<std::string> description = ReadVersionString(*resource, "FileDescription");
    ASSERT_TRUE(description.has_value());
    EXPECT_NE(description->find("Lystrel"), std::string::npos) << *description;
}

INSTANTIATE_TEST_SUITE_P(Builds, WindowsExeTest, ::testing::ValuesIn(kExes),
                         [](const ::testing::TestParamInfo<WindowsExe>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
}  // namespace lystrel_test
