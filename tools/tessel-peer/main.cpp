// tessel-peer: behaves as a MERROW server does on the network, for tests.
#include <cstdio>

int main()
{
    std::fputs("tessel-peer: no behaviour yet\n", stderr);
    return 64;
}
