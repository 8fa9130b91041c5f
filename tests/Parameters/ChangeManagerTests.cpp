#include "QuillmereAudioProcessor.h"

#include "../support/HostRecorder.h"
#include "../support/TestHelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace
{
    using Strings = std::vector<std::string>;

    struct ChangeManagerTest : public ::testing::Test
    {
        QuillmereAudioProcessor processor;
        HostRecorder host { processor };
        AudioProcessorParameterWithChangeManager::ChangeManager& manager = *processor.faderParameter->changeManager;
        int a = 0, b = 0, stranger = 0;
    };
}

TEST_F (ChangeManagerTest, OverlappingSourcesMakeOneHostGesture)
{
    manager.addChangeSource (&a);
    manager.addChangeSource (&b);

    manager.beginChange (&a);
    manager.beginChange (&b);
    manager.beginChange (&a); // already active: nothing new
    manager.endChange (&a);
    EXPECT_EQ (host.describe(), (Strings { "begin 0" }));
    EXPECT_TRUE (manager.isAnyActive());

    manager.endChange (&b);
    EXPECT_EQ (host.describe(), (Strings { "begin 0", "end 0" }));
    EXPECT_FALSE (manager.isAnyActive());
}

TEST_F (ChangeManagerTest, UnknownSourcesAndUnmatchedEndsReportNothing)
{
    manager.addChangeSource (&a);

    manager.beginChange (&stranger);
    manager.endChange (&stranger);
    manager.endChange (&a);
    manager.removeChangeSource (&stranger);

    EXPECT_TRUE (host.describe().empty());
    EXPECT_FALSE (manager.isAnyActive());
}

TEST_F (ChangeManagerTest, RemovingTheLastActiveSourceEndsTheHostGesture)
{
    manager.addChangeSource (&a);
    manager.addChangeSource (&b);

    manager.beginChange (&a);
    manager.removeChangeSource (&a); // e.g. the device replaced while the console's fader is touched

    EXPECT_EQ (host.describe(), (Strings { "begin 0", "end 0" }));
    EXPECT_FALSE (manager.isAnyActive());

    // The manager still works for the remaining source.
    manager.beginChange (&b);
    manager.endChange (&b);
    EXPECT_EQ (host.describe(), (Strings { "begin 0", "end 0", "begin 0", "end 0" }));
}

TEST_F (ChangeManagerTest, RemovingAnActiveSourceKeepsTheGestureWhileAnotherIsActive)
{
    manager.addChangeSource (&a);
    manager.addChangeSource (&b);

    manager.beginChange (&a);
    manager.beginChange (&b);
    manager.removeChangeSource (&a);
    EXPECT_EQ (host.describe(), (Strings { "begin 0" }));

    manager.endChange (&b);
    EXPECT_EQ (host.describe(), (Strings { "begin 0", "end 0" }));

    // Removing an inactive source reports nothing.
    manager.removeChangeSource (&b);
    EXPECT_EQ (host.describe().size(), 2u);
}

TEST_F (ChangeManagerTest, EachParameterReportsItsOwnIndex)
{
    auto& muteManager = *processor.muteParameter->changeManager;
    muteManager.addChangeSource (&a);
    muteManager.beginChange (&a);
    muteManager.endChange (&a);

    EXPECT_EQ (host.describe(), (Strings { "begin 1", "end 1" }));
}

namespace
{
    /** A host whose gesture callback runs a function, as a host taking its own time does. */
    struct CallbackHost final : public juce::AudioProcessorListener
    {
        void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override { onValue(); }
        void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
        void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int) override { onBegin(); }
        void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int) override { onEnd(); }

        std::function<void()> onValue = [] {}, onBegin = [] {}, onEnd = [] {};
    };
}

// A host may wait in its gesture callback for a thread of its own that restores the state,
// which replaces the device and so registers a source. The manager holds no lock while the
// host listens, so that thread gets through.
TEST_F (ChangeManagerTest, TheHostIsToldWithNoLockOfTheManagerHeld)
{
    CallbackHost waitingHost;
    processor.addListener (&waitingHost);
    manager.addChangeSource (&a);

    std::thread restore;
    std::atomic<bool> registered { false };
    bool registeredWhileHostListened = false;

    waitingHost.onBegin = [&]
    {
        restore = std::thread ([&]
                               {
            manager.addChangeSource (&b);
            registered = true; });

        const auto deadline = juce::Time::getMillisecondCounter() + 5000;

        while (! registered && juce::Time::getMillisecondCounter() < deadline)
            juce::Thread::sleep (1);

        registeredWhileHostListened = registered.load();
    };

    manager.beginChange (&a);
    restore.join();
    processor.removeListener (&waitingHost);

    EXPECT_TRUE (registeredWhileHostListened);
    EXPECT_EQ (host.describe(), (Strings { "begin 0" }));
    manager.endChange (&a); // no parameter is destroyed in the middle of a gesture
}

// A host that holds its project lock while it restores state on a thread of its own, and takes
// that lock in its callbacks: while the message thread tells it of a fader move (JUCE holds the
// parameter's listener lock meanwhile), the restore replaces a device whose fader is touched.
// The host must hear that gesture end on the message thread, after the move, never from the
// restoring thread, which would wait for JUCE's lock while the message thread waits for the
// host's.
TEST_F (ChangeManagerTest, AGestureEndedOnAnotherThreadIsToldOnTheMessageThread)
{
    CallbackHost lockingHost;
    processor.addListener (&lockingHost);
    manager.addChangeSource (&a);
    manager.beginChange (&a);

    std::thread restore;
    std::atomic<bool> removed { false };
    bool removedWhileHostListened = false;
    std::thread::id endHeardOn;

    lockingHost.onValue = [&]
    {
        restore = std::thread ([&]
                               {
            manager.removeChangeSource (&a);
            removed = true; });

        const auto deadline = juce::Time::getMillisecondCounter() + 2000;

        while (! removed && juce::Time::getMillisecondCounter() < deadline)
            juce::Thread::sleep (1);

        removedWhileHostListened = removed.load();
    };
    lockingHost.onEnd = [&]
    { endHeardOn = std::this_thread::get_id(); };

    processor.faderParameter->setValueNotifyingHost (0.25f);
    restore.join();
    lockingHost.onValue = [] {};

    EXPECT_TRUE (removedWhileHostListened);
    EXPECT_FALSE (manager.isAnyActive());
    EXPECT_EQ (host.describe(), (Strings { "begin 0", "value 0 0.25" }));

    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    processor.removeListener (&lockingHost);

    EXPECT_EQ (host.describe(), (Strings { "begin 0", "value 0 0.25", "end 0" }));
    EXPECT_EQ (endHeardOn, std::this_thread::get_id());
}

// A host may close an instance on a thread of its own, right after a source on that thread
// stopped. The host hears the gesture end before the instance goes, and the report that was
// left for the message thread finds the instance gone and does nothing.
TEST (ChangeManager, AnInstanceClosedOnAnotherThreadEndsTheGestureBeforeItGoes)
{
    auto instance = std::make_unique<QuillmereAudioProcessor>();
    CallbackHost host;
    std::vector<std::string> heard;
    host.onBegin = [&]
    { heard.push_back ("begin"); };
    host.onEnd = [&]
    { heard.push_back ("end"); };
    instance->addListener (&host);

    int source = 0;
    auto& manager = *instance->faderParameter->changeManager;
    manager.addChangeSource (&source);
    manager.beginChange (&source);

    std::thread closing ([&]
                         {
        manager.removeChangeSource (&source);
        instance.reset(); });
    closing.join();

    EXPECT_EQ (heard, (Strings { "begin", "end" }));
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    EXPECT_EQ (heard.size(), 2u);
}

// A host that holds a lock of its own while it deletes an instance on its state thread, and
// takes that lock in its gesture callbacks: the message thread may be inside such a callback,
// telling the end of a gesture that the state thread left it, when the state thread deletes the
// instance. The deletion waits for that report a bounded time, not for ever; once the host lets
// the report go, what it touches is still there (AddressSanitizer checks that).
TEST (ChangeManager, AnInstanceDeletedWhileTheHostHoldsAReportInItsCallbackGoesWithinTheBound)
{
    if (testing_helpers::runsUnderThreadSanitizer())
        GTEST_SKIP() << "JUCE destroys the parameter's listener lock, which the stuck report holds; glibc leaves a "
                        "locked mutex as it is, ThreadSanitizer reports it";

    auto instance = std::make_unique<QuillmereAudioProcessor>();
    std::mutex hostLock;
    std::atomic<bool> endEntered { false };
    CallbackHost host;
    host.onEnd = [&]
    {
        endEntered = true;
        const std::lock_guard<std::mutex> lock (hostLock);
    };
    instance->addListener (&host);

    int source = 0;
    auto& manager = *instance->faderParameter->changeManager;
    manager.addChangeSource (&source);
    manager.beginChange (&source);

    std::atomic<double> deletionMs { -1.0 };
    std::thread stateThread ([&]
                             {
        const std::lock_guard<std::mutex> lock (hostLock);
        manager.removeChangeSource (&source);

        for (int i = 0; i < 5000 && ! endEntered; ++i)
            juce::Thread::sleep (1);

        const auto start = juce::Time::getMillisecondCounterHiRes();
        instance.reset();
        deletionMs = juce::Time::getMillisecondCounterHiRes() - start; });

    // The message thread delivers the end and waits in the host until the state thread lets go.
    const auto deadline = juce::Time::getMillisecondCounter() + 10000;

    while (deletionMs < 0.0 && juce::Time::getMillisecondCounter() < deadline)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (10);

    stateThread.join();
    juce::MessageManager::getInstance()->runDispatchLoopUntil (50);

    EXPECT_TRUE (endEntered);
    EXPECT_GE (deletionMs.load(), (double) AudioProcessorParameterWithChangeManager::ChangeManager::reportWaitMs - 50.0);
    EXPECT_LT (deletionMs.load(), 2000.0);
}
