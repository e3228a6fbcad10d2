#include "engine/server_table.h"

#include <algorithm>

namespace tessel {

namespace {

// ASCII letters only, whatever the locale: serial numbers are hexadecimal,
// and the search runs for every datagram.
int Lower(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
}

int CompareIgnoringCase(const std::string& a, const std::string& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const int ca = Lower(a[i]);
        const int cb = Lower(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool RowBefore(const ServerRow& a, const ServerRow& b)
{
    return CompareIgnoringCase(a.serial, b.serial) < 0;
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
    return InsertLocked(std::move(row));
}

int ServerTable::InsertLocked(ServerRow row)
{
    // After any equal rows, as a sorted list control places a new item.
    auto at = std::upper_bound(m_rows.begin(), m_rows.end(), row, RowBefore);
    const int index = static_cast<int>(at - m_rows.begin());
    if (row.isServer) ++m_servers;
    m_rows.insert(at, std::move(row));
    if (m_observer) m_observer->OnRowInserted(index, m_rows[static_cast<std::size_t>(index)]);
    return index;
}

int ServerTable::InsertServer(const std::string& serial, std::int64_t nowMs)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bounds.maxServers != 0 && m_servers >= m_bounds.maxServers) {
        // The least recently heard server that is not kept makes room.
        std::size_t oldest = m_rows.size();
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            const ServerRow& row = m_rows[i];
            if (!row.isServer || KeptLocked(row.serial)) continue;
            if (oldest == m_rows.size() || row.heardMs < m_rows[oldest].heardMs) oldest = i;
        }
        if (oldest < m_rows.size()) DeleteLocked(oldest);
    }
    return InsertLocked(ServerRow{serial, "", true, nowMs});
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
    DeleteLocked(static_cast<std::size_t>(index));
    return true;
}

void ServerTable::DeleteLocked(std::size_t index)
{
    if (m_rows[index].isServer) --m_servers;
    m_rows.erase(m_rows.begin() + static_cast<std::ptrdiff_t>(index));
    if (m_observer) m_observer->OnRowDeleted(static_cast<int>(index));
}

int ServerTable::Find(const std::string& text) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return FindLocked(text);
}

int ServerTable::FindLocked(const std::string& text) const
{
    // Rows only ever go in at their sorted place, so the first equal row is
    // where the equal ones begin.
    const auto at = std::lower_bound(
        m_rows.begin(), m_rows.end(), text,
        [](const ServerRow& row, const std::string& t) { return CompareIgnoringCase(row.serial, t) < 0; });
    if (at == m_rows.end() || CompareIgnoringCase(at->serial, text) != 0) return -1;
    return static_cast<int>(at - m_rows.begin());
}

void ServerTable::SetBounds(const ServerTableBounds& bounds)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_bounds = bounds;
}

bool ServerTable::Bounded() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bounds.maxServers != 0 || m_bounds.forgetAfterMs != 0;
}

bool ServerTable::LessIgnoringCase::operator()(const std::string& a, const std::string& b) const
{
    return CompareIgnoringCase(a, b) < 0;
}

void ServerTable::SetKept(const std::vector<std::string>& serials)
{
    std::set<std::string, LessIgnoringCase> kept(serials.begin(), serials.end());
    std::lock_guard<std::mutex> guard(m_lock);
    m_kept.swap(kept);
}

bool ServerTable::KeptLocked(const std::string& serial) const
{
    return !m_kept.empty() && m_kept.count(serial) != 0;
}

int ServerTable::FindHeard(const std::string& serial, std::int64_t nowMs)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const int index = FindLocked(serial);
    if (index >= 0) m_rows[static_cast<std::size_t>(index)].heardMs = nowMs;
    return index;
}

bool ServerTable::HasRoomFor(const std::string& serial) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bounds.maxServers == 0 || m_servers < m_bounds.maxServers || KeptLocked(serial);
}

int ServerTable::Forget(std::int64_t nowMs)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bounds.forgetAfterMs == 0) return 0;
    auto stale = [this, nowMs](const ServerRow& row) {
        return row.isServer && nowMs - row.heardMs >= m_bounds.forgetAfterMs && !KeptLocked(row.serial);
    };
    // Told from the last row up, so each index is still right when told; the
    // rows themselves go in one pass.
    int forgotten = 0;
    for (std::size_t i = m_rows.size(); i-- > 0;) {
        if (!stale(m_rows[i])) continue;
        if (m_observer) m_observer->OnRowDeleted(static_cast<int>(i));
        ++forgotten;
    }
    m_rows.erase(std::remove_if(m_rows.begin(), m_rows.end(), stale), m_rows.end());
    m_servers -= static_cast<std::size_t>(forgotten);
    return forgotten;
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
