#include "engine/server_table.h"

#include <algorithm>
#include <cctype>

namespace tessel {

namespace {

int CompareIgnoringCase(const std::string& a, const std::string& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

ServerTable::ServerTable()
{
    m_rows.push_back(ServerRow{kPlaceholderText, kPlaceholderText, false});
}

void ServerTable::SetObserver(ServerTableObserver* observer)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_observer = observer;
}

int ServerTable::Insert(ServerRow row)
{
    std::lock_guard<std::mutex> guard(m_lock);
    // After any equal rows, as a sorted list control places a new item.
    auto at = std::upper_bound(m_rows.begin(), m_rows.end(), row, [](const ServerRow& a, const ServerRow& b) {
        return CompareIgnoringCase(a.serial, b.serial) < 0;
    });
    const int index = static_cast<int>(at - m_rows.begin());
    m_rows.insert(at, row);
    if (m_observer) m_observer->OnRowInserted(index, m_rows[static_cast<std::size_t>(index)]);
    return index;
}

int ServerTable::InsertServer(const std::string& serial)
{
    return Insert(ServerRow{serial, "", true});
}

int ServerTable::InsertNote(const std::string& text)
{
    return Insert(ServerRow{text, "", false});
}

bool ServerTable::SetAddress(int index, const std::string& address)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (index < 0 || index >= static_cast<int>(m_rows.size())) return false;
    auto& row = m_rows[static_cast<std::size_t>(index)];
    row.address = address;
    if (m_observer) m_observer->OnRowChanged(index, row);
    return true;
}

bool ServerTable::Delete(int index)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (index < 0 || index >= static_cast<int>(m_rows.size())) return false;
    m_rows.erase(m_rows.begin() + index);
    if (m_observer) m_observer->OnRowDeleted(index);
    return true;
}

int ServerTable::Find(const std::string& text) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (CompareIgnoringCase(m_rows[i].serial, text) == 0) return static_cast<int>(i);
    return -1;
}

std::vector<ServerRow> ServerTable::Rows() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_rows;
}

int ServerTable::Count() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_rows.size());
}

}  // namespace tessel
