#pragma once

#include "QuillmereSettingsChunk.h"

#include <iomanip>
#include <ostream>

namespace testing_helpers
{
    template<typename Value>
    void printSettingsMember (std::ostream& os, const char* name, const std::optional<Value>& value)
    {
        os << ' ' << name << '=';

        if (! value.has_value())
            os << "(absent)";
        else if constexpr (std::is_same_v<Value, juce::String>)
            os << '"' << value->toStdString() << '"';
        else if constexpr (std::is_same_v<Value, float>)
            os << std::setprecision (9) << *value; // enough digits to tell any two floats apart
        else
            os << std::boolalpha << *value;
    }
}

/** Prints settings member by member when a test's comparison fails. GoogleTest finds it
    beside the type; every test file that compares settings includes it, so that all of them
    print the same way.
*/
inline void PrintTo (const QuillmereSettingsChunk::Settings& settings, std::ostream* os)
{
    using testing_helpers::printSettingsMember;

    *os << '{';
    printSettingsMember (*os, "midiInName", settings.midiInName);
    printSettingsMember (*os, "midiOutName", settings.midiOutName);
    printSettingsMember (*os, "level", settings.level);
    printSettingsMember (*os, "muted", settings.muted);
    printSettingsMember (*os, "channel", settings.channel);
    printSettingsMember (*os, "channelName", settings.channelName);
    printSettingsMember (*os, "modelName", settings.modelName);
    printSettingsMember (*os, "nameFollowsTrack", settings.nameFollowsTrack);
    *os << " }";
}
