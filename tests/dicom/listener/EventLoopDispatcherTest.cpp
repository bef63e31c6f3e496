#include "dicom/listener/EventLoopDispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "support/Exception.h"

namespace lumo::dicom {
namespace {

TEST(EventLoopDispatcher, InvokeRunsOnTheLoopThreadAndWaitsForTheTask) {
    EventLoopDispatcher dispatcher;
    std::thread::id ranOn;
    bool afterInvoke = false;
    std::thread caller([&] {
        dispatcher.Invoke([&] { ranOn = std::this_thread::get_id(); });
        // Invoke returned: the task has run, and its write is visible here.
        afterInvoke = ranOn != std::thread::id();
        dispatcher.Post([] {});  // wakes the loop to see `afterInvoke`
    });
    dispatcher.RunUntil([&] { return afterInvoke; });
    caller.join();
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(afterInvoke);
}

TEST(EventLoopDispatcher, InvokePassesTheTaskExceptionBack) {
    EventLoopDispatcher dispatcher;
    std::atomic<bool> done = false;
    std::string caught;
    std::thread caller([&] {
        try {
            dispatcher.Invoke([] { throw Exception(ErrorClass::EDicomError, "from the task"); });
        } catch (const Exception& e) {
            caught = e.ClassName() + ":" + e.Message();
        }
        done = true;
        dispatcher.Post([] {});
    });
    dispatcher.RunUntil([&] { return done.load(); });
    caller.join();
    EXPECT_EQ(caught, "EDicomError:from the task");
}

TEST(EventLoopDispatcher, InvokeOnTheLoopThreadRunsAtOnce) {
    EventLoopDispatcher dispatcher;
    int depth = 0;
    bool nestedRan = false;
    dispatcher.Post([&] {
        ++depth;
        dispatcher.Invoke([&] { nestedRan = depth == 1; });
    });
    dispatcher.RunUntil([&] { return depth == 1; });
    EXPECT_TRUE(nestedRan);
}

TEST(EventLoopDispatcher, PostedTasksRunInOrderAndAFailingOneDoesNotEndTheLoop) {
    EventLoopDispatcher dispatcher;
    std::string order;
    dispatcher.Post([&] { order += "a"; });
    dispatcher.Post([] { throw std::runtime_error("lost"); });
    dispatcher.Post([&] { order += "b"; });
    EXPECT_TRUE(dispatcher.RunUntil([&] { return order == "ab"; }));
}

TEST(EventLoopDispatcher, StopEndsRunAndRefusesLaterWork) {
    EventLoopDispatcher dispatcher;
    dispatcher.Post([&] { dispatcher.Stop(); });
    dispatcher.Run();  // returns: the task stopped the loop
    EXPECT_TRUE(dispatcher.Stopped());
    EXPECT_FALSE(dispatcher.Post([] {}));
    try {
        dispatcher.Invoke([] {});
        FAIL() << "Invoke on a stopped dispatcher must raise";
    } catch (const Exception& e) {
        EXPECT_EQ(e.ClassName(), "EDicomError");
        EXPECT_EQ(e.Message(), "The event loop has stopped: the task was not run");
    }
}

TEST(EventLoopDispatcher, StopReleasesAWaitingInvokeWithoutRunningIt) {
    EventLoopDispatcher dispatcher;
    std::atomic<bool> ran = false;
    std::string caught;
    std::thread caller([&] {
        try {
            dispatcher.Invoke([&] { ran = true; });
        } catch (const Exception& e) {
            caught = e.ClassName();
        }
    });
    // Nobody runs the loop; the caller must not be stranded by Stop.
    dispatcher.Stop();
    caller.join();
    // Either the Invoke was queued and then abandoned, or it came after Stop.
    EXPECT_FALSE(ran);
    EXPECT_EQ(caught, "EDicomError");
}

}  // namespace
}  // namespace lumo::dicom
