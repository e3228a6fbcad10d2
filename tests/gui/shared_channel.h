// The unit tests' scripted network channel for a window: the window's
// engine owns its channel, so the engine gets this door to a scripted
// channel that the test keeps a hold of and pushes requests into.
#pragma once

#include <functional>
#include <memory>

#include "tests/unit/network_fixture.h"

namespace tessel::testing {

class SharedChannel final : public BootpChannel {
public:
    using Scripted = tessel::testing::ScriptedChannel;
    // `onOpen` runs on the network thread as it opens the channel, the
    // first thing the thread does.
    explicit SharedChannel(std::shared_ptr<Scripted> inner, std::function<void()> onOpen = {})
        : m_inner(std::move(inner)), m_onOpen(std::move(onOpen))
    {}

    OpenResult Open() override
    {
        if (m_onOpen) m_onOpen();
        return m_inner->Open();
    }
    ReceiveStatus Receive(BootpMessage& message) override { return m_inner->Receive(message); }
    bool SendReply(std::span<const std::uint8_t> reply, const BootpMessage& request) override
    {
        return m_inner->SendReply(reply, request);
    }
    void Wake() override { m_inner->Wake(); }
    void Close() override { m_inner->Close(); }

private:
    std::shared_ptr<Scripted> m_inner;
    std::function<void()> m_onOpen;
};

}  // namespace tessel::testing
