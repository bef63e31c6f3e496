#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include <QCoreApplication>

#include "app/gui/GuiDispatcher.h"
#include "support/Exception.h"
#include "tests/app/gui/GuiTestSupport.h"

namespace lumo::gui {
namespace {

using testing::ProcessEventsUntil;

TEST(GuiDispatcher, RunsAtOnceOnTheGuiThread) {
    GuiDispatcher dispatcher;
    bool ran = false;
    dispatcher.Invoke([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(GuiDispatcher, RunsAnotherThreadsTaskOnTheGuiThreadAndWaitsForIt) {
    int wrapped = 0;
    GuiDispatcher dispatcher([&](const std::function<void()>& task) {
        ++wrapped;
        task();
    });
    const auto gui = std::this_thread::get_id();
    std::thread::id ranOn;
    int value = 0;
    std::atomic<bool> returned{false};
    int seenAfterReturn = -1;
    std::thread worker([&] {
        dispatcher.Invoke([&] {
            ranOn = std::this_thread::get_id();
            value = 42;
        });
        seenAfterReturn = value;  // the task is complete when Invoke returns
        returned = true;
    });
    EXPECT_TRUE(ProcessEventsUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, gui);
    EXPECT_EQ(seenAfterReturn, 42);
    EXPECT_EQ(wrapped, 1);
}

TEST(GuiDispatcher, PassesATasksErrorBackToTheCaller) {
    GuiDispatcher dispatcher;
    std::atomic<bool> returned{false};
    std::string caught;
    std::thread worker([&] {
        try {
            dispatcher.Invoke([] { throw Exception(ErrorClass::EDicomConnectionError, "gone"); });
        } catch (const Exception& e) {
            caught = e.ClassName() + ":" + e.Message();
        }
        returned = true;
    });
    EXPECT_TRUE(ProcessEventsUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(caught, "EDicomConnectionError:gone");
}

TEST(GuiDispatcher, CloseReleasesAWaitingCallerAndRefusesLaterOnes) {
    GuiDispatcher dispatcher;
    std::atomic<bool> returned{false};
    std::atomic<bool> ran{false};
    std::string caught;
    std::thread worker([&] {
        try {
            dispatcher.Invoke([&] { ran = true; });
        } catch (const Exception& e) {
            caught = e.ClassName();
        }
        returned = true;
    });
    // No event is processed here, so the posted call cannot run.
    for (int i = 0; i < 1'000'000 && dispatcher.Waiting() == 0; ++i) std::this_thread::yield();
    EXPECT_EQ(dispatcher.Waiting(), 1);
    dispatcher.Close();
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_TRUE(returned.load());
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(caught, "EAbort");

    std::string later;
    std::thread second([&] {
        try {
            dispatcher.Invoke([] {});
        } catch (const Exception& e) {
            later = e.ClassName();
        }
    });
    second.join();
    EXPECT_EQ(later, "EAbort");
}

}  // namespace
}  // namespace lumo::gui
