// The Win32 main window's server list (1024): a report list that mirrors
// the engine's server table in order, as the Qt window's list model does.
// The table tells its changes on the network thread; the mirror hands each
// to the window's thread and applies it there, to its copy and the control.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/server_table.h"

namespace tessel {

class ServerListMirror final : public ServerTableObserver {
public:
    // `post` runs a call on the window's thread, in the order posted.
    explicit ServerListMirror(std::function<void(std::function<void()>)> post) : m_post(std::move(post)) {}
    ~ServerListMirror();
    ServerListMirror(const ServerListMirror&) = delete;
    ServerListMirror& operator=(const ServerListMirror&) = delete;

    // The list control, once the dialog exists: its two columns, 140
    // pixels at 96 dpi and as much more as the screen's dpi is. Where the
    // dialog face is wider than the one the columns were drawn for (Wine's
    // stand-in is), the list takes a narrower cut of it, as the Linux
    // window takes the semi-condensed one, so that the start-up notes, the
    // headers, serial numbers and addresses each show whole in a column.
    void SetUp(HWND list);
    // Takes the table's rows as they are, then follows it; null lets go.
    void Follow(ServerTable* table);

    // Read on the window's thread.
    int RowCount() const { return static_cast<int>(m_rows.size()); }
    bool RowTexts(int row, std::string& serial, std::string& address) const;
    int FirstSelectedRow() const;

    // ServerTableObserver: from the network thread.
    void OnRowInserted(int index, const ServerRow& row) override;
    void OnRowChanged(int index, const ServerRow& row) override;
    void OnRowDeleted(int index) override;

private:
    struct Row {
        std::string serial, address;
    };
    void Insert(int index, const Row& row);

    std::function<void(std::function<void()>)> m_post;
    HWND m_hList = nullptr;
    HFONT m_hFont = nullptr;  // the narrower cut, where one was needed
    ServerTable* m_table = nullptr;
    std::vector<Row> m_rows;  // on the window's thread
};

}  // namespace tessel
