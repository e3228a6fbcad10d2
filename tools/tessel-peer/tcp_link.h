// Small blocking TCP helpers for the peer's services: listen on one address,
// accept and read with time limits (so a stop request is seen promptly and
// no client can hold a service for ever), write whole buffers, and keep
// what a client sent as a file for the tests.
#pragma once

#include <atomic>
#include <string>

#include "bootp_wire.h"

namespace peer {

// A listening socket on address:port, or -1 with the reason in error.
int ListenOn(const Ipv4& address, unsigned port, std::string& error);

// The next connection, or -1 when none came within timeoutMs.
int AcceptWithin(int listener, int timeoutMs);

// Bytes read (> 0), 0 when the other side closed, -1 on a time-out or error.
long ReadWithin(int fd, char* buffer, std::size_t size, int timeoutMs);

bool SendAll(int fd, const std::string& bytes);

// A connection to address:port, or -1 when it could not be made in time.
int ConnectWithin(const Ipv4& address, unsigned port, int timeoutMs);

// "ADDR:PORT" of the other end of a connection.
std::string RemoteName(int fd);

// Sends FIN, waits a little for the other side to close, then closes, so the
// last bytes sent are not lost to a reset.
void CloseGently(int fd);

// Sleeps up to ms in short steps; false when stop was set meanwhile.
bool SleepUnlessStopped(unsigned ms, const std::atomic<bool>& stop);

// Writes bytes to folder/name; the path, or an empty text when folder is
// empty or the file cannot be written.
std::string KeepAsFile(const std::string& folder, const std::string& name, const std::string& bytes);

}  // namespace peer
