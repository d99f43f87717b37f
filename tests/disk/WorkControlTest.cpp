#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "disk/WorkControl.h"

using quenlow::WorkControl;

TEST(WorkControl, PausesAreCountedAndStopEndsAWait) {
    WorkControl c;
    EXPECT_FALSE(c.resume());  // nothing to resume
    c.pause();
    c.pause();
    EXPECT_TRUE(c.resume());
    EXPECT_EQ(c.pauseCount(), 1);  // two pauses need two resumes

    std::atomic<bool> passed{false};
    std::thread worker([&] {
        c.poll();
        passed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(passed.load());  // still held by the remaining pause
    EXPECT_TRUE(c.resume());
    worker.join();
    EXPECT_TRUE(passed.load());

    c.pause();
    std::thread stopped([&] { EXPECT_TRUE(c.poll()); });
    c.requestStop();
    stopped.join();
    c.clearStop();
    EXPECT_FALSE(c.stopRequested());
}
