// The distribution commands.
#include "distribution.h"

bool run_distribution_command(int /*argc*/, char * /*argv*/[])
{
    return false; // no distribution commands yet
}
