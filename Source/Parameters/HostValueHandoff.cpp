#include "HostValueHandoff.h"

#include <cstring>

juce::uint32 HostValueHandoff::toBits (float value) noexcept
{
    juce::uint32 bits;
    std::memcpy (&bits, &value, sizeof (bits));
    return bits;
}

float HostValueHandoff::fromBits (juce::uint32 bits) noexcept
{
    float value;
    std::memcpy (&value, &bits, sizeof (value));
    return value;
}

void HostValueHandoff::post (int parameterIndex, float value) noexcept
{
    jassert (juce::isPositiveAndBelow (parameterIndex, numParameters));
    const auto bits = toBits (value);

    // The parameters never take a NaN; one would read as no value at all.
    if (juce::isPositiveAndBelow (parameterIndex, numParameters) && bits != none)
        slots[(size_t) parameterIndex].store (bits);
}

void HostValueHandoff::postToggle (int parameterIndex, const juce::AudioProcessorParameter& parameter) noexcept
{
    jassert (juce::isPositiveAndBelow (parameterIndex, numParameters));

    if (! juce::isPositiveAndBelow (parameterIndex, numParameters))
        return;

    auto& slot = slots[(size_t) parameterIndex];
    auto waiting = slot.load();

    // The audio thread may take the waiting value meanwhile: then the toggle starts again from
    // the parameter's value.
    for (;;)
    {
        const auto from = waiting != none ? fromBits (waiting) : parameter.getValue();

        if (slot.compare_exchange_weak (waiting, toBits (from == 0.0f ? 1.0f : 0.0f)))
            return;
    }
}

std::optional<float> HostValueHandoff::take (int parameterIndex) noexcept
{
    if (! juce::isPositiveAndBelow (parameterIndex, numParameters))
        return std::nullopt;

    auto& slot = slots[(size_t) parameterIndex];

    // Read before writing: most blocks find nothing waiting, and a plain load leaves the slot's
    // cache line alone.
    if (slot.load() == none)
        return std::nullopt;

    const auto bits = slot.exchange (none);

    if (bits == none)
        return std::nullopt;

    return fromBits (bits);
}

void HostValueHandoff::clear() noexcept
{
    for (auto& slot : slots)
        slot.store (none);
}
