#include "engine/answered_servers.h"

#include <algorithm>

namespace tessel {

namespace {

std::string Upper(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

// FNV-1a: two serials of 17 characters sharing a hash is as likely as two
// random 64-bit numbers matching, so the count stays exact in practice.
std::uint64_t Hash(std::string_view text)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

void SortUnique(std::vector<std::uint64_t>& values)
{
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
}

}  // namespace

void AnsweredServers::Answer(const std::vector<std::string>& serials)
{
    m_answered.clear();
    for (const std::string& serial : serials) m_answered.insert(Upper(serial));
}

bool AnsweredServers::Answers(std::string_view serial) const
{
    return m_answered.find(serial) != m_answered.end();
}

bool AnsweredServers::PassOver(std::string_view serial)
{
    ++m_requests;
    if (!m_full) {
        // Appended, and made unique only when the room is used up: a
        // request costs a push, not a search.
        if (m_seen.capacity() == 0) m_seen.reserve(kPassedOverCountedAtMost);
        m_seen.push_back(Hash(serial));
        if (m_seen.size() == kPassedOverCountedAtMost) {
            SortUnique(m_seen);
            // Less than half free again: the next ones would sort too often.
            if (m_seen.size() > kPassedOverCountedAtMost / 2) m_full = true;
        }
    }
    if (m_namedEver.size() >= kPassedOverNamedAtMost) return false;
    if (std::find(m_namedEver.begin(), m_namedEver.end(), serial) != m_namedEver.end()) return false;
    m_namedEver.emplace_back(serial);
    return true;
}

void AnsweredServers::Name(std::string_view serial, std::string address)
{
    m_named.push_back({std::string(serial), std::move(address)});
}

std::vector<PassedOverServer> AnsweredServers::TakeNamed()
{
    std::vector<PassedOverServer> named;
    named.swap(m_named);
    return named;
}

PassedOverCount AnsweredServers::TakeCount()
{
    SortUnique(m_seen);
    PassedOverCount count{m_requests, static_cast<long long>(m_seen.size()), m_full};
    m_requests = 0;
    m_seen.clear();  // the capacity stays for the next count
    m_full = false;
    return count;
}

}  // namespace tessel
