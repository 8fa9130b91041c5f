#pragma once

#include <juce_core/juce_core.h>

/** Tells listeners that a parameter's value has been set.

    Each parameter is a broadcaster; the processor listens to both and forwards every change
    to the console. Listeners are added while the processor is being built and stay for the
    broadcaster's whole life, so there is no removal.
*/
class ParameterBroadcaster
{
public:
    class Listener
    {
    public:
        virtual ~Listener() = default;

        /** Called on the thread that set the parameter: a host thread for automation, the
            message thread for the editor, the console and the state restore.
        */
        virtual void parameterChanged (ParameterBroadcaster* broadcasterThatChanged) = 0;
    };

    ParameterBroadcaster() = default;

    /** Appends a listener. Null and listeners already present are ignored. */
    void addListener (Listener* listener);

    /** Calls parameterChanged on every listener, from the last added to the first.
        Runs on whichever thread set the value.
    */
    void notifyListeners();

private:
    juce::ListenerList<Listener> listeners;

    JUCE_DECLARE_NON_COPYABLE (ParameterBroadcaster)
};
