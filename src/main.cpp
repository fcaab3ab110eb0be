// Lystrel: prints which TCP ports listen and which UDP endpoints are bound on
// this machine, and which processes and services hold them.
#include <csignal>

#include "report.h"
#include "windows_queries.h"

int main() {
#ifdef SIGPIPE
    // A reader that goes away must not end the run; failed writes are ignored.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    lystrel::WindowsSystemQueries queries;
    lystrel::StdoutSink sink;
    return lystrel::RunReport(queries, sink);
}
