#include "Ports/MidiPortSystem.h"

#include "../support/VirtualMidiPortBackend.h"

#include <gtest/gtest.h>

TEST (MidiPortSystem, APortIsListedByNameInItsOwnDirectionOnly)
{
    VirtualMidiPortBackend ports;
    ports.install();
    ports.addInputPort ("Desk");
    ports.addInputPort ("Desk In");
    ports.addOutputPort ("Desk Out");

    EXPECT_EQ (MidiPortSystem::getNames (PortDirection::input), MidiPortSystem::getInputNames());
    EXPECT_EQ (MidiPortSystem::getNames (PortDirection::output), MidiPortSystem::getOutputNames());

    const struct
    {
        PortDirection direction;
        const char* name;
        bool listed;
    } cases[] = {
        { PortDirection::input, "Desk", true },
        { PortDirection::input, "Desk In", true },
        { PortDirection::input, "Desk Out", false },
        { PortDirection::output, "Desk Out", true },
        { PortDirection::output, "Desk", false },
        { PortDirection::input, "desk", false }, // names are matched exactly
        { PortDirection::output, "", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.direction == PortDirection::input ? "input " : "output ") + c.name);
        EXPECT_EQ (MidiPortSystem::isListed (c.direction, c.name), c.listed);
    }

    ports.removeInputPort ("Desk");
    EXPECT_FALSE (MidiPortSystem::isListed (PortDirection::input, "Desk"));
}
