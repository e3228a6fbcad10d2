// The UDP socket of the BOOTP/DHCP server port: create, allow broadcasts,
// bind, receive with the arrival interface, and send a limited broadcast
// out of a chosen interface. Thin wrappers; the engine decides what to log.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessel::udp {

using Handle = long long;
inline constexpr Handle kInvalidHandle = -1;

enum class BindResult { Ok, InUse, NotPermitted, OtherError };
enum class ReceiveResult { Ok, Error, Truncated };

struct Datagram {
    std::size_t length = 0;
    std::uint8_t source[4] = {};
    std::uint16_t sourcePort = 0;  // host order
    bool hasSource = false;        // a wake-up by shutdown has none
    int interfaceIndex = 0;        // 0 when the system did not say
};

Handle Create();
bool EnableBroadcast(Handle socket);
// Binds 0.0.0.0:port without any address-reuse option, so the bind fails
// while another program holds the port.
BindResult Bind(Handle socket, std::uint16_t port);
// Blocks until a datagram arrives or the socket is shut down (then Ok with
// length 0). A datagram longer than the buffer is Truncated: never whole.
ReceiveResult Receive(Handle socket, std::uint8_t* buffer, std::size_t capacity, Datagram& info);
// True when a datagram (or a shutdown) is waiting, so Receive would not block.
bool HasWaiting(Handle socket);
// Sends to 255.255.255.255:port. With an interface index the datagram
// leaves through that interface, whatever the routing table says.
bool SendBroadcast(Handle socket, const std::uint8_t* data, std::size_t length, std::uint16_t port, int interfaceIndex);
#ifdef _WIN32
// Windows: sends to address:port (host order) through the interface with
// this index (0: as the routing table says). The interface is an option of
// the socket there, not of the datagram, so setting it and sending are one
// step under a lock: jobs replying at once on the one socket never send
// through each other's interface. SendBroadcast sends through it.
bool SendThrough(Handle socket, const std::uint8_t* data, std::size_t length, std::uint32_t address, std::uint16_t port,
                 int interfaceIndex);
// Tests only: when set, runs between the option and the send, in the step.
extern void (*betweenOptionAndSend)();
#endif
// Wakes a blocked Receive.
void Shutdown(Handle socket);
void Close(Handle socket);

}  // namespace tessel::udp
