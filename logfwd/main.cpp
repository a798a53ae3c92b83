// Placeholder until the log forwarder lands.
#include <iostream>

int main()
{
    std::cout << "logfwd: not built yet" << std::endl;
    return 1;
}
