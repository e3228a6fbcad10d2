// The server list: the one store of discovered servers, rows kept sorted by
// their first column as the window's list shows them. The engine changes it;
// the window mirrors it through an observer that must never block.
//
// A table that runs for months (tessel-cli serve) may be bounded
// (ServerTableBounds): servers that are not kept (not in the plan) are
// forgotten once they have not been heard for a while, and there are never
// more than a given number of server rows. Without bounds, as for the
// window, list, set and plan, every row stays for the whole run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tessel {

// How long a server that is not kept may stay unheard before its row goes.
inline constexpr std::int64_t kForgetUnheardMs = 60 * 60 * 1000;
// Server rows of a bounded table, besides the kept ones: a site's other
// servers several times over, about 100 kB. Each new row costs a 140 ms
// listing pause, so a flood of made-up serial numbers pays at most this many
// pauses (2.4 minutes) before the full table lets it through unpaused.
inline constexpr std::size_t kBoundedTableRows = 1024;

struct ServerRow {
    std::string serial;     // column 0: the serial number, or a note text
    std::string address;    // column 1: the current address, or a note text
    bool isServer = false;  // false for the placeholder and start-up note rows
    // When its server was last heard (the engine's clock); bounded tables only.
    std::int64_t heardMs = 0;
};

// Told of every change, in order, with the row's index and texts. Called
// with the table's own lock held: post the change and return at once.
class ServerTableObserver {
public:
    virtual ~ServerTableObserver() = default;
    virtual void OnRowInserted(int index, const ServerRow& row) = 0;
    virtual void OnRowChanged(int index, const ServerRow& row) = 0;
    virtual void OnRowDeleted(int index) = 0;
};

// Zero means no bound.
struct ServerTableBounds {
    std::size_t maxServers = 0;      // server rows at most
    std::int64_t forgetAfterMs = 0;  // a row not kept and unheard this long goes
};

class ServerTable {
public:
    // The window puts one placeholder row first; the first accepted request
    // deletes it with the start-up note.
    static constexpr const char* kPlaceholderText = "   ";

    ServerTable();

    void SetObserver(ServerTableObserver* observer);

    // Inserts a row at its sorted place (first column, ignoring case) and
    // returns that index. A bounded table that is full first lets the least
    // recently heard server that is not kept go (see HasRoomFor).
    int InsertServer(const std::string& serial, std::int64_t nowMs = 0);
    int InsertNote(const std::string& text);
    // Sets column 1 of a row; false for an index that is not there.
    bool SetAddress(int index, const std::string& address);
    bool Delete(int index);
    // The first row whose first column equals the text, ignoring case; -1.
    // A binary search: the rows are always in their sorted order.
    int Find(const std::string& text) const;

    // Bounds, set before the table is used (default: none).
    void SetBounds(const ServerTableBounds& bounds);
    bool Bounded() const;
    // The servers that are never forgotten and always get a row (the plan):
    // serial numbers in any case. May be replaced at any time (a reload).
    void SetKept(const std::vector<std::string>& serials);
    // Find, and a server found there was heard at nowMs: it is not
    // forgotten before forgetAfterMs from then.
    int FindHeard(const std::string& serial, std::int64_t nowMs);
    // Whether InsertServer would list this server: always in an unbounded
    // table, below the cap, and for a kept server (a row that is not kept
    // then makes room). A server refused here is simply not listed.
    bool HasRoomFor(const std::string& serial) const;
    // Deletes every server row that is not kept and was last heard
    // forgetAfterMs or more before nowMs, each with its notification (from
    // the last row up, so every index is valid when told). Answers how many.
    int Forget(std::int64_t nowMs);

    std::vector<ServerRow> Rows() const;
    int Count() const;

private:
    int Insert(ServerRow row);
    int InsertLocked(ServerRow row);
    bool KeptLocked(const std::string& serial) const;
    int FindLocked(const std::string& text) const;
    void DeleteLocked(std::size_t index);

    mutable std::mutex m_lock;
    std::vector<ServerRow> m_rows;
    ServerTableObserver* m_observer = nullptr;
    ServerTableBounds m_bounds;
    struct LessIgnoringCase {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    std::set<std::string, LessIgnoringCase> m_kept;
    std::size_t m_servers = 0;  // rows with isServer
};

}  // namespace tessel
