#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <array>
#include <atomic>
#include <optional>

/** The console's newest value of each parameter, handed from the message thread to the audio
    thread when the message thread is not one the host serves (see HostMessageThread): the audio
    thread sets the value at its next block, and the plug-in's wrapper tells the host of it from
    there, as the block's output parameter changes (VST3) or an automation call (VST2).

    One slot per parameter holds the newest value not yet taken, so a host that calls the audio
    thread late hears the position the desk is at, not a backlog. Lock-free, and neither side
    ever waits or allocates.
*/
class HostValueHandoff final
{
public:
    static constexpr int numParameters = 2;

    /** Message thread: the value the parameter at that index is to take. */
    void post (int parameterIndex, float value) noexcept;

    /** Message thread: flips a switch parameter between 0 and 1, from the value it is about to
        take if one waits, or else from its present value. Two flips within one audio block may
        come to one when the audio thread takes the first while the second is posted.
    */
    void postToggle (int parameterIndex, const juce::AudioProcessorParameter& parameter) noexcept;

    /** Audio thread: the value waiting for the parameter, if any, which is taken. */
    std::optional<float> take (int parameterIndex) noexcept;

    /** Any thread: drops the values waiting, as a state restored by the host replaces them. */
    void clear() noexcept;

private:
    // A float's bits, or a pattern no float the parameters take has (a NaN's) for none.
    static constexpr juce::uint32 none = 0xffffffffu;

    static juce::uint32 toBits (float value) noexcept;
    static float fromBits (juce::uint32 bits) noexcept;

    std::array<std::atomic<juce::uint32>, numParameters> slots { { { none }, { none } } };
};
