// A library that never answers: the stop waits for the acknowledgement and for the loader thread
// no longer than its bounds, then terminates the loader thread.
#include "zdtnic_collector.h"

#include <gtest/gtest.h>

namespace {

TEST(NicSilentLibraryTest, StopWithoutAcknowledgementEndsOnItsBounds)
{
    NIC_COLLECTOR_TIMING::InitDoneMs = 100;
    NIC_COLLECTOR_TIMING::StopAckMs = 300;
    NIC_COLLECTOR_TIMING::LoaderExitMs = 300;
    s_ZDTNICDataCollector.Initialize();
    for (int i = 0; i < 1500 && GetModuleHandleW(kNicLibraryFileName) == nullptr; ++i)
        Sleep(20);
    ASSERT_NE(nullptr, GetModuleHandleW(kNicLibraryFileName)) << "the library beside the executable was not loaded";
    HANDLE ack = CreateEventW(nullptr, FALSE, FALSE, kNicStopAckEvent);
    const DWORD start = GetTickCount();
    s_ZDTNICDataCollector.Terminate();
    const DWORD took = GetTickCount() - start;
    // Unless a library of a test beside this one acknowledged, both bounds ran out.
    EXPECT_LT(took, 8000u) << "below the 10 s the acknowledgement gets by default";
    EXPECT_GE(took, 250u) << "the loader thread was not given its time";
    CloseHandle(ack);
}

} // namespace
