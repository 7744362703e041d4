#include "payload/memory_buffer.h"

#include <gtest/gtest.h>
#include <windows.h>

TEST(MemoryBuffer, IsOneFixedGlobalBlockOfItsSize)
{
    MemoryBuffer buffer(1000);
    ASSERT_NE(buffer.data, nullptr);
    EXPECT_EQ(buffer.size, 1000);
    EXPECT_EQ(buffer.pos, 0);
    HGLOBAL handle = GlobalHandle(buffer.data);
    ASSERT_NE(handle, nullptr);
    EXPECT_GE(GlobalSize(handle), 1000u);
}

TEST(MemoryBuffer, ReleasesItsBlockWhenItsScopeEnds)
{
    HGLOBAL handle = nullptr;
    {
        MemoryBuffer buffer(64);
        handle = GlobalHandle(buffer.data);
        ASSERT_NE(handle, nullptr);
        EXPECT_NE(GlobalSize(handle), 0u);
    }
    // A freed handle no longer reports a size.
    EXPECT_EQ(GlobalSize(handle), 0u);
}

TEST(MemoryBuffer, TooLargeBlockLeavesDataNullAndReleasesWithoutEffect)
{
    MemoryBuffer buffer(0x7FFFFFFF);
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(buffer.size, 0x7FFFFFFF);
}
