#include <gtest/gtest.h>

#include "rukstring.h"

TEST(Smoke, Builds)
{
    CRukString s("abc");
    EXPECT_EQ(s.GetLength(), 3);
}
