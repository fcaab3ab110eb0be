// A SystemQueries whose answers a test sets up beforehand. It records every
// call it receives, in order, as a short string such as "ReadEndpointTable 2"
// or "QueryProcessImagePath 4", so a test can check the sequence of questions
// as well as the printed report.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "report.h"

namespace lystrel::testing {

/// One endpoint a scripted section lists, with the answers given about it.
struct ScriptedEndpoint {
    uint16_t port = 0;
    uint32_t pid = 0;
    uint64_t creationTime = 0;
    std::string addressText;
    LocalCalendarTime opened;
};

class ScriptedQueries : public SystemQueries {
public:
    /// Adds an endpoint to the table of section 1 to 4; its family and
    /// protocol are those of the section.
    void AddEndpoint(int section, const ScriptedEndpoint& endpoint);
    /// Adds an endpoint whose address cannot be rendered as text.
    void AddUnconvertibleEndpoint(int section, uint16_t port, uint32_t pid, uint64_t creationTime,
                                  int32_t errorCode);
    /// Makes the size probe of the section fail.
    void FailSizeProbe(int section);
    /// Makes the table fetch of the section fail with the code.
    void FailFetch(int section, int32_t code);

    void EnableDebugPrivilege() override;
    int32_t StartSocketLayer() override;
    std::optional<ServiceSnapshot> TakeServiceSnapshot() override;
    EndpointTable ReadEndpointTable(const PortSection& section) override;
    AddressText FormatEndpointAddress(const ListeningEndpoint& endpoint) override;
    std::optional<std::string> QueryProcessImagePath(uint32_t pid) override;
    LocalCalendarTime ToLocalCalendarTime(uint64_t creationTime) override;

    /// What StartSocketLayer returns.
    int32_t socketStatus = 0;
    /// What TakeServiceSnapshot returns.
    std::optional<ServiceSnapshot> snapshot;
    /// The image path of each process; a process not listed has none.
    std::map<uint32_t, std::string> imagePaths;

    /// The calls received, in order.
    std::vector<std::string> calls;
    /// The sections ReadEndpointTable was asked for, in order.
    std::vector<PortSection> sectionsRead;

private:
    ListeningEndpoint MakeEndpoint(int section, uint16_t port, uint32_t pid, uint64_t creationTime);
    void AddAnswer(const ListeningEndpoint& endpoint, AddressText address);

    EndpointTable tables_[4];
    std::vector<std::pair<ListeningEndpoint, AddressText>> addresses_;
    std::map<uint64_t, LocalCalendarTime> times_;
};

}  // namespace lystrel::testing
