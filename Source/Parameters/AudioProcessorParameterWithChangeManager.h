#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <condition_variable>
#include <memory>
#include <mutex>

/** Common base of the plug-in's parameters: a JUCE parameter that owns a ChangeManager.

    Each parameter carries the identifier under which hosts store it: its index in decimal
    ("0", "1"), which is what hosts have always stored. LV2 cannot use an identifier that
    starts with a digit, so the processor gives LV2 names instead.

    Several sources may change a parameter inside a gesture at overlapping times (the console
    while its fader is touched, the editor while its fader is dragged or its CUT key is held).
    The ChangeManager merges their gestures into one for the host: the host hears a gesture
    begin when the first source starts and end when the last active source stops. The host
    hears gestures on the message thread only (see ChangeManager), and only while the host
    serves that thread (HostMessageThread); until then they wait.
*/
class AudioProcessorParameterWithChangeManager : public juce::AudioProcessorParameterWithID
{
public:
    class ChangeManager
    {
    public:
        explicit ChangeManager (AudioProcessorParameterWithChangeManager& ownerToReport);

        /** Any thread. On another one than the message thread, waits for a report that the
            message thread is making at that moment, so that none reaches a manager that is gone,
            but for reportWaitMs at most: a host may hold a lock of its own while it deletes the
            instance and take the same lock in the callback that report is in. A report still in
            the host then finds what it touches afterwards alive: the manager's state, which it
            shares, and the parameter's memory, which is released when the report is done.
        */
        ~ChangeManager();

        /** How long the destructor waits for a report under way on the message thread. */
        static constexpr int reportWaitMs = 500;

        /** Registers a source, not active. A source registers once. */
        void addChangeSource (void* source);

        /** Unregisters a source. If it was the last active one, the host's gesture is ended,
            so a source that goes away in the middle of a gesture never leaves the host's
            gesture open. Any thread: the console device goes on the thread on which the host
            restores state. Called on another thread than the message thread, the host hears
            the end on the message thread soon after.
        */
        void removeChangeSource (void* source);

        /** Marks the source as changing the parameter; unregistered sources are ignored. */
        void beginChange (void* source);

        /** Marks the source as done; unregistered sources are ignored. */
        void endChange (void* source);

        /** True while a gesture has been reported to the host and not yet ended. */
        bool isAnyActive() const;

        /** Tells the host at once, on the calling thread, of the changes not told yet. The
            message thread's way of telling while the host serves it; on another thread only for
            an instance that goes, on the host's thread that deletes it, as what is left for the
            message thread would then never be told.
        */
        void reportPendingNow();

    private:
        struct SourceState
        {
            void* source = nullptr;
            bool active = false;
        };

        // Everything a report touches once the host has returned, shared by the manager and the
        // reports posted to the message thread, so that it outlives a manager that stopped
        // waiting for a report stuck in the host.
        struct State
        {
            // Guards everything below but the condition variable's own waits. Never held while
            // the host is told: a host may take a lock of its own in its gesture callbacks, which
            // it may hold while it calls the plug-in on another thread.
            std::mutex lock;
            std::condition_variable idle;

            // The parameter the host is told of, null once the manager has gone.
            AudioProcessorParameterWithChangeManager* owner = nullptr;

            juce::Array<SourceState> sources;
            bool anyActive = false;

            // Changes of anyActive not yet told to the host, what the host was told last, and
            // whether a thread is telling it now. The host is told one change at a time and in
            // order. Only the message thread tells it while the instance lives: JUCE holds the
            // parameter's listener lock while the host hears a value or a gesture, so a host
            // that takes a lock of its own in those callbacks, and holds it while it restores
            // state on another thread, would otherwise have its restoring thread wait for JUCE's
            // lock while the message thread waits for the host's.
            int unreportedChanges = 0;
            bool hostActive = false;
            bool reporting = false;

            // A report posted to the message thread is telling the host now.
            bool delivering = false;

            // The parameter's memory, left by its deletion to a report that was still in the
            // host when the manager stopped waiting; the report releases it when it is done.
            void* memoryToRelease = nullptr;
        };

        void setActive (void* source, bool shouldBeActive);
        void reportToHost();
        void postReport();

        static void updateGestureLocked (State&);
        static void reportPending (State&);

        const std::shared_ptr<State> state = std::make_shared<State>();

        friend class AudioProcessorParameterWithChangeManager;

        JUCE_DECLARE_NON_COPYABLE (ChangeManager)
    };

    AudioProcessorParameterWithChangeManager (const juce::String& parameterID, const juce::String& parameterName);
    ~AudioProcessorParameterWithChangeManager() override;

    std::unique_ptr<ChangeManager> changeManager;

    /** Releases a parameter's memory, or leaves it to a report of its change manager that was
        still in the host when the manager went (see ChangeManager's destructor): JUCE's gesture
        calls touch the parameter once the host returns.
    */
    static void operator delete (void* memory, std::size_t size) noexcept;

    /** The global allocation, declared beside the deletion above so that the two match. */
    static void* operator new (std::size_t size);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AudioProcessorParameterWithChangeManager)
};
