// When serve answers a planned server again. A server whose job failed, or
// that asks again soon after a job of its own (its address did not hold),
// is not answered before a back-off that doubles with each such strike up
// to a cap, so a broken server is neither hammered nor floods the log. A
// job that ends well and is not followed by such an ask clears the strikes.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace tessel::service {

// The first back-off, its cap, and how soon after the end of its job a
// server's new request counts as a strike.
inline constexpr std::int64_t kFirstBackOffMs = 30'000;
inline constexpr std::int64_t kBackOffCapMs = 15 * 60'000;
inline constexpr std::int64_t kSoonAfterJobMs = 60'000;

// The back-off after `strikes` strikes (1 or more): 30 s, 1 min, 2 min, ...
// 15 min at most. `divisor` shortens every length of the rule alike; only
// the test-only option of serve sets it above 1.
std::int64_t BackOffMs(int strikes, std::int64_t divisor = 1);

class BackOff {
public:
    explicit BackOff(std::int64_t divisor = 1) : m_divisor(divisor < 1 ? 1 : divisor) {}

    struct Decision {
        enum Kind {
            Answer,       // start its job now
            HoldAndTell,  // not now; the first request of this back-off: tell it
            Hold,         // not now; told already
        } kind = Answer;
        std::int64_t untilMs = 0;   // held: answered again from then on
        int strikes = 0;            // held: the strikes that made this back-off
        bool soonAfterJob = false;  // held: this request itself was the strike
    };

    // A request of `serial` at `NowMs` while it has no job.
    Decision OnRequest(const std::string& serial, std::int64_t NowMs);

    // Its job ended at `NowMs`; `good` when the server holds its address
    // (stored, or it already had it). Answers the time before which it is
    // not answered again (0 when it may be at once).
    std::int64_t OnJobEnded(const std::string& serial, std::int64_t NowMs, bool good);

    // A back-off carried over (from the ledger at start): strikes and until,
    // at `NowMs`. It never reaches past now plus the cap, whatever the ledger
    // says (a clock that was years ahead, an edited line), and no strike
    // count below 0 is taken.
    void Restore(const std::string& serial, int strikes, std::int64_t untilMs, std::int64_t NowMs);

    // The servers held now, and what serve's status counts.
    int HeldAt(std::int64_t NowMs) const;
    // Its strikes now.
    int Strikes(const std::string& serial) const
    {
        const auto it = m_servers.find(serial);
        return it == m_servers.end() ? 0 : it->second.strikes;
    }
    // Forgets a server (it left the plan).
    void Forget(const std::string& serial) { m_servers.erase(serial); }

private:
    struct Server {
        int strikes = 0;
        std::int64_t untilMs = 0;  // not answered before
        bool told = false;         // this back-off was told
        bool lastGood = false;     // its last job ended well
        std::int64_t jobEndMs = -1;
    };
    std::int64_t m_divisor;
    std::map<std::string, Server> m_servers;
};

}  // namespace tessel::service
