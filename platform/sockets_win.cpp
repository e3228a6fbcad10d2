#include "platform/sockets.h"

#include <winsock2.h>

namespace tessel {

int SocketStartup()
{
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) return 1;
    // The program speaks Windows Sockets 1.1; a layer that cannot give
    // exactly that version is released again and counts as unusable.
    if (data.wVersion != MAKEWORD(1, 1)) {
        ::WSACleanup();
        return 1;
    }
    return 0;
}

void SocketCleanup()
{
    ::WSACleanup();
}

}  // namespace tessel
