// The text of one endpoint's block. The block is assembled in one buffer and
// handed to the sink in a single write, which keeps the writer fast enough to
// format a million blocks a second.
#include <cstring>

#include "report.h"

namespace lystrel {
namespace {

class Line {
public:
    explicit Line(std::string& out) : out_(out) {}

    template <size_t N>
    Line& Text(const char (&literal)[N]) {
        out_.append(literal, N - 1);
        return *this;
    }
    Line& Text(const std::string& text) {
        out_.append(text);
        return *this;
    }
    /// A signed decimal, as printf's %d prints it.
    Line& Signed(int64_t value) {
        if (value < 0) {
            out_.push_back('-');
            return Digits(static_cast<uint64_t>(-(value + 1)) + 1, 1);
        }
        return Digits(static_cast<uint64_t>(value), 1);
    }
    /// An unsigned decimal zero-filled to at least minWidth digits.
    Line& Digits(uint64_t value, int minWidth) {
        char digits[20];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        for (int fill = count; fill < minWidth; ++fill) out_.push_back('0');
        while (count > 0) out_.push_back(digits[--count]);
        return *this;
    }

private:
    std::string& out_;
};

}  // namespace

void WriteEndpointBlock(ReportSink& sink, const ListeningEndpoint& endpoint,
                        const std::string& addressText, const std::string* imagePath,
                        const ServiceSnapshot* snapshot, const LocalCalendarTime& time) {
    // Reused between blocks so that a steady run allocates nothing here.
    static thread_local std::string block;
    block.clear();
    Line line(block);

    line.Signed(endpoint.localPort)
        .Text(endpoint.protocol == TransportProtocol::TCP ? " TCP\n\n" : " UDP\n\n");
    if (endpoint.family == AddressFamily::IPv4)
        line.Text("  - Listening at IP address     : ").Text(addressText).Text("\n");
    else
        line.Text("  - Listening at IPv6 address   : [").Text(addressText).Text("]\n");
    // The process id prints as a signed 32-bit decimal.
    line.Text("  - Responsible process PID     : ")
        .Signed(static_cast<int32_t>(endpoint.owningPid))
        .Text("\n");
    if (imagePath) line.Text("  - Process image pathname      : ").Text(*imagePath).Text("\n");
    if (snapshot) {
        for (const ServiceEntry& service : snapshot->entries) {
            if (service.processId != endpoint.owningPid) continue;
            line.Text("  - Service display name        : ").Text(service.displayName).Text("\n");
            line.Text("  - Service name                : ").Text(service.serviceName).Text("\n");
        }
    }
    line.Text("  - Port opened at (local time) : ")
        .Digits(time.year, 4).Text("-")
        .Digits(time.month, 2).Text("-")
        .Digits(time.day, 2).Text(" ")
        .Digits(time.hour, 1).Text(":")
        .Digits(time.minute, 1).Text("\n\n");
    sink.Write(block.data(), block.size());
}

}  // namespace lystrel
