#include "ParameterBroadcaster.h"

void ParameterBroadcaster::addListener (Listener* listener)
{
    if (listener != nullptr)
        listeners.add (listener); // ListenerList::add ignores a listener that is already there
}

void ParameterBroadcaster::notifyListeners()
{
    // Host threads and the message thread may notify at the same time. ListenerList::call
    // keeps its iterator bookkeeping in the list without a lock, so two concurrent calls would
    // race on it. Listeners are only added while the owner is being built and never removed,
    // so walking the unchanging array directly is safe from any number of threads. The walk
    // goes from the last listener added to the first, as ListenerList::call does.
    const auto& array = listeners.getListeners();

    for (int i = array.size(); --i >= 0;)
        array.getUnchecked (i)->parameterChanged (this);
}
