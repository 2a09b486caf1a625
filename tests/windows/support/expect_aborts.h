// A bounded-buffer guard or a failed internal check ends the run through abort, with the
// runtime's abnormal-end status (3) and no window: a death test of that.
#pragma once

#include <gtest/gtest.h>

#include "bootstrap/error_reporting.h"

#define EXPECT_ABORTS(statement) \
    EXPECT_EXIT({ configure_silent_abort(); statement; }, ::testing::ExitedWithCode(3), "")
