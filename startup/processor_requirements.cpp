// The one file of the check that is compiled with the launcher's processor level: the level's
// features, as data, from what the compiler was allowed to use here.
#include "startup/processor_features.h"

extern const uint64_t required_processor_features = features_of_this_compilation();
