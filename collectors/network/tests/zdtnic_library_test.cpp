// The NIC collector with a library beside the executable: every collection's request is answered
// long before the time-out, and a stop is acknowledged, the library freed and the loader ended.
#include "zdtnic_collector.h"

#include "nic_records.h"

#include <gtest/gtest.h>

namespace {

TEST(NicLibraryBindingTest, RoundTripsAreAnsweredAndTheStopUnloadsTheLibrary)
{
    NIC_COLLECTOR_TIMING::InitDoneMs = 60000;
    NIC_COLLECTOR_TIMING::StopAckMs = 30000;
    NIC_COLLECTOR_TIMING::LoaderExitMs = 30000;
    s_ZDTNICDataCollector.Initialize();
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const DWORD start = GetTickCount();
        s_ZDTNICDataCollector.Collect(0, nullptr);
        EXPECT_LT(GetTickCount() - start, 30000u) << "a request went unanswered";
    }
    EXPECT_NE(nullptr, GetModuleHandleW(kNicLibraryFileName));
    HANDLE ack = CreateEventW(nullptr, FALSE, FALSE, kNicStopAckEvent);
    const DWORD start = GetTickCount();
    s_ZDTNICDataCollector.Terminate();
    EXPECT_LT(GetTickCount() - start, 30000u) << "the stop was acknowledged and the loader ended by itself";
    // Win2KMain returned and the loader thread freed the library: nothing was terminated inside it.
    EXPECT_EQ(nullptr, GetModuleHandleW(kNicLibraryFileName));
    CloseHandle(ack);
}

} // namespace
