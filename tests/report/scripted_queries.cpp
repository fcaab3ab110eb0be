#include "scripted_queries.h"

#include <gtest/gtest.h>

#include <cstring>

namespace lystrel::testing {
namespace {

bool SameEndpoint(const ListeningEndpoint& a, const ListeningEndpoint& b) {
    return a.family == b.family && a.protocol == b.protocol &&
           std::memcmp(a.localAddress, b.localAddress, sizeof a.localAddress) == 0 &&
           a.scopeId == b.scopeId && a.localPort == b.localPort && a.owningPid == b.owningPid &&
           a.creationTime == b.creationTime;
}

// The number (1 to 4) of the report section with the section's family and
// protocol, or 0 when none has them.
int SectionNumber(const PortSection& section) {
    for (int index = 0; index < 4; ++index) {
        if (kPortSections[index].family == section.family &&
            kPortSections[index].protocol == section.protocol)
            return index + 1;
    }
    return 0;
}

}  // namespace

ListeningEndpoint ScriptedQueries::MakeEndpoint(int section, uint16_t port, uint32_t pid,
                                                uint64_t creationTime) {
    ListeningEndpoint endpoint;
    endpoint.family = kPortSections[section - 1].family;
    endpoint.protocol = kPortSections[section - 1].protocol;
    endpoint.localPort = port;
    endpoint.owningPid = pid;
    endpoint.creationTime = creationTime;
    return endpoint;
}

void ScriptedQueries::AddAnswer(const ListeningEndpoint& endpoint, AddressText address) {
    for (const auto& known : addresses_) {
        if (SameEndpoint(known.first, endpoint)) ADD_FAILURE() << "endpoint scripted twice";
    }
    addresses_.emplace_back(endpoint, std::move(address));
}

void ScriptedQueries::AddEndpoint(int section, const ScriptedEndpoint& scripted) {
    ListeningEndpoint endpoint =
        MakeEndpoint(section, scripted.port, scripted.pid, scripted.creationTime);
    tables_[section - 1].endpoints.push_back(endpoint);
    AddressText address;
    address.ok = true;
    address.text = scripted.addressText;
    AddAnswer(endpoint, address);
    if (times_.count(scripted.creationTime) != 0)
        ADD_FAILURE() << "creation time " << scripted.creationTime << " scripted twice";
    times_[scripted.creationTime] = scripted.opened;
}

void ScriptedQueries::AddUnconvertibleEndpoint(int section, uint16_t port, uint32_t pid,
                                               uint64_t creationTime, int32_t errorCode) {
    ListeningEndpoint endpoint = MakeEndpoint(section, port, pid, creationTime);
    tables_[section - 1].endpoints.push_back(endpoint);
    AddressText address;
    address.errorCode = errorCode;
    AddAnswer(endpoint, address);
}

void ScriptedQueries::FailSizeProbe(int section) {
    tables_[section - 1].status = EndpointTable::Status::SizeProbeFailed;
}

void ScriptedQueries::FailFetch(int section, int32_t code) {
    tables_[section - 1].status = EndpointTable::Status::FetchFailed;
    tables_[section - 1].fetchCode = code;
}

void ScriptedQueries::EnableDebugPrivilege() { calls.push_back("EnableDebugPrivilege"); }

int32_t ScriptedQueries::StartSocketLayer() {
    calls.push_back("StartSocketLayer");
    return socketStatus;
}

std::optional<ServiceSnapshot> ScriptedQueries::TakeServiceSnapshot() {
    calls.push_back("TakeServiceSnapshot");
    return snapshot;
}

EndpointTable ScriptedQueries::ReadEndpointTable(const PortSection& section) {
    int number = SectionNumber(section);
    calls.push_back("ReadEndpointTable " + std::to_string(number));
    sectionsRead.push_back(section);
    if (number == 0) {
        ADD_FAILURE() << "ReadEndpointTable asked for an unknown section";
        return EndpointTable{};
    }
    return tables_[number - 1];
}

AddressText ScriptedQueries::FormatEndpointAddress(const ListeningEndpoint& endpoint) {
    calls.push_back("FormatEndpointAddress " + std::to_string(endpoint.localPort));
    for (const auto& known : addresses_) {
        if (SameEndpoint(known.first, endpoint)) return known.second;
    }
    ADD_FAILURE() << "FormatEndpointAddress asked about an endpoint no table listed, port "
                  << endpoint.localPort;
    return AddressText{};
}

std::optional<std::string> ScriptedQueries::QueryProcessImagePath(uint32_t pid) {
    calls.push_back("QueryProcessImagePath " + std::to_string(pid));
    auto found = imagePaths.find(pid);
    if (found == imagePaths.end()) return std::nullopt;
    return found->second;
}

LocalCalendarTime ScriptedQueries::ToLocalCalendarTime(uint64_t creationTime) {
    calls.push_back("ToLocalCalendarTime " + std::to_string(creationTime));
    auto found = times_.find(creationTime);
    if (found == times_.end()) {
        ADD_FAILURE() << "ToLocalCalendarTime asked about an unscripted time " << creationTime;
        return LocalCalendarTime{};
    }
    return found->second;
}

}  // namespace lystrel::testing
