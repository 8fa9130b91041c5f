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
            message thread is making at that moment, so that none reaches a manager that is gone.
        */
        ~ChangeManager();

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

        void setActive (void* source, bool shouldBeActive);
        void updateGestureLocked();
        void reportToHost();
        void postReport();

        // What a report posted to the message thread reaches the manager through. The post
        // shares it, so it outlives the manager, which detaches from it when it goes.
        struct Handoff
        {
            std::mutex lock;
            std::condition_variable idle;
            ChangeManager* manager = nullptr;
            bool delivering = false;
        };

        AudioProcessorParameterWithChangeManager& owner;
        juce::Array<SourceState> sources;
        bool anyActive = false;

        // Changes of anyActive not yet told to the host, what the host was told last, and
        // whether the message thread is telling it now. The host is told outside sourcesLock,
        // one change at a time and in order. Only the message thread tells it: JUCE holds the
        // parameter's listener lock while the host hears a value or a gesture, so a host that
        // takes a lock of its own in those callbacks, and holds it while it restores state on
        // another thread, would otherwise have its restoring thread wait for JUCE's lock while
        // the message thread waits for the host's.
        int unreportedChanges = 0;
        bool hostActive = false;
        bool reporting = false;

        // Sources come and go with the console device, which the host may replace from the
        // thread on which it restores state, while the message thread reports gestures. Never
        // held while the host is told: a host may take a lock of its own in its gesture
        // callbacks, which it may hold while it calls the plug-in on another thread.
        juce::CriticalSection sourcesLock;

        const std::shared_ptr<Handoff> handoff = std::make_shared<Handoff>();

        JUCE_DECLARE_NON_COPYABLE (ChangeManager)
    };

    AudioProcessorParameterWithChangeManager (const juce::String& parameterID, const juce::String& parameterName);
    ~AudioProcessorParameterWithChangeManager() override;

    std::unique_ptr<ChangeManager> changeManager;

    /** The parameter at this index of the processor's list, as one with a change manager:
        index 0 is the fader level, index 1 the mute. Null when the list is shorter or that
        parameter has no change manager. Any thread: the list is fixed once the processor is made.
    */
    static AudioProcessorParameterWithChangeManager* atIndex (const juce::AudioProcessor& processor, int index);

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AudioProcessorParameterWithChangeManager)
};
