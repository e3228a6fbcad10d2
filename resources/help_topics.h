// The help topics, one per context number: F1 and the Help button open the
// topic of the context in force. Each place that shows a box chooses its
// topic from these names; the numbers are the help pages' own (topicN.html).
#pragma once

#include <atomic>

namespace tessel {

inline constexpr int kHelpAtRest = 1;           // setting up a server: the window at rest
inline constexpr int kHelpAddressInUse = 8;     // box 106
inline constexpr int kHelpNoServerYet = 11;     // the start-up note: no server heard yet
inline constexpr int kHelpNoRequest = 12;       // box 107
inline constexpr int kHelpFollowUp = 19;        // boxes 111 and 137: what next
inline constexpr int kHelpZeroAddress = 23;     // box 105
inline constexpr int kHelpHomeNoServer = 26;    // box 104 or 117 from the home-page command
inline constexpr int kHelpBroadcast = 27;       // box 122
inline constexpr int kHelpNoServerChosen = 28;  // box 104 from Set IP
inline constexpr int kHelpHomeNoAddress = 30;   // box 118
inline constexpr int kHelpStored = 31;          // box 110
inline constexpr int kHelpNotVerified = 32;     // box 108
inline constexpr int kHelpUntilRestart = 33;    // boxes 109 and 119
inline constexpr int kHelpBrowserFailed = 34;   // box 112
inline constexpr int kHelpReservedEnding = 36;  // box 123
inline constexpr int kHelpSameAddress = 37;     // box 124
inline constexpr int kHelpPortTaken = 39;       // box 125 and box 142 at start-up
inline constexpr int kHelpNotChecked = 40;      // box 144
inline constexpr int kHelpUnreachable = 41;     // box 145
inline constexpr int kHelpNetworkEdge = 42;     // box 146

// A box shown with this leaves the help context as it is.
inline constexpr int kHelpUnchanged = -1;

// The help context in force: the topic F1 and a box's Help button open.
// The window keeps one; the start-up check's thread and the Set-IP command
// change it while their boxes show, and the boxes read it.
class HelpContext {
public:
    int Current() const { return m_topic.load(); }
    void Set(int topic) { m_topic.store(topic); }
    void Reset() { m_topic.store(kHelpAtRest); }

private:
    std::atomic<int> m_topic{kHelpAtRest};
};

// While it lives, `topic` is the context in force; when it ends the window
// is at rest again. kHelpUnchanged, or no context at all (tessel-cli has no
// help), leaves everything as it is.
class ScopedHelp {
public:
    ScopedHelp(HelpContext* context, int topic) : m_context(topic == kHelpUnchanged ? nullptr : context)
    {
        if (m_context) m_context->Set(topic);
    }
    ~ScopedHelp()
    {
        if (m_context) m_context->Reset();
    }
    ScopedHelp(const ScopedHelp&) = delete;
    ScopedHelp& operator=(const ScopedHelp&) = delete;

private:
    HelpContext* m_context;
};

}  // namespace tessel
