// The growable numbering of keys that the adjacency and the seam classes
// share: numbers stay dense and in first-added order while its table grows.
#include <gtest/gtest.h>

#include <stdint.h>

#include "index/keyindex.h"

TEST(KeyNumbers, DenseInFirstAddedOrderThroughEveryGrowth)
{
    KeyNumbers numbers;
    // Room for 2 keys: the 2,000 below double the table five times.
    ASSERT_TRUE(KeyNumbersOpen(&numbers, 2));
    // Keys that differ only in their high word (host ids at a fixed stride,
    // packed tuples) beside small integers: the probes must tell them apart.
    const int n = 1000;
    for (int k = 0; k < n; ++k) {
        ASSERT_EQ(KeyNumbersAdd(&numbers, (uint64_t)(k + 1) << 32), 2 * k) << "key " << k;
        ASSERT_EQ(KeyNumbersAdd(&numbers, (uint64_t)k), 2 * k + 1) << "key " << k;
    }
    EXPECT_EQ(numbers.count, 2 * n);
    for (int k = 0; k < n; ++k) {
        EXPECT_EQ(KeyNumbersFind(&numbers, (uint64_t)(k + 1) << 32), 2 * k) << "key " << k;
        // Adding a key again gives its number and numbers nothing new.
        EXPECT_EQ(KeyNumbersAdd(&numbers, (uint64_t)k), 2 * k + 1) << "key " << k;
    }
    EXPECT_EQ(numbers.count, 2 * n);
    EXPECT_EQ(KeyNumbersFind(&numbers, (uint64_t)(n + 1) << 32), -1);
    EXPECT_EQ(KeyNumbersFind(&numbers, UINT64_MAX), -1);
    KeyNumbersClose(&numbers);
    EXPECT_EQ(KeyNumbersFind(&numbers, 0), -1) << "a closed numbering holds nothing";
    KeyNumbersClose(&numbers);
}
