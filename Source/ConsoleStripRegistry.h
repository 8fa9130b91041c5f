#pragma once

#include <juce_core/juce_core.h>

#include <atomic>
#include <vector>

/** Which channel strips the instances of this process hold, console by console.

    A console is known by the output port its instances send to: instances whose output port
    has the same name drive one console, and each holds the strip of its channel. Every
    instance keeps one Registration up to date with its port, channel and name, and its window
    asks which strips the others on its console hold, to mark them in its channel list and to
    warn when two instances hold the same strip.

    Windows learn of changes by comparing getChangeCount on their timer, so nothing is called
    back on the thread that made the change, and the registry calls nothing while it holds its
    lock: that lock is the innermost of any thread's locks.

    Threads: any thread but a real-time one (the operations take a lock and allocate); nothing
    on the host's audio path uses the registry.
*/
class ConsoleStripRegistry final
{
public:
    /** A strip that another instance holds. */
    struct Strip
    {
        int channel = 0;
        juce::String name;

        bool operator== (const Strip& other) const { return channel == other.channel && name == other.name; }
    };

    /** One instance's entry, in the registry from construction to destruction. An instance
        holds a strip while it has an output port name and a channel from 1 on.
    */
    class Registration final
    {
    public:
        Registration();
        ~Registration();

        /** The name of the output port the instance sends to (or waits for); empty for none. */
        void setPort (const juce::String& outputPortName);

        /** The instance's channel, from 1; 0 while none is chosen. */
        void setChannel (int channel);

        /** The name the instance's strip shows. */
        void setName (const juce::String& name);

        /** The strips the other instances on the same console hold, by channel, and for one
            channel in the order the instances registered; empty while this instance has no port.
        */
        std::vector<Strip> getStripsOfOthers() const;

    private:
        friend class ConsoleStripRegistry;

        // Guarded by the registry's lock.
        juce::String port;
        int channel = 0;
        juce::String name;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Registration)
    };

    /** Changes whenever an instance's port, channel or name changes, or an instance comes or
        goes. Any thread; never blocks.
    */
    static int getChangeCount() noexcept;

    ConsoleStripRegistry() = delete;
};
