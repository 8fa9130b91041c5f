#pragma once

#include "BooleanParameter.h"
#include "FaderParameter.h"
#include "ParameterIndex.h"

/** The channel strip's level and mute, owned by the processor, as typed references: the
    processor hands them to its console device and its window when it makes them, so that
    neither looks them up. Any thread: the parameters stay the same for the processor's life.
*/
struct StripParameters
{
    FaderParameter& level;
    BooleanParameter& mute;

    /** The parameter at that index, as one with a change manager. */
    AudioProcessorParameterWithChangeManager& operator[] (ParameterIndex index) const noexcept
    {
        switch (index)
        {
            case ParameterIndex::level:
                return level;
            case ParameterIndex::mute:
                return mute;
        }

        jassertfalse; // no other index is made
        return level;
    }
};
