// SPDX-License-Identifier: Apache-2.0
// devsim: a test device for the controller's message bus.
#include "devsim.h"

int main(int argc, char** argv)
{
    return devsim_main(argc, argv);
}
