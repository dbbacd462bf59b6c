// The layer starts with the IDE collector's static instance, on the real system calls of the
// Windows under the test: no simulator is installed before static initialisation.
#include "ide_layer.h"
#include "ide_test_keys.h"
#include "storage_keys.h"
#include "zdtide_collector.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

namespace {

TEST(IdeStartup, StaticStartOnTheRealSystem)
{
    // A reference the linker keeps, so the collector's object file (and its static instance) is in.
    ZDTIDEDataCollector *volatile collector = &s_ZDTIDEDataCollector;
    ASSERT_NE(collector, nullptr);
    EXPECT_EQ(IdeInitResultForTest(), 0);
    // Wine has no IDE controller: both operations find nothing and leave the count alone.
    auto started = std::chrono::steady_clock::now();
    int count = 0;
    EXPECT_EQ(IdeGetControllers(nullptr, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(IdeGetDisks(nullptr, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    ExpectEmptyIdeKeys();
    DWORD size = 0;
    EXPECT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "SYSTEM\\QZTLMStorage\\Ide", "SoftwareRevisions", RRF_RT_REG_BINARY,
                           nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
}

} // namespace
