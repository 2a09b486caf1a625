// Configure-time probe: compiled with one processor level's flags and run on the build machine,
// it exits with 0 when this machine's processor runs that level's code. (A processor that
// cannot run it may also end it with an illegal instruction, which is just as clear an answer.)
#include "startup/processor_features.h"

int main() {
    return missing_processor_features(features_of_this_compilation(), read_processor_ids()) == 0 ? 0 : 1;
}
