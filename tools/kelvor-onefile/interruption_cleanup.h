// Between the temporaries that interruption.cpp records and the two ways an interruption
// arrives (interruption_posix.cpp, interruption_windows.cpp).
#pragma once

#include "interruption.h"

namespace kelvor {

// Takes the lock for good (nothing new is made from here on), has end_child end the running
// program, when there is one, and wait for it, closes the files being written and removes
// every recorded temporary, the last recorded first.
void remove_temporaries(void (*end_child)(ChildProcess child, int how), int how);

}  // namespace kelvor
