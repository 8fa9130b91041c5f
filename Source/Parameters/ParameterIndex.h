#pragma once

/** The plug-in's two parameters, by their place in the processor's list. Outside LV2 the
    place is also the identifier under which hosts store the parameter ("0", "1").
*/
enum class ParameterIndex
{
    level = 0, // the fader, FaderParameter
    mute = 1   // the CUT key, BooleanParameter
};

/** Both parameters, in the processor's order. */
constexpr ParameterIndex allParameterIndices[] = { ParameterIndex::level, ParameterIndex::mute };

/** The place in the processor's list, as hosts and HostValueHandoff count it. */
constexpr int toListIndex (ParameterIndex index) noexcept
{
    return static_cast<int> (index);
}
