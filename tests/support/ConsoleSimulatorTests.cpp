#include "ConsoleSimulator.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

// The simulator must catch what a faulty device would put on the line, or the end-to-end
// tests that rely on its empty record would prove nothing.
TEST (ConsoleSimulator, RecordsWellFormedTrafficAndRejectsEverythingElse)
{
    VirtualMidiPortBackend ports;
    ports.install();
    ConsoleSimulator console (ports, "Desk");
    auto out = MidiPortSystem::openOutput (MidiPortSystem::getOutputNames().indexOf ("Desk"));
    ASSERT_NE (out, nullptr);

    const auto send = [&] (const std::string& hexBytes)
    {
        juce::MemoryBlock block;
        block.loadFromHexString (hexBytes);
        out->sendBlockNow (static_cast<const juce::uint8*> (block.getData()), (int) block.getSize());
    };

    send ("B0 02 5F B0 22 40");
    send ("B0 0C 02 B0 2C 42");
    send (testing_helpers::nameMessage (2, "Kick"));
    EXPECT_TRUE (console.getMalformedTraffic().isEmpty());

    const auto strip = console.getStrip (2);
    EXPECT_EQ (strip.faderLevel, 191);
    EXPECT_TRUE (strip.cut);
    EXPECT_EQ (strip.text, "Kick");

    const char* faulty[] = {
        "B0 02 FF B0 22 40",                                                                   // data byte of 0x80 or more
        "B0 02",                                                                               // cut short
        "90 3C 7F",                                                                            // a note
        "B1 02 10 B1 22 00",                                                                   // MIDI channel 2
        "B0 22 00",                                                                            // low half alone
        "B0 50 00",                                                                            // unknown controller
        "B0 0C 02 B0 2C 43",                                                                   // unknown port
        "F0 00 00 66 05 00 20 02 41 00 F7",                                                    // short strip message
        "F0 00 00 66 05 00 20 02 C3 A9 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 F7", // not ASCII
        "F0 00 00 66 05 00 20 02 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 F7", // no closing zero
    };

    for (const auto* f : faulty)
    {
        SCOPED_TRACE (f);
        const auto before = console.getMalformedTraffic().size();
        send (f);
        EXPECT_GT (console.getMalformedTraffic().size(), before);
    }

    out.reset();
}
