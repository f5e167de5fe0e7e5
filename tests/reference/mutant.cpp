#include "tests/reference/reference.h"

#include <stdlib.h>
#include <string.h>

// Read on every call, so that a test can switch faults between runs in one
// process; a pass asks once per run.
int RefMutant(const char *name)
{
    const char *chosen = getenv("CORVANE_REF_MUTANT");
    return chosen && strcmp(chosen, name) == 0;
}
