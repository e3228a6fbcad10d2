#include "platform/sockets.h"

namespace tessel {

int SocketStartup()
{
    return 0;
}
void SocketCleanup()
{}

}  // namespace tessel
