// Start-up and release of the socket layer. On Windows this is the sockets
// library's own start-up for version 1.1; on POSIX there is nothing to do.
#pragma once

namespace tessel {

// 0 on success, non-zero when the socket layer cannot be used.
int SocketStartup();
void SocketCleanup();

}  // namespace tessel
