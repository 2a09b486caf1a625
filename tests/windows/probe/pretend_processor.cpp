// Linked into a launcher in place of the check's own reading of the processor: a processor with
// everything up to AVX2 and BMI2 but no AVX-512, such as most PCs in use. The launcher must
// refuse to run on it before any of its code, static initialisers included, has run: the
// initialiser below would write a line of its own.
#include <stdio.h>

#include "startup/processor_features.h"

ProcessorIds read_processor_ids() {
    ProcessorIds ids = {};
    ids.leaf1_ecx = (1u << 0) | (1u << 9) | (1u << 12) | (1u << 13) | (1u << 19) | (1u << 20) | (1u << 22) |
                    (1u << 23) | (1u << 27) | (1u << 28) | (1u << 29);
    ids.leaf7_ebx = (1u << 3) | (1u << 5) | (1u << 8);
    ids.leaf81_ecx = (1u << 0) | (1u << 5);
    ids.enabled_state = 0x7;
    return ids;
}

namespace {

struct StaticInitialiser {
    StaticInitialiser() { puts("a static initialiser ran"); }
} static_initialiser;

}  // namespace
