// Where the network thread gets its datagrams and sends its reply: the UDP
// socket on port 67 in the program, a scripted channel in tests.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "engine/bootp.h"

namespace tessel {

inline constexpr std::uint16_t kBootpServerPort = 67;
inline constexpr unsigned kReceiveBatch = 32;

// How opening ended. Each failure has its own logfile event; a bind refused
// for lack of permission is told apart from a port that is taken, so the
// user is not sent looking for a program that does not exist.
enum class OpenResult {
    Ok,
    StartupFailed,     // the socket layer could not be initialised
    SocketInvalid,     // no socket could be created
    BroadcastFailed,   // broadcasting could not be enabled
    PortInUse,         // another program holds the port
    PortNotPermitted,  // binding the port needs privileges we lack
    BindFailed,        // any other bind failure
};

enum class ReceiveStatus { Ok, Error, Closed };

class BootpChannel {
public:
    virtual ~BootpChannel() = default;
    virtual OpenResult Open() = 0;
    // Clears the message, then blocks for the next datagram. A datagram that
    // did not fit the buffer is an Error, never a whole message; an empty one
    // is Closed. The source is filled whenever the system gave one.
    virtual ReceiveStatus Receive(BootpMessage& message) = 0;
    // Sends the reply to 255.255.255.255 at the request's source port, out
    // of the interface on which the request arrived.
    virtual bool SendReply(std::span<const std::uint8_t> reply, const BootpMessage& request) = 0;
    // True when a further datagram is already waiting behind the one just
    // received: the loop is in a burst.
    virtual bool HasPending() { return false; }
    // True when a further datagram was already taken from the system with
    // the one just received (a batch): the next Receive returns at once and
    // costs no system call. Asking costs nothing.
    virtual bool HasBuffered() const { return false; }
    // Wakes a blocked Receive; safe from any thread.
    virtual void Wake() = 0;
    // Closes the socket and releases the socket layer.
    virtual void Close() = 0;
};

// The real channel: a UDP socket bound to the given port on all addresses.
// On Linux it takes the datagrams that are waiting in batches (recvmmsg: one
// system call for up to kReceiveBatch of them, never waiting for more than
// the first) and hands them out one by one, in their order.
std::unique_ptr<BootpChannel> MakeSocketChannel(std::uint16_t port = kBootpServerPort);

}  // namespace tessel
