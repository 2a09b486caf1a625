// main() of every Windows test program: GoogleTest takes its own flags, the rest are the
// program's arguments (paths that the build passes in).
#include <gtest/gtest.h>

#include "test_arguments.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    kelvor::testing::set_test_arguments(argc, argv);
    return RUN_ALL_TESTS();
}
