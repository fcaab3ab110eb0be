// How fast the block writer formats endpoint blocks, with a snapshot of 50
// services of which two match the endpoint's process.
#include <benchmark/benchmark.h>

#include <cstring>

#include "report.h"

namespace {

class DiscardingSink : public lystrel::ReportSink {
public:
    void Write(const char* data, size_t size) override {
        benchmark::DoNotOptimize(data);
        bytes += size;
    }
    void Flush() override {}
    size_t bytes = 0;
};

lystrel::ServiceSnapshot FiftyServices(uint32_t matchingPid) {
    lystrel::ServiceSnapshot snapshot;
    for (uint32_t index = 0; index < 50; ++index) {
        lystrel::ServiceEntry entry;
        entry.serviceName = "service" + std::to_string(index);
        entry.displayName = "The service number " + std::to_string(index);
        entry.processId = index % 25 == 0 ? matchingPid : 1000 + index;
        snapshot.entries.push_back(entry);
    }
    return snapshot;
}

void BM_WriteEndpointBlock(benchmark::State& state) {
    lystrel::ListeningEndpoint endpoint;
    endpoint.family = lystrel::AddressFamily::IPv6;
    endpoint.protocol = lystrel::TransportProtocol::TCP;
    endpoint.localAddress[15] = 1;
    endpoint.localPort = 44321;
    endpoint.owningPid = 4242;
    const std::string address = "fe80::1c2b:3aff:fe4d:5e6f%12";
    const std::string path = "/usr/lib/systemd/systemd-resolved";
    const lystrel::ServiceSnapshot snapshot = FiftyServices(endpoint.owningPid);
    lystrel::LocalCalendarTime time;
    time.year = 2026;
    time.month = 12;
    time.day = 11;
    time.hour = 8;
    time.minute = 5;
    DiscardingSink sink;
    for (auto _ : state) {
        lystrel::WriteEndpointBlock(sink, endpoint, address, &path, &snapshot, time);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(sink.bytes));
}
BENCHMARK(BM_WriteEndpointBlock);

}  // namespace

BENCHMARK_MAIN();
