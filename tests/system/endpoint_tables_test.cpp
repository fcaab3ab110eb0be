// ReadEndpointTable over the scripted table functions: the probe and fetch
// protocol, its failures, and the conversion of the four row kinds.
#include <cstring>
#include <string>
#include <vector>

#include "system_fixture.h"

namespace lystrel {
namespace {

// One row as a test describes it; each row kind takes what it has of it.
struct RowFields {
    uint8_t address[16];
    uint32_t scopeId;
    uint8_t portBytes[4];
    uint32_t pid;
    uint64_t creationTime;
};

// Unused row fields hold this byte so that reading them would show.
constexpr int kGarbage = 0xA5;

template <typename Row>
void AppendRow(std::vector<uint8_t>& bytes, const Row& row) {
    const uint8_t* begin = reinterpret_cast<const uint8_t*>(&row);
    bytes.insert(bytes.end(), begin, begin + sizeof row);
}

template <typename Row>
void AppendRow4(std::vector<uint8_t>& bytes, const RowFields& fields) {
    Row row;
    std::memset(&row, kGarbage, sizeof row);
    std::memcpy(&row.dwLocalAddr, fields.address, 4);
    std::memcpy(&row.dwLocalPort, fields.portBytes, 4);
    row.dwOwningPid = fields.pid;
    row.liCreateTimestamp.QuadPart = static_cast<LONGLONG>(fields.creationTime);
    AppendRow(bytes, row);
}

template <typename Row>
void AppendRow6(std::vector<uint8_t>& bytes, const RowFields& fields) {
    Row row;
    std::memset(&row, kGarbage, sizeof row);
    std::memcpy(row.ucLocalAddr, fields.address, 16);
    row.dwLocalScopeId = fields.scopeId;
    std::memcpy(&row.dwLocalPort, fields.portBytes, 4);
    row.dwOwningPid = fields.pid;
    row.liCreateTimestamp.QuadPart = static_cast<LONGLONG>(fields.creationTime);
    AppendRow(bytes, row);
}

size_t RowSize(const PortSection& section) {
    const bool ipv4 = section.family == AddressFamily::IPv4;
    if (section.protocol == TransportProtocol::TCP)
        return ipv4 ? sizeof(MIB_TCPROW_OWNER_MODULE) : sizeof(MIB_TCP6ROW_OWNER_MODULE);
    return ipv4 ? sizeof(MIB_UDPROW_OWNER_MODULE) : sizeof(MIB_UDP6ROW_OWNER_MODULE);
}

// A table of the section's kind: the count, four padding bytes, the rows.
std::vector<uint8_t> BuildTable(const PortSection& section, const std::vector<RowFields>& rows, uint32_t count) {
    std::vector<uint8_t> bytes(8, 0xCC);
    std::memcpy(bytes.data(), &count, 4);
    const bool ipv4 = section.family == AddressFamily::IPv4;
    for (const RowFields& fields : rows) {
        if (section.protocol == TransportProtocol::TCP) {
            if (ipv4)
                AppendRow4<MIB_TCPROW_OWNER_MODULE>(bytes, fields);
            else
                AppendRow6<MIB_TCP6ROW_OWNER_MODULE>(bytes, fields);
        } else {
            if (ipv4)
                AppendRow4<MIB_UDPROW_OWNER_MODULE>(bytes, fields);
            else
                AppendRow6<MIB_UDP6ROW_OWNER_MODULE>(bytes, fields);
        }
    }
    return bytes;
}

const RowFields kRows[] = {
    {{127, 0, 0, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 1}, 12, {0x01, 0xBD, 0x7F, 0x3C}, 4, 0x01D4BB8F12345678ULL},
    {{0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2}, 0x0C000000, {0x00, 0x35, 0x00, 0x00}, 0xFFFFFFFE,
     0x8000000000000001ULL},
    {{}, 0, {0xFF, 0xFF, 0x12, 0x34}, 0, 0},
};

// What each section must pass to the platform.
struct SectionCall {
    fake::Function function;
    ULONG family;
    uint32_t tableClass;
};
const SectionCall kSectionCalls[4] = {
    {fake::Function::GetExtendedTcpTable, 2, 6},
    {fake::Function::GetExtendedUdpTable, 2, 2},
    {fake::Function::GetExtendedTcpTable, 23, 6},
    {fake::Function::GetExtendedUdpTable, 23, 2},
};

class EndpointTableTest : public SystemTest, public ::testing::WithParamInterface<int> {
protected:
    const PortSection& Section() const { return kPortSections[GetParam()]; }
    bool Tcp() const { return Section().protocol == TransportProtocol::TCP; }
    fake::Script<fake::TableAnswer>& Script() { return Tcp() ? win32.tcpTable : win32.udpTable; }
    const std::vector<fake::TableCall>& Calls() const { return Tcp() ? win32.tcpTableCalls : win32.udpTableCalls; }
    const std::vector<fake::TableCall>& OtherCalls() const {
        return Tcp() ? win32.udpTableCalls : win32.tcpTableCalls;
    }

    // The probe asks for `probedSize`; the fetch writes `table` and sets the
    // size variable to `usedSize`.
    void ScriptTable(const std::vector<uint8_t>& table, DWORD probedSize, DWORD usedSize) {
        fake::TableAnswer& probe = Script().At(0);
        probe.status = ERROR_INSUFFICIENT_BUFFER;
        probe.writesSize = true;
        probe.size = probedSize;
        fake::TableAnswer& fetch = Script().At(1);
        fetch.status = NO_ERROR;
        fetch.writesSize = true;
        fetch.size = usedSize;
        fetch.table = table;
    }
    void ScriptTable(const std::vector<uint8_t>& table) {
        ScriptTable(table, static_cast<DWORD>(table.size()), static_cast<DWORD>(table.size()));
    }
};

TEST_P(EndpointTableTest, ProbesWithOneByteThenFetchesExactlyTheProbedSize) {
    const SectionCall& expected = kSectionCalls[GetParam()];
    const std::vector<uint8_t> table = BuildTable(Section(), {kRows[0]}, 1);
    // Windows may ask for more than the rows fill.
    const DWORD probedSize = static_cast<DWORD>(table.size() + 40);
    ScriptTable(table, probedSize, static_cast<DWORD>(table.size()));

    const EndpointTable result = queries.ReadEndpointTable(Section());

    EXPECT_EQ(result.status, EndpointTable::Status::Ok);
    EXPECT_EQ(result.endpoints.size(), 1u);
    ASSERT_EQ(Calls().size(), 2u) << "a probe and a fetch, no third call";
    EXPECT_TRUE(OtherCalls().empty());
    for (size_t index = 0; index < 2; ++index) {
        SCOPED_TRACE(index == 0 ? "probe" : "fetch");
        const fake::TableCall& call = Calls()[index];
        EXPECT_EQ(call.function, expected.function);
        EXPECT_NE(call.buffer, nullptr);
        EXPECT_FALSE(call.sizeNull);
        EXPECT_EQ(call.bOrder, TRUE);
        EXPECT_EQ(call.family, expected.family);
        EXPECT_EQ(call.tableClass, expected.tableClass);
        EXPECT_EQ(call.reserved, 0u);
    }
    EXPECT_EQ(Calls()[0].sizeOnEntry, 1u);
    EXPECT_EQ(Calls()[1].sizeOnEntry, probedSize);
}

TEST_P(EndpointTableTest, ConvertsEveryRowInTableOrder) {
    const std::vector<RowFields> rows(std::begin(kRows), std::end(kRows));
    ScriptTable(BuildTable(Section(), rows, static_cast<uint32_t>(rows.size())));

    const EndpointTable result = queries.ReadEndpointTable(Section());

    ASSERT_EQ(result.status, EndpointTable::Status::Ok);
    ASSERT_EQ(result.endpoints.size(), rows.size());
    const bool ipv4 = Section().family == AddressFamily::IPv4;
    const uint16_t ports[] = {445, 53, 65535};
    for (size_t index = 0; index < rows.size(); ++index) {
        SCOPED_TRACE("row " + std::to_string(index));
        const ListeningEndpoint& endpoint = result.endpoints[index];
        EXPECT_EQ(endpoint.family, Section().family);
        EXPECT_EQ(endpoint.protocol, Section().protocol);
        EXPECT_EQ(endpoint.localPort, ports[index]);
        EXPECT_EQ(endpoint.owningPid, rows[index].pid);
        EXPECT_EQ(endpoint.creationTime, rows[index].creationTime);
        uint8_t expectedAddress[16] = {};
        std::memcpy(expectedAddress, rows[index].address, ipv4 ? 4 : 16);
        EXPECT_EQ(0, std::memcmp(endpoint.localAddress, expectedAddress, 16));
        EXPECT_EQ(endpoint.scopeId, ipv4 ? 0u : rows[index].scopeId);
    }
}

TEST_P(EndpointTableTest, PortIsTheFirstTwoBytesInNetworkOrder) {
    struct PortCase {
        uint8_t bytes[4];
        uint16_t port;
    };
    const PortCase cases[] = {
        {{0x01, 0xBD, 0x00, 0x00}, 445}, {{0x01, 0xBD, 0xFF, 0xFF}, 445}, {{0x01, 0xBD, 0x12, 0x34}, 445},
        {{0x00, 0x00, 0xAB, 0xCD}, 0},   {{0x00, 0x50, 0x00, 0x00}, 80},  {{0xFF, 0xFF, 0x00, 0x00}, 65535},
        {{0xBD, 0x01, 0x00, 0x00}, 48385},
    };
    std::vector<RowFields> rows;
    for (const PortCase& entry : cases) {
        RowFields row = kRows[0];
        std::memcpy(row.portBytes, entry.bytes, 4);
        rows.push_back(row);
    }
    ScriptTable(BuildTable(Section(), rows, static_cast<uint32_t>(rows.size())));

    const EndpointTable result = queries.ReadEndpointTable(Section());

    ASSERT_EQ(result.endpoints.size(), rows.size());
    for (size_t index = 0; index < rows.size(); ++index) {
        SCOPED_TRACE("case " + std::to_string(index));
        EXPECT_EQ(result.endpoints[index].localPort, cases[index].port);
    }
}

TEST_P(EndpointTableTest, ZeroRowsGiveNoEndpointsAndNoError) {
    ScriptTable(BuildTable(Section(), {}, 0));

    const EndpointTable result = queries.ReadEndpointTable(Section());

    EXPECT_EQ(result.status, EndpointTable::Status::Ok);
    EXPECT_TRUE(result.endpoints.empty());
    EXPECT_EQ(Calls().size(), 2u);
}

TEST_P(EndpointTableTest, ProbeNotAnsweredWithInsufficientBufferFailsWithoutFetch) {
    const DWORD codes[] = {NO_ERROR, ERROR_INVALID_PARAMETER, ERROR_MORE_DATA, ERROR_NOT_ENOUGH_MEMORY,
                           ERROR_ACCESS_DENIED, 0xC0000001u, 0xFFFFFFFFu};
    for (DWORD code : codes) {
        SCOPED_TRACE("probe returns " + std::to_string(code));
        fake::Reset();
        fake::TableAnswer& probe = Script().At(0);
        probe.status = code;
        probe.writesSize = true;
        probe.size = 8 + 160;
        Script().At(1).status = NO_ERROR;

        const EndpointTable result = queries.ReadEndpointTable(Section());

        EXPECT_EQ(result.status, EndpointTable::Status::SizeProbeFailed);
        EXPECT_TRUE(result.endpoints.empty());
        EXPECT_EQ(Calls().size(), 1u) << "no fetch after a failed probe";
    }
}

TEST_P(EndpointTableTest, FetchFailurePassesItsCodeUpUnchanged) {
    struct FetchCase {
        DWORD status;
        int32_t code;
    };
    const FetchCase cases[] = {
        {ERROR_INSUFFICIENT_BUFFER, 122},
        {ERROR_INVALID_PARAMETER, 87},
        {0xC0000001u, -1073741823},
        {0xFFFFFFFFu, -1},
    };
    for (const FetchCase& entry : cases) {
        SCOPED_TRACE("fetch returns " + std::to_string(entry.status));
        fake::Reset();
        const std::vector<uint8_t> table = BuildTable(Section(), {kRows[0]}, 1);
        ScriptTable(table);
        Script().At(1).status = entry.status;

        const EndpointTable result = queries.ReadEndpointTable(Section());

        EXPECT_EQ(result.status, EndpointTable::Status::FetchFailed);
        EXPECT_EQ(result.fetchCode, entry.code);
        EXPECT_TRUE(result.endpoints.empty());
        EXPECT_EQ(Calls().size(), 2u) << "the fetch is not repeated";
    }
}

TEST_P(EndpointTableTest, InjectedFetchFailureIsReported) {
    ScriptTable(BuildTable(Section(), {kRows[0]}, 1));
    win32.Fail(kSectionCalls[GetParam()].function, 1, ERROR_INVALID_PARAMETER);

    const EndpointTable result = queries.ReadEndpointTable(Section());

    EXPECT_EQ(result.status, EndpointTable::Status::FetchFailed);
    EXPECT_EQ(result.fetchCode, 87);
}

// The table's count is not trusted: only rows inside the buffer are read.
TEST_P(EndpointTableTest, ReadsOnlyTheRowsThatFitWhateverTheCountClaims) {
    const DWORD rowSize = static_cast<DWORD>(RowSize(Section()));
    struct FitCase {
        const char* name;
        uint32_t count;
        size_t rowsPresent;
        DWORD probedSize;
        DWORD usedSize;
        size_t expected;
    };
    const FitCase cases[] = {
        {"count 5, two rows", 5, 2, 8 + 2 * rowSize, 8 + 2 * rowSize, 2},
        {"count 5, two rows and part of a third", 5, 2, 8 + 2 * rowSize + 100, 8 + 2 * rowSize + 100, 2},
        {"count 3, size variable beyond the buffer", 3, 2, 8 + 2 * rowSize, 0xFFFFFFFFu, 2},
        {"count 0xFFFFFFFF, one row", 0xFFFFFFFFu, 1, 8 + rowSize, 8 + rowSize, 1},
        {"count 3, buffer shorter than the header", 3, 0, 4, 4, 0},
        {"count 2, used size covers one row", 2, 2, 8 + 2 * rowSize, 8 + rowSize, 1},
    };
    for (const FitCase& entry : cases) {
        SCOPED_TRACE(entry.name);
        fake::Reset();
        std::vector<RowFields> rows;
        for (size_t index = 0; index < entry.rowsPresent; ++index) rows.push_back(kRows[index % 3]);
        std::vector<uint8_t> table = BuildTable(Section(), rows, entry.count);
        table.resize(entry.probedSize, 0xEE);
        ScriptTable(table, entry.probedSize, entry.usedSize);

        const EndpointTable result = queries.ReadEndpointTable(Section());

        EXPECT_EQ(result.status, EndpointTable::Status::Ok);
        ASSERT_EQ(result.endpoints.size(), entry.expected);
        for (size_t index = 0; index < entry.expected; ++index)
            EXPECT_EQ(result.endpoints[index].owningPid, rows[index].pid);
    }
}

std::string SectionName(const ::testing::TestParamInfo<int>& info) {
    const PortSection& section = kPortSections[info.param];
    return std::string(section.family == AddressFamily::IPv4 ? "IPv4" : "IPv6") +
           (section.protocol == TransportProtocol::TCP ? "Tcp" : "Udp");
}

INSTANTIATE_TEST_SUITE_P(AllSections, EndpointTableTest, ::testing::Range(0, 4), SectionName);

}  // namespace
}  // namespace lystrel
