// The port report: the records that describe endpoints and services, the
// operations the report needs from the operating system, and the driver that
// prints the whole report. Nothing in this folder knows about any platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lystrel {

enum class AddressFamily { IPv4, IPv6 };
enum class TransportProtocol { TCP, UDP };

/// One local endpoint as the platform lists it.
struct ListeningEndpoint {
    AddressFamily family = AddressFamily::IPv4;
    TransportProtocol protocol = TransportProtocol::TCP;
    /// Network byte order, as stored by the platform; IPv4 uses the first 4 bytes.
    uint8_t localAddress[16] = {};
    /// The IPv6 scope identifier; always 0 for IPv4.
    uint32_t scopeId = 0;
    /// Host byte order.
    uint16_t localPort = 0;
    uint32_t owningPid = 0;
    /// 100-nanosecond intervals since 1601-01-01 00:00 UTC.
    uint64_t creationTime = 0;
};

/// One active service and the process that hosts it.
struct ServiceEntry {
    std::string serviceName;
    std::string displayName;
    uint32_t processId = 0;
};

/// The active services in the order the platform returned them.
struct ServiceSnapshot {
    std::vector<ServiceEntry> entries;
};

/// An endpoint's creation time in local time. All fields are 0 when the
/// platform could not convert the time.
struct LocalCalendarTime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
};

/// One of the four sections of the report, with the platform parameters used
/// to read its table and the messages printed when that fails.
struct PortSection {
    AddressFamily family;
    TransportProtocol protocol;
    /// The platform's address family number: 2 for IPv4, 23 for IPv6.
    uint32_t platformAddressFamily;
    /// The platform's table class: 6 (TCP listeners) or 2 (UDP endpoints).
    uint32_t tableClass;
    const char* header;
    const char* sizeProbeMessage;
    /// printf format with one %d: the fetch's status code.
    const char* fetchMessage;
    /// printf format with one %d: the socket layer's last-error code.
    const char* conversionMessage;
};

/// The four sections in report order.
extern const PortSection kPortSections[4];

/// The outcome of reading one section's endpoint table.
struct EndpointTable {
    enum class Status { Ok, SizeProbeFailed, FetchFailed };
    Status status = Status::Ok;
    /// The fetch's status code when status is FetchFailed.
    int32_t fetchCode = 0;
    /// The endpoints in platform order when status is Ok.
    std::vector<ListeningEndpoint> endpoints;
};

/// The outcome of rendering an endpoint's local address as text.
struct AddressText {
    bool ok = false;
    std::string text;
    /// The socket layer's last-error code when ok is false.
    int32_t errorCode = 0;
};

/// The operations the report needs from the operating system.
class SystemQueries {
public:
    virtual ~SystemQueries() = default;
    /// Enables the debug privilege when the caller holds it; never fails visibly.
    virtual void EnableDebugPrivilege() = 0;
    /// Starts the socket layer: 0 on success, else the platform's error code.
    virtual int32_t StartSocketLayer() = 0;
    /// The active services with their hosting process ids, or none.
    virtual std::optional<ServiceSnapshot> TakeServiceSnapshot() = 0;
    /// The section's endpoints, a size-probe failure or a fetch failure.
    virtual EndpointTable ReadEndpointTable(const PortSection& section) = 0;
    /// The text of the endpoint's local address, without port or brackets.
    virtual AddressText FormatEndpointAddress(const ListeningEndpoint& endpoint) = 0;
    /// The full path of the process's image, or none.
    virtual std::optional<std::string> QueryProcessImagePath(uint32_t pid) = 0;
    /// The creation time in local calendar fields (all 0 when it cannot be converted).
    virtual LocalCalendarTime ToLocalCalendarTime(uint64_t creationTime) = 0;
};

/// Where the report's text goes. Writes never fail visibly.
class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual void Write(const char* data, size_t size) = 0;
    /// Pushes everything written so far out of the process.
    virtual void Flush() = 0;
};

/// A sink over the C runtime's standard output. Write and flush errors (a
/// closed pipe, a full disk) are ignored.
class StdoutSink : public ReportSink {
public:
    /// Makes standard output fully buffered: the report leaves in large writes
    /// and is flushed at the end of the run or after a fatal line.
    StdoutSink();
    void Write(const char* data, size_t size) override;
    void Flush() override;
};

/// Prints one endpoint's block.
void WriteEndpointBlock(ReportSink& sink, const ListeningEndpoint& endpoint,
                        const std::string& addressText, const std::string* imagePath,
                        const ServiceSnapshot* snapshot, const LocalCalendarTime& time);

/// Prints one section; returns false after printing a fatal error line.
bool ReportSection(SystemQueries& queries, ReportSink& sink, const PortSection& section,
                   const ServiceSnapshot* snapshot);

/// The whole run; returns the process's exit status (0, or 1 after a fatal error).
int RunReport(SystemQueries& queries, ReportSink& sink);

}  // namespace lystrel
