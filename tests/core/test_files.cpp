#include <gtest/gtest.h>

#include "core/files.h"

TEST(Files, Placeholder) { EXPECT_EQ(vntx::trim("  a "), "a"); }
