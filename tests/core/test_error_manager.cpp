#include "core/ErrorManager.h"

#include <gtest/gtest.h>

TEST(ErrorManager, FreshObjectHasNoErrorAndResetClears)
{
    CQNF_FrameWork fw;
    EXPECT_FALSE(fw.IsError());
    EXPECT_EQ(fw.GetError(), 0);
    fw.SetError(17);
    EXPECT_TRUE(fw.IsError());
    EXPECT_EQ(fw.GetError(), 17);
    fw.ResetError();
    EXPECT_EQ(fw.GetError(), 0);
    fw.SetError(17);
    fw.SetError(0);
    EXPECT_FALSE(fw.IsError());
}
