// The server list: the one store of discovered servers, rows kept sorted by
// their first column as the window's list shows them. The engine changes it;
// the window mirrors it through an observer that must never block.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace tessel {

struct ServerRow {
    std::string serial;     // column 0: the serial number, or a note text
    std::string address;    // column 1: the current address, or a note text
    bool isServer = false;  // false for the placeholder and start-up note rows
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

class ServerTable {
public:
    // The window puts one placeholder row first; the first accepted request
    // deletes it with the start-up note.
    static constexpr const char* kPlaceholderText = "   ";

    ServerTable();

    void SetObserver(ServerTableObserver* observer);

    // Inserts a row at its sorted place (first column, ignoring case) and
    // returns that index.
    int InsertServer(const std::string& serial);
    int InsertNote(const std::string& text);
    // Sets column 1 of a row; false for an index that is not there.
    bool SetAddress(int index, const std::string& address);
    bool Delete(int index);
    // The first row whose first column equals the text, ignoring case; -1.
    int Find(const std::string& text) const;

    std::vector<ServerRow> Rows() const;
    int Count() const;

private:
    int Insert(ServerRow row);

    mutable std::mutex m_lock;
    std::vector<ServerRow> m_rows;
    ServerTableObserver* m_observer = nullptr;
};

}  // namespace tessel
