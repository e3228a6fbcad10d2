// The servers a run of plan or serve will ever answer: the plan's. The
// receive loop passes over every other server's request before it writes a
// line, pauses or lists, so a flood of made-up serial numbers costs a count
// each, not a row, a 140 ms listing pause and a block of the logfile, and
// never holds up a planned server. The front end tells what was passed
// over: the first few servers by name, the rest as counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

// Servers passed over that are named to the front end, the first ones of a
// run, once each; the rest are only counted.
inline constexpr std::size_t kPassedOverNamedAtMost = 16;
// Distinct servers counted exactly in one count; beyond, "at least". 512 kB
// at most, whatever the flood.
inline constexpr std::size_t kPassedOverCountedAtMost = 65536;

// What was passed over since the last count was taken.
struct PassedOverCount {
    long long requests = 0;
    long long servers = 0;     // distinct servers among them
    bool moreServers = false;  // `servers` is a lower bound: the exact count was given up
};

struct PassedOverServer {
    std::string serial, address;
};

// Shared by the network thread and the front end: every call is made with
// the host's stateLock held (SharedState::answeredOnly).
class AnsweredServers {
public:
    // The serial numbers answered from now on (a reloaded plan), any case.
    void Answer(const std::vector<std::string>& serials);
    // `serial` in upper case, as the receive loop spells it.
    bool Answers(std::string_view serial) const;

    // Counts a request of a server that is not answered. True when the
    // server is to be named: one of the first kPassedOverNamedAtMost of the
    // run; the caller then gives its address with Name().
    bool PassOver(std::string_view serial);
    void Name(std::string_view serial, std::string address);

    // The servers named since the last call, in the order they were heard.
    std::vector<PassedOverServer> TakeNamed();
    // The count since the last call; the next count starts at zero.
    PassedOverCount TakeCount();

private:
    std::set<std::string, std::less<>> m_answered;  // upper case
    std::vector<std::string> m_namedEver;
    std::vector<PassedOverServer> m_named;
    long long m_requests = 0;
    // Hashes of the serials seen in this count, kept sorted and unique
    // every time the vector fills up; `m_full` once even that is not enough.
    std::vector<std::uint64_t> m_seen;
    bool m_full = false;
};

}  // namespace tessel
