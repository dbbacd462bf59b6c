#include "worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

struct Probe {
    std::atomic<int> runs{0};
    std::atomic<int> finished{0};
};

// Loops until asked to stop, pausing on the stop event as every worker does.
unsigned __stdcall PoliteProcedure(void *record)
{
    auto *self = static_cast<CWorkerThread *>(record);
    auto *probe = static_cast<Probe *>(self->m_Context);
    ++probe->runs;
    while (!self->StopRequested())
        self->Pause(10000);
    ++probe->finished;
    return 0;
}

// Never looks at its stop event.
unsigned __stdcall StubbornProcedure(void *record)
{
    auto *probe = static_cast<Probe *>(static_cast<CWorkerThread *>(record)->m_Context);
    ++probe->runs;
    for (;;)
        Sleep(1000);
}

class WorkerThreadTest : public ::testing::Test {
protected:
    void SetUp() override { saved_ = CWorkerThread::StopWaitMs.exchange(500); }
    void TearDown() override { CWorkerThread::StopWaitMs = saved_; }
    DWORD saved_ = 0;
};

TEST_F(WorkerThreadTest, StopWithoutStartDoesNothing)
{
    CWorkerThread worker{};
    worker.Stop();
    EXPECT_EQ(worker.m_ThreadHandle, nullptr);
    EXPECT_EQ(worker.m_StopEvent, nullptr);
}

TEST_F(WorkerThreadTest, StartTwiceRunsOneThreadAndStopEndsItPromptly)
{
    Probe probe;
    CWorkerThread worker{};
    worker.m_Name = L"Polite";
    worker.m_Procedure = PoliteProcedure;
    worker.m_Context = &probe;

    ASSERT_EQ(worker.Start(), 1);
    HANDLE first = worker.m_ThreadHandle;
    EXPECT_EQ(worker.Start(), 1);
    EXPECT_EQ(worker.m_ThreadHandle, first);

    while (probe.runs == 0)
        Sleep(1);
    // A stop that did not end the 10 s pause would take that long, or the stop wait of 20 s.
    CWorkerThread::StopWaitMs = 20000;
    ULONGLONG before = GetTickCount64();
    worker.Stop();
    EXPECT_LT(GetTickCount64() - before, 5000u) << "a stop must end the pause at once";
    EXPECT_EQ(probe.runs, 1);
    EXPECT_EQ(probe.finished, 1);
    EXPECT_EQ(worker.m_ThreadHandle, nullptr);
    EXPECT_EQ(worker.m_StopEvent, nullptr);
}

TEST_F(WorkerThreadTest, ProcedureThatIgnoresStopIsTerminatedAfterTheStopWait)
{
    Probe probe;
    CWorkerThread worker{};
    worker.m_Procedure = StubbornProcedure;
    worker.m_Context = &probe;
    ASSERT_EQ(worker.Start(), 1);
    while (probe.runs == 0)
        Sleep(1);

    HANDLE duplicate = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), worker.m_ThreadHandle, GetCurrentProcess(), &duplicate, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    ULONGLONG before = GetTickCount64();
    worker.Stop();
    ULONGLONG waited = GetTickCount64() - before;
    EXPECT_GE(waited, 450u);
    EXPECT_LT(waited, 5000u);

    DWORD exitCode = 0;
    ASSERT_EQ(WaitForSingleObject(duplicate, 30000), WAIT_OBJECT_0);
    GetExitCodeThread(duplicate, &exitCode);
    EXPECT_EQ(exitCode, 1u);
    CloseHandle(duplicate);
    EXPECT_EQ(worker.m_ThreadHandle, nullptr);
}

TEST_F(WorkerThreadTest, RestartGetsAFreshUnsignalledStopEvent)
{
    Probe probe;
    CWorkerThread worker{};
    worker.m_Procedure = PoliteProcedure;
    worker.m_Context = &probe;
    ASSERT_EQ(worker.Start(), 1);
    worker.Stop();

    ASSERT_EQ(worker.Start(), 1);
    EXPECT_EQ(worker.m_StopFlag.load(), 0);
    ASSERT_NE(worker.m_StopEvent, nullptr);
    EXPECT_EQ(WaitForSingleObject(worker.m_StopEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    while (probe.runs < 2)
        Sleep(1);
    EXPECT_EQ(probe.finished, 1) << "the second run must still be running";
    worker.Stop();
    EXPECT_EQ(probe.finished, 2);
}

TEST(CloseHandleSafe, ClosesOnceAndClearsTheSlot)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    HANDLE slot = event;
    CloseHandleSafe(&slot);
    EXPECT_EQ(slot, nullptr);
    CloseHandleSafe(&slot); // an empty slot is left alone
    CloseHandleSafe(nullptr);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(event, &flags)) << "the handle must have been closed";
}

} // namespace
