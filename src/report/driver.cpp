// The run from banner to exit status.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "report.h"

namespace lystrel {
namespace {

const char kBanner[] =
    "Lystrel 2.0 - who listens on which port of this machine\n"
    "            - https://lystrel.dev/\n"
    "\n";

void WriteText(ReportSink& sink, const char* text) { sink.Write(text, std::strlen(text)); }

// Prints a fatal line whose format carries one %d, flushes everything and
// gives the exit status of a fatal error.
int Fatal(ReportSink& sink, const char* format, int32_t code) {
    char line[160];
    const int length = std::snprintf(line, sizeof line, format, static_cast<int>(code));
    if (length > 0) sink.Write(line, std::min(static_cast<size_t>(length), sizeof line - 1));
    sink.Flush();
    return 1;
}

}  // namespace

bool ReportSection(SystemQueries& queries, ReportSink& sink, const PortSection& section,
                   const ServiceSnapshot* snapshot) {
    WriteText(sink, section.header);
    // The table lives in this scope, so it is released when the section ends,
    // on the fatal paths as on the normal one.
    EndpointTable table = queries.ReadEndpointTable(section);
    switch (table.status) {
    case EndpointTable::Status::SizeProbeFailed:
        WriteText(sink, section.sizeProbeMessage);
        sink.Flush();
        return false;
    case EndpointTable::Status::FetchFailed:
        Fatal(sink, section.fetchMessage, table.fetchCode);
        return false;
    case EndpointTable::Status::Ok:
        break;
    }
    for (const ListeningEndpoint& endpoint : table.endpoints) {
        AddressText address = queries.FormatEndpointAddress(endpoint);
        if (!address.ok) {
            Fatal(sink, section.conversionMessage, address.errorCode);
            return false;
        }
        std::optional<std::string> imagePath = queries.QueryProcessImagePath(endpoint.owningPid);
        LocalCalendarTime opened = queries.ToLocalCalendarTime(endpoint.creationTime);
        WriteEndpointBlock(sink, endpoint, address.text, imagePath ? &*imagePath : nullptr, snapshot,
                           opened);
    }
    return true;
}

int RunReport(SystemQueries& queries, ReportSink& sink) {
    WriteText(sink, kBanner);
    queries.EnableDebugPrivilege();
    int32_t socketStatus = queries.StartSocketLayer();
    if (socketStatus != 0) return Fatal(sink, "Error: WSAStartup failed (%d)\n", socketStatus);
    // One snapshot serves every section; services that start later are not seen.
    std::optional<ServiceSnapshot> snapshot = queries.TakeServiceSnapshot();
    for (const PortSection& section : kPortSections) {
        if (!ReportSection(queries, sink, section, snapshot ? &*snapshot : nullptr)) return 1;
    }
    sink.Flush();
    return 0;
}

}  // namespace lystrel
