// The host's global-memory stand-in: every block, small or mapped page by
// page, is usable to its last byte, and the byte on either side of it, or
// any byte after it was freed, is reported by the address sanitizer.
#include "host_win32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

namespace {

const SIZE_T MiB = SIZE_T{1} << 20;

// Sizes either side of the 1 MiB from which blocks are mapped, and ones that
// leave 0, 1 and 15 bytes between the block's end and its last page's end.
const SIZE_T blockSizes[] = {
    0, 1, 15, 16, 17, 4095, 4096, MiB - 1, MiB, MiB + 1, MiB + 15, MiB + 4095, 64 * MiB + 3,
};

__attribute__((noinline)) uint8_t ReadAt(const uint8_t* at)
{
    return *static_cast<const volatile uint8_t*>(at);
}

uint8_t* Allocate(SIZE_T bytes)
{
    return static_cast<uint8_t*>(GlobalAlloc(GMEM_FIXED, bytes));
}

// Pages this process has had the kernel supply so far.
long PagesSupplied()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

// Resident memory of this process in bytes.
long ResidentBytes()
{
    long pages = 0, resident = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return -1;
    int read = std::fscanf(statm, "%ld %ld", &pages, &resident);
    std::fclose(statm);
    return read == 2 ? resident * sysconf(_SC_PAGESIZE) : -1;
}

}  // namespace

TEST(HostGlobalMemory, EveryByteOfABlockIsUsableAndTheBlockIsAligned)
{
    for (SIZE_T bytes : blockSizes) {
        long liveBefore = HostLiveBlocks();
        uint8_t* block = Allocate(bytes);
        ASSERT_NE(block, nullptr) << bytes << " bytes";
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u) << bytes << " bytes";
        EXPECT_EQ(HostLiveBlocks(), liveBefore + 1) << bytes << " bytes";
        if (bytes > 0) {
            block[0] = 0x11;
            block[bytes - 1] = 0x22;
            EXPECT_EQ(ReadAt(block), bytes == 1 ? 0x22 : 0x11) << bytes << " bytes";
            EXPECT_EQ(ReadAt(block + bytes - 1), 0x22) << bytes << " bytes";
        }
        GlobalFree(block);
        EXPECT_EQ(HostLiveBlocks(), liveBefore) << bytes << " bytes";
    }
}

TEST(HostGlobalMemoryDeathTest, ByteOnEitherSideOfABlockIsReported)
{
    for (SIZE_T bytes : blockSizes) {
        uint8_t* block = Allocate(bytes);
        ASSERT_NE(block, nullptr) << bytes << " bytes";
        // A zero-byte block is malloc's one byte, there to be freed, never read.
        if (bytes > 0)
            EXPECT_DEATH(ReadAt(block + bytes), "AddressSanitizer") << "byte past " << bytes << " bytes";
        EXPECT_DEATH(ReadAt(block - 1), "AddressSanitizer") << "byte before " << bytes << " bytes";
        GlobalFree(block);
    }
}

TEST(HostGlobalMemoryDeathTest, FreedBlockIsReported)
{
    for (SIZE_T bytes : {SIZE_T{100}, MiB, 64 * MiB + 3}) {
        uint8_t* block = Allocate(bytes);
        ASSERT_NE(block, nullptr) << bytes << " bytes";
        block[bytes / 2] = 1;
        GlobalFree(block);
        // A newer block of the same size must not take over the address.
        uint8_t* newer = Allocate(bytes);
        EXPECT_DEATH(ReadAt(block + bytes / 2), "AddressSanitizer") << bytes << " bytes";
        GlobalFree(newer);
    }
}

// What makes a declared 65535 x 16384 frame with a few bytes of data cheap
// to decode and fuzz: only the pages written are ever supplied, to the block
// or to the sanitizer's shadow of it, on allocation and on release alike.
TEST(HostGlobalMemory, UntouchedPagesOfALargeBlockCostNothing)
{
    const SIZE_T bytes = 1024 * MiB;
    long before = PagesSupplied();
    uint8_t* block = Allocate(bytes);
    ASSERT_NE(block, nullptr);
    block[0] = 1;
    block[bytes / 2] = 2;
    block[bytes - 1] = 3;
    GlobalFree(block);
    long supplied = PagesSupplied() - before;
    // A malloc block under the sanitizer: some 65,000 pages of shadow.
    EXPECT_LT(supplied, 1000) << "pages supplied for a 1 GiB block with 3 bytes written";
}

// A fuzzing run makes millions of large blocks, each at a new address: what
// one leaves behind, in the sanitizer's shadow or elsewhere, must not add up.
TEST(HostGlobalMemory, ManyLargeBlocksLeaveNothingResident)
{
    const int blocks = 3000;
    long before = ResidentBytes();
    ASSERT_GT(before, 0);
    for (int i = 0; i < blocks; ++i) {
        SIZE_T bytes = MiB + static_cast<SIZE_T>(i) * 4099;
        uint8_t* block = Allocate(bytes);
        ASSERT_NE(block, nullptr) << bytes << " bytes";
        block[0] = 1;
        block[bytes - 1] = 2;
        GlobalFree(block);
    }
    long grown = ResidentBytes() - before;
    EXPECT_LT(grown, static_cast<long>(4 * MiB)) << "resident growth after " << blocks << " large blocks";
}

TEST(HostGlobalMemory, LiveBlocksStayWithinTheAddressSpaceOfA32BitProcess)
{
    const SIZE_T largest = 0x7FFFFFFF;
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, largest + 1), nullptr) << "over 2 GiB in one block";

    uint8_t* most = Allocate(largest - 1);
    ASSERT_NE(most, nullptr) << "2 GiB - 2 in one block";
    most[largest - 2] = 7;
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, 2), nullptr) << "2 more bytes while 2 GiB - 2 are live";
    uint8_t* last = Allocate(1);
    EXPECT_NE(last, nullptr) << "the one byte left";
    GlobalFree(last);
    GlobalFree(most);

    uint8_t* again = Allocate(largest);
    EXPECT_NE(again, nullptr) << "2 GiB - 1 again once the first is freed";
    GlobalFree(again);
}
