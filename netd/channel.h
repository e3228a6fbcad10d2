// The socket between a program and its network helper: starting the
// helper with one end of a sequenced-packet socket pair as its descriptor
// 3, and one message each way, with a descriptor riding along where one is
// handed over (SCM_RIGHTS). Linux only.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

#include "netd/protocol.h"

namespace tessel::nethelper {

// The descriptor number on which the helper finds its socket.
inline constexpr int kHelperSocket = 3;

// Starts the program at `path` (absolute; no shell, no PATH, an empty
// environment, a process group of its own) for `role`, with the other end
// of a new socket pair as its descriptor 3. Our end (close-on-exec, so no
// other child holds it), or -1 with the errno value in `error` (EACCES:
// the system may not run it for this user; ENOENT: there is none).
int StartHelper(const std::string& path, Role role, pid_t& pid, int& error);

// Where the service manager listens for `role` (the package's socket units
// tessel-net-table.socket and tessel-net-check.socket): each connection
// gets a helper of its own, started with its role's capabilities.
std::string RoleSocketPath(Role role);

// A connection to the role's socket at `path`, a helper at its other end;
// or -1 with the errno value in `error` (EACCES: this user may not connect;
// ENOENT: there is no such socket).
int ConnectHelper(const std::string& path, int& error);

// Whether a send may wait for room on the other side: the programs' sends
// may; the helper's replies may not, so that a member who never reads can
// neither hold it in a send nor keep its end signals from being taken.
enum class SendWait { Wait, DontWait };

// Sends `text` as one message, with `fd` handed over where it is not -1.
// False when it was not sent whole (with DontWait: also when the other
// side's queue is full).
bool SendMessage(int socket, std::string_view text, int fd = -1, SendWait wait = SendWait::Wait);

// One message received.
struct Received {
    ssize_t size = -1;   // its length; -1 on an error
    bool ended = false;  // no message: the other end has gone
    int fd = -1;         // the one descriptor that came with it (close-on-exec)
    // Control data beyond one descriptor came with it, or was cut short
    // (MSG_CTRUNC); every descriptor of every block is closed then.
    bool otherControl = false;
};

// Receives one message into `buffer`. A message of no bytes is told from
// the end of the socket.
Received ReceiveMessage(int socket, char* buffer, std::size_t size);

}  // namespace tessel::nethelper
