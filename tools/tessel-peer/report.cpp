#include "report.h"

#include <cstdio>
#include <mutex>

namespace peer {

namespace {
std::mutex outputLock;
}

void ReportLine(const std::string& line)
{
    const std::lock_guard<std::mutex> hold(outputLock);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ReportError(const std::string& message)
{
    const std::lock_guard<std::mutex> hold(outputLock);
    std::fprintf(stderr, "tessel-peer: %s\n", message.c_str());
    std::fflush(stderr);
}

}  // namespace peer
