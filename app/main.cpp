// The windowed program.
#include "app/tesselapp.h"
#include "platform/privileges.h"

int main(int argc, char* argv[])
{
    // Before any thread: each one starts with these sets.
    tessel::LowerNetworkRights();
    return tessel::RunTessel(argc, argv);
}
