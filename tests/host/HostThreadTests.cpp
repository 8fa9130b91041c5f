#include "../support/ConsoleProcess.h"
#include "HostHelpers.h"

#include "../support/ExpectedIdentity.h"

#include <gtest/gtest.h>

#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/gui/iplugview.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivsthostapplication.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>
#include <pluginterfaces/vst2.x/aeffectx.h>

#include <atomic>
#include <mutex>
#include <poll.h>
#include <thread>

using namespace host_helpers;
using namespace Steinberg;

// The threads on which the plug-ins tell a host of the console's moves. Hosts own two threads
// that a plug-in may call: the UI thread, which a VST3 host serves through the run loop it
// offers (with its context, or with a view's frame) and a VST2 host through its editor's idle
// calls, and the audio thread that runs process calls. These host doubles record the thread of
// every call a plug-in makes into them while the console's fader is touched, moved and released
// and its CUT key pressed, with and without a run loop, and fail on any call from elsewhere,
// such as a message thread of the plug-in's own. The program runs under the sequencer's router,
// beside the console process.

namespace
{
    constexpr auto settings = R"(<QUILLMERESETTINGS midiInName="Tarn16 Automation" midiOutName="Tarn16 Automation" fader="0.25" cut="0" channel="3" channelName="Kick" deviceName="Tarn16"/>)";

    /** Which thread made a call into the host. */
    enum class Caller
    {
        uiThread,
        audioThread,
        other
    };

    const char* describe (Caller caller)
    {
        return caller == Caller::uiThread ? "UI" : caller == Caller::audioThread ? "audio"
                                                                                 : "another thread";
    }

    /** What a plug-in told the host: an edit's begin, value or end, or a value among a process
        call's output parameter changes, with the thread it came on.
    */
    struct HostCall
    {
        juce::String what;
        int parameter = -1; // 0 the level, 1 the cut
        double value = 0.0;
        Caller caller = Caller::other;
    };

    /** The host's record of calls, shared by the threads that receive them. */
    class CallLog final
    {
    public:
        void setUiThread (std::thread::id id) { uiThread = id; }
        void setAudioThread (std::thread::id id) { audioThread = id; }

        void add (const juce::String& what, int parameter, double value)
        {
            const auto self = std::this_thread::get_id();
            const auto caller = self == uiThread ? Caller::uiThread : self == audioThread.load() ? Caller::audioThread
                                                                                                 : Caller::other;
            const std::lock_guard<std::mutex> lock (callsLock);
            calls.push_back ({ what, parameter, value, caller });
        }

        std::vector<HostCall> getCalls() const
        {
            const std::lock_guard<std::mutex> lock (callsLock);
            return calls;
        }

        /** The last value the host heard for the parameter, by any call; -1 if none. */
        double lastValue (int parameter) const
        {
            double value = -1.0;

            for (const auto& call : getCalls())
                if (call.parameter == parameter && (call.what == "performEdit" || call.what == "output" || call.what == "automate"))
                    value = call.value;

            return value;
        }

        juce::String describeAll() const
        {
            juce::StringArray lines;

            for (const auto& call : getCalls())
                lines.add (call.what + " " + juce::String (call.parameter) + " " + juce::String (call.value, 4) + " on " + describe (call.caller));

            return lines.joinIntoString ("\n");
        }

    private:
        std::thread::id uiThread;
        std::atomic<std::thread::id> audioThread {};
        mutable std::mutex callsLock;
        std::vector<HostCall> calls;
    };

    int parameterIndexOf (Vst::ParamID id)
    {
        return id == expected_identity::vst3::levelParameterId ? 0 : id == expected_identity::vst3::cutParameterId ? 1
                                                                                                                   : -1;
    }

    /** Runs a callable every 64 samples' time at 48 kHz on a thread of its own, as a host's audio
        thread, until destroyed.
    */
    class AudioThread final
    {
    public:
        AudioThread (CallLog& log, std::function<void()> processToRun)
            : process (std::move (processToRun))
        {
            thread = std::thread ([this, &log]
                                  {
                log.setAudioThread (std::this_thread::get_id());

                while (! stopping.load())
                {
                    process();
                    std::this_thread::sleep_for (std::chrono::microseconds (1333));
                } });
        }

        ~AudioThread()
        {
            stopping = true;
            thread.join();
        }

    private:
        std::function<void()> process;
        std::atomic<bool> stopping { false };
        std::thread thread;
    };

    /** Plays a hand at the desk on zone 2: a touch, a move to the middle, a release, then a
        press of CUT.
    */
    void moveTheFaderAndPressCut (ConsoleProcess& console)
    {
        for (const auto* command : { "touch 2", "move 2 8192", "release 2", "press-cut 2", "release-cut 2" })
            EXPECT_TRUE (console.run (command).isEmpty()) << command;
    }

    //==============================================================================
    /** The VST3 host's context, its run loop (offered or not) and its component handler. The UI
        thread is the test's: it serves the run loop whenever the test waits.
    */
    class Vst3HostDouble final : public Vst::IHostApplication
        , public Linux::IRunLoop
        , public Vst::IComponentHandler
    {
    public:
        Vst3HostDouble (CallLog& logToUse, bool offersRunLoop)
            : log (logToUse)
            , runLoopOffered (offersRunLoop)
        {
        }

        // IHostApplication
        tresult PLUGIN_API getName (Vst::String128 name) override
        {
            const char text[] = "Quillmere thread test host";

            for (size_t i = 0; i < sizeof (text); ++i)
                name[i] = (Vst::TChar) text[i];

            return kResultOk;
        }

        tresult PLUGIN_API createInstance (TUID, TUID, void** object) override
        {
            *object = nullptr;
            return kNotImplemented;
        }

        tresult PLUGIN_API queryInterface (const TUID iid, void** object) override
        {
            if (FUnknownPrivate::iidEqual (iid, FUnknown::iid) || FUnknownPrivate::iidEqual (iid, Vst::IHostApplication::iid))
                *object = static_cast<Vst::IHostApplication*> (this);
            else if (runLoopOffered && FUnknownPrivate::iidEqual (iid, Linux::IRunLoop::iid))
                *object = static_cast<Linux::IRunLoop*> (this);
            else if (FUnknownPrivate::iidEqual (iid, Vst::IComponentHandler::iid))
                *object = static_cast<Vst::IComponentHandler*> (this);
            else
            {
                *object = nullptr;
                return kNoInterface;
            }

            return kResultOk;
        }

        uint32 PLUGIN_API addRef() override { return 1; }
        uint32 PLUGIN_API release() override { return 1; }

        // IRunLoop: JUCE registers the file descriptors of its message queue.
        tresult PLUGIN_API registerEventHandler (Linux::IEventHandler* handler, Linux::FileDescriptor fd) override
        {
            log.add ("registerEventHandler", -1, fd);
            handlers.push_back ({ handler, fd });
            return kResultOk;
        }

        tresult PLUGIN_API unregisterEventHandler (Linux::IEventHandler* handler) override
        {
            log.add ("unregisterEventHandler", -1, 0);
            handlers.erase (std::remove_if (handlers.begin(), handlers.end(), [handler] (const auto& h)
                                            { return h.first == handler; }),
                            handlers.end());
            return kResultOk;
        }

        tresult PLUGIN_API registerTimer (Linux::ITimerHandler*, Linux::TimerInterval) override { return kNotImplemented; }
        tresult PLUGIN_API unregisterTimer (Linux::ITimerHandler*) override { return kNotImplemented; }

        // IComponentHandler
        tresult PLUGIN_API beginEdit (Vst::ParamID id) override
        {
            log.add ("beginEdit", parameterIndexOf (id), 0.0);
            return kResultOk;
        }

        tresult PLUGIN_API performEdit (Vst::ParamID id, Vst::ParamValue value) override
        {
            log.add ("performEdit", parameterIndexOf (id), value);
            return kResultOk;
        }

        tresult PLUGIN_API endEdit (Vst::ParamID id) override
        {
            log.add ("endEdit", parameterIndexOf (id), 0.0);
            return kResultOk;
        }

        tresult PLUGIN_API restartComponent (int32 flags) override
        {
            log.add ("restartComponent", -1, flags);
            return kResultOk;
        }

        /** The UI thread: serves the run loop for the given time, as a host's event loop does. */
        void serve (int milliseconds)
        {
            const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) milliseconds;

            do
            {
                std::vector<pollfd> fds;

                for (const auto& h : handlers)
                    fds.push_back ({ h.second, POLLIN, 0 });

                if (fds.empty())
                {
                    std::this_thread::sleep_for (std::chrono::milliseconds (2));
                    continue;
                }

                if (::poll (fds.data(), (nfds_t) fds.size(), 2) <= 0)
                    continue;

                const auto ready = handlers;

                for (size_t i = 0; i < fds.size(); ++i)
                    if ((fds[i].revents & POLLIN) != 0)
                        ready[i].first->onFDIsSet (ready[i].second);
            } while (juce::Time::getMillisecondCounter() < end);
        }

        bool hasHandlers() const { return ! handlers.empty(); }

    private:
        CallLog& log;
        const bool runLoopOffered;
        std::vector<std::pair<Linux::IEventHandler*, Linux::FileDescriptor>> handlers;
    };

    /** A process call's output parameter changes, recorded as the host reads them. */
    class OutputChanges final : public Vst::IParameterChanges
    {
    public:
        explicit OutputChanges (CallLog& logToUse)
            : log (logToUse)
        {
        }

        int32 PLUGIN_API getParameterCount() override { return 0; }
        Vst::IParamValueQueue* PLUGIN_API getParameterData (int32) override { return nullptr; }

        Vst::IParamValueQueue* PLUGIN_API addParameterData (const Vst::ParamID& id, int32& index) override
        {
            index = 0;
            queue.id = id;
            return &queue;
        }

        tresult PLUGIN_API queryInterface (const TUID, void** object) override
        {
            *object = nullptr;
            return kNoInterface;
        }

        uint32 PLUGIN_API addRef() override { return 1; }
        uint32 PLUGIN_API release() override { return 1; }

    private:
        struct Queue final : public Vst::IParamValueQueue
        {
            explicit Queue (CallLog& l)
                : log (l)
            {
            }

            Vst::ParamID PLUGIN_API getParameterId() override { return id; }
            int32 PLUGIN_API getPointCount() override { return 0; }
            tresult PLUGIN_API getPoint (int32, int32&, Vst::ParamValue&) override { return kResultFalse; }

            tresult PLUGIN_API addPoint (int32, Vst::ParamValue value, int32& index) override
            {
                index = 0;
                log.add ("output", parameterIndexOf (id), value);
                return kResultOk;
            }

            tresult PLUGIN_API queryInterface (const TUID, void** object) override
            {
                *object = nullptr;
                return kNoInterface;
            }

            uint32 PLUGIN_API addRef() override { return 1; }
            uint32 PLUGIN_API release() override { return 1; }

            CallLog& log;
            Vst::ParamID id = 0;
        };

        CallLog& log;
        Queue queue { log };
    };

    /** A stream over bytes in memory, from which the component reads a state. */
    class ReadStream final : public IBStream
    {
    public:
        explicit ReadStream (const juce::MemoryBlock& content)
            : bytes (content)
        {
        }

        tresult PLUGIN_API read (void* buffer, int32 numBytes, int32* numBytesRead) override
        {
            const auto count = (size_t) juce::jlimit (0, (int) (bytes.getSize() - position), (int) numBytes);
            std::memcpy (buffer, static_cast<const char*> (bytes.getData()) + position, count);
            position += count;

            if (numBytesRead != nullptr)
                *numBytesRead = (int32) count;

            return kResultOk;
        }

        tresult PLUGIN_API write (void*, int32, int32*) override { return kResultFalse; }

        tresult PLUGIN_API seek (int64 offset, int32 mode, int64* result) override
        {
            const auto base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? (int64) position
                                                                          : (int64) bytes.getSize();
            position = (size_t) juce::jlimit ((int64) 0, (int64) bytes.getSize(), base + offset);

            if (result != nullptr)
                *result = (int64) position;

            return kResultOk;
        }

        tresult PLUGIN_API tell (int64* result) override
        {
            *result = (int64) position;
            return kResultOk;
        }

        tresult PLUGIN_API queryInterface (const TUID, void** object) override
        {
            *object = nullptr;
            return kNoInterface;
        }

        uint32 PLUGIN_API addRef() override { return 1; }
        uint32 PLUGIN_API release() override { return 1; }

    private:
        juce::MemoryBlock bytes;
        size_t position = 0;
    };

    /** The VST3 module entered, its factory given the host's context, and one instance made as
        a host makes it: component and controller initialised and connected, the handler set,
        stereo buses active, processing. Test thread only.
    */
    class Vst3Instance final
    {
    public:
        explicit Vst3Instance (Vst3HostDouble& hostToUse)
            : host (hostToUse)
        {
            using ModuleEntry = bool (*) (void*);
            using GetFactory = IPluginFactory* (*) ();

            if (! module.open (getVst3Module().getFullPathName()))
                return;

            const auto entry = reinterpret_cast<ModuleEntry> (module.getFunction ("ModuleEntry"));
            const auto getFactory = reinterpret_cast<GetFactory> (module.getFunction ("GetPluginFactory"));

            if (entry == nullptr || getFactory == nullptr || ! entry (module.getNativeHandle()))
                return;

            entered = true;
            factory = getFactory();

            if (factory == nullptr)
                return;

            IPluginFactory3* factory3 = nullptr;

            if (factory->queryInterface (IPluginFactory3::iid, (void**) &factory3) != kResultOk || factory3 == nullptr)
                return;

            factory3->setHostContext (static_cast<Vst::IHostApplication*> (&host));
            factory3->release();

            const auto componentId = getExpectedComponentClassId();

            if (factory->createInstance (reinterpret_cast<FIDString> (componentId.data()), Vst::IComponent::iid, (void**) &component) != kResultOk
                || component->initialize (static_cast<Vst::IHostApplication*> (&host)) != kResultOk
                || component->queryInterface (Vst::IAudioProcessor::iid, (void**) &processor) != kResultOk)
                return;

            TUID controllerId {};

            if (component->getControllerClassId (controllerId) != kResultOk
                || factory->createInstance (reinterpret_cast<FIDString> (controllerId), Vst::IEditController::iid, (void**) &controller) != kResultOk
                || controller->initialize (static_cast<Vst::IHostApplication*> (&host)) != kResultOk
                || component->queryInterface (Vst::IConnectionPoint::iid, (void**) &componentConnection) != kResultOk
                || controller->queryInterface (Vst::IConnectionPoint::iid, (void**) &controllerConnection) != kResultOk
                || componentConnection->connect (controllerConnection) != kResultOk
                || controllerConnection->connect (componentConnection) != kResultOk)
                return;

            controller->setComponentHandler (&host);

            Vst::SpeakerArrangement stereo = Vst::SpeakerArr::kStereo;
            Vst::ProcessSetup setup { Vst::kRealtime, Vst::kSample32, 64, 48000.0 };

            if (processor->setBusArrangements (&stereo, 1, &stereo, 1) != kResultTrue
                || component->activateBus (Vst::kAudio, Vst::kInput, 0, true) != kResultOk
                || component->activateBus (Vst::kAudio, Vst::kOutput, 0, true) != kResultOk
                || processor->setupProcessing (setup) != kResultOk
                || component->setActive (true) != kResultOk)
                return;

            processor->setProcessing (true);
            ready = true;
        }

        ~Vst3Instance()
        {
            if (processor != nullptr)
            {
                processor->setProcessing (false);
                component->setActive (false);
            }

            if (componentConnection != nullptr && controllerConnection != nullptr)
            {
                componentConnection->disconnect (controllerConnection);
                controllerConnection->disconnect (componentConnection);
            }

            for (auto* connection : { componentConnection, controllerConnection })
                if (connection != nullptr)
                    connection->release();

            if (controller != nullptr)
            {
                controller->setComponentHandler (nullptr);
                controller->terminate();
                controller->release();
            }

            if (processor != nullptr)
                processor->release();

            if (component != nullptr)
            {
                component->terminate();
                component->release();
            }

            if (factory != nullptr)
                factory->release();

            if (entered)
                if (const auto exit = reinterpret_cast<bool (*)()> (module.getFunction ("ModuleExit")))
                    exit();
        }

        bool isReady() const { return ready; }

        bool restore (const juce::MemoryBlock& chunk)
        {
            ReadStream stream (chunk);
            return component->setState (&stream) == kResultOk;
        }

        /** Audio thread: one block of 64 samples, its output parameter changes recorded. */
        void process (OutputChanges& changes)
        {
            float left[64] {}, right[64] {}, outLeft[64] {}, outRight[64] {};
            float* inputs[] { left, right };
            float* outputs[] { outLeft, outRight };

            Vst::AudioBusBuffers inBus, outBus;
            inBus.numChannels = 2;
            inBus.channelBuffers32 = inputs;
            outBus.numChannels = 2;
            outBus.channelBuffers32 = outputs;

            Vst::ProcessData data;
            data.processMode = Vst::kRealtime;
            data.symbolicSampleSize = Vst::kSample32;
            data.numSamples = 64;
            data.numInputs = 1;
            data.numOutputs = 1;
            data.inputs = &inBus;
            data.outputs = &outBus;
            data.outputParameterChanges = &changes;
            processor->process (data);
        }

    private:
        Vst3HostDouble& host;
        juce::DynamicLibrary module;
        bool entered = false, ready = false;
        IPluginFactory* factory = nullptr;
        Vst::IComponent* component = nullptr;
        Vst::IAudioProcessor* processor = nullptr;
        Vst::IEditController* controller = nullptr;
        Vst::IConnectionPoint* componentConnection = nullptr;
        Vst::IConnectionPoint* controllerConnection = nullptr;
    };

    /** Whether the console's strip has been told its level, cut and name. */
    bool stripIsLinked (ConsoleProcess& console)
    {
        const auto line = console.run ("strip 2").joinIntoString (" ");
        return ! line.contains ("levels=0") && ! line.contains ("mutes=0") && ! line.contains ("names=0");
    }
}

class Vst3HostThreadTest : public testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        log.setUiThread (std::this_thread::get_id());
        ASSERT_TRUE (console.start()) << console.getError().toStdString();
    }

    /** The UI thread waits as a host does: serving its run loop, if it offers one. */
    bool serveUntil (const std::function<bool()>& condition, int timeoutMs = 10000)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() > end)
                return false;

            host.serve (20);
        }

        return true;
    }

    CallLog log;
    Vst3HostDouble host { log, GetParam() };
    ConsoleProcess console;
};

// With a run loop in the host's context the plug-in's message loop runs on the host's UI thread
// from the start, no window open: the desk's touch, value and release reach the host there, as
// an edit inside a gesture, which is how Touch and Latch record. Without one, the plug-in's
// message loop runs on a thread of its own, which must never call the host: the values reach it
// as output parameter changes of process calls, on the audio thread, with no gesture.
TEST_P (Vst3HostThreadTest, TheDesksMovesReachTheHostOnlyOnThreadsTheHostOwns)
{
    const auto offersRunLoop = GetParam();

    {
        Vst3Instance instance (host);
        ASSERT_TRUE (instance.isReady());
        EXPECT_EQ (host.hasHandlers(), offersRunLoop);

        ASSERT_TRUE (instance.restore (makeSettingsChunk (settings)));

        OutputChanges changes (log);
        AudioThread audio (log, [&]
                           { instance.process (changes); });

        ASSERT_TRUE (serveUntil ([this]
                                 { return stripIsLinked (console); }));

        moveTheFaderAndPressCut (console);

        // The fader's position 8192 is 0.500008 of the way up.
        EXPECT_TRUE (serveUntil ([this]
                                 { return std::abs (log.lastValue (0) - 0.500008) < 1.0e-5 && log.lastValue (1) == 1.0; }))
            << log.describeAll();

        // The fader's and the CUT key's gestures are told their ends too.
        if (offersRunLoop)
            serveUntil ([this]
                        {
                            const auto calls = log.describeAll();
                            return calls.contains ("endEdit 0") && calls.contains ("endEdit 1"); });
    }

    const auto calls = log.getCalls();
    const auto count = [&calls] (const char* what, Caller caller)
    { return std::count_if (calls.begin(), calls.end(), [&] (const HostCall& c)
                            { return c.what == what && c.caller == caller; }); };

    for (const auto& call : calls)
        EXPECT_NE (call.caller, Caller::other) << call.what << " " << call.parameter << " came on a thread the host neither made nor serves\n"
                                               << log.describeAll();

    if (offersRunLoop)
    {
        EXPECT_GE (count ("beginEdit", Caller::uiThread), 1) << log.describeAll();
        EXPECT_GE (count ("performEdit", Caller::uiThread), 2) << log.describeAll();
        EXPECT_EQ (count ("endEdit", Caller::uiThread), count ("beginEdit", Caller::uiThread)) << log.describeAll();
    }
    else
    {
        EXPECT_EQ (count ("beginEdit", Caller::uiThread) + count ("endEdit", Caller::uiThread), 0) << log.describeAll();
        EXPECT_GE (count ("output", Caller::audioThread), 2) << log.describeAll();
    }
}

INSTANTIATE_TEST_SUITE_P (HostContext, Vst3HostThreadTest, testing::Bool(), [] (const auto& testInfo)
                          { return std::string (testInfo.param ? "WithRunLoop" : "WithoutRunLoop"); });

//==============================================================================
namespace
{
    CallLog* vst2Log = nullptr;

    VstIntPtr vst2HostCallback (AEffect*, int opcode, int index, VstIntPtr, void*, float value)
    {
        switch (opcode)
        {
            case audioMasterVersion:
                return kVstVersion;
            case audioMasterAutomate:
                vst2Log->add ("automate", index, value);
                return 0;
            case audioMasterBeginEdit:
                vst2Log->add ("beginEdit", index, 0.0);
                return 0;
            case audioMasterEndEdit:
                vst2Log->add ("endEdit", index, 0.0);
                return 0;
            default:
                vst2Log->add ("opcode " + juce::String (opcode), -1, 0.0);
                return 0;
        }
    }
}

// Without its window open a VST2 host drives no message loop of the plug-in's: the desk's values
// reach it from the audio thread, as automation, and nothing calls it from elsewhere.
TEST (Vst2HostThreadTest, TheDesksMovesReachTheHostOnlyOnThreadsTheHostOwns)
{
    CallLog log;
    log.setUiThread (std::this_thread::get_id());
    vst2Log = &log;

    ConsoleProcess console;
    ASSERT_TRUE (console.start()) << console.getError().toStdString();

    {
        juce::DynamicLibrary module;
        ASSERT_TRUE (module.open (getVst2Module().getFullPathName()));

        using PluginMain = AEffect* (*) (audioMasterCallback);
        const auto pluginMain = reinterpret_cast<PluginMain> (module.getFunction ("VSTPluginMain"));
        ASSERT_NE (pluginMain, nullptr);

        auto* effect = pluginMain (vst2HostCallback);
        ASSERT_NE (effect, nullptr);

        const auto dispatch = [effect] (int opcode, int index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f)
        { return effect->dispatcher (effect, opcode, index, value, ptr, opt); };

        dispatch (effOpen);
        dispatch (effSetSampleRate, 0, 0, nullptr, 48000.0f);
        dispatch (effSetBlockSize, 0, 64);
        dispatch (effMainsChanged, 0, 1);

        auto chunk = makeSettingsChunk (settings);
        dispatch (effSetChunk, 0, (VstIntPtr) chunk.getSize(), chunk.getData());

        {
            AudioThread audio (log, [effect]
                               {
                float left[64] {}, right[64] {}, outLeft[64] {}, outRight[64] {};
                float* inputs[] { left, right };
                float* outputs[] { outLeft, outRight };
                effect->processReplacing (effect, inputs, outputs, 64); });

            const auto waitFor = [] (const std::function<bool()>& condition)
            {
                for (int i = 0; i < 500 && ! condition(); ++i)
                    std::this_thread::sleep_for (std::chrono::milliseconds (20));

                return condition();
            };

            ASSERT_TRUE (waitFor ([&console]
                                  { return stripIsLinked (console); }));

            moveTheFaderAndPressCut (console);

            EXPECT_TRUE (waitFor ([&log]
                                  { return std::abs (log.lastValue (0) - 0.500008) < 1.0e-5 && log.lastValue (1) == 1.0; }))
                << log.describeAll();
        }

        dispatch (effMainsChanged, 0, 0);
        dispatch (effClose);
    }

    vst2Log = nullptr;

    for (const auto& call : log.getCalls())
    {
        EXPECT_NE (call.caller, Caller::other) << call.what << " " << call.parameter << " came on a thread the host neither made nor serves\n"
                                               << log.describeAll();

        if (call.what == "beginEdit" || call.what == "endEdit")
            ADD_FAILURE() << "a gesture was told with no thread of the host's to tell it on\n"
                          << log.describeAll();
    }
}
