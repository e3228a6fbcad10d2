// The windowed program.
#include "app/tesselapp.h"

int main(int argc, char* argv[])
{
    return tessel::RunTessel(argc, argv);
}
