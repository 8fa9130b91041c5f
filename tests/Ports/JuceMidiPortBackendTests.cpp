#include "Ports/JuceMidiPortBackend.h"

#include "../support/SequencerDesk.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

using namespace testing_helpers;

namespace
{
    struct Receiver final : public MidiPortSystem::Input::Callback
    {
        void handleIncomingMidiMessage (MidiPortSystem::Input*, const juce::MidiMessage& m) override
        {
            const juce::ScopedLock sl (lock);
            received.push_back (m);
        }

        juce::CriticalSection lock;
        std::vector<juce::MidiMessage> received;
    };
}

TEST (JuceMidiPortBackend, WithoutASequencerThereAreNoPortsAndOpensFail)
{
    if (hasSequencer())
        GTEST_SKIP() << "this machine has a MIDI sequencer";

    JuceMidiPortBackend backend;
    Receiver receiver;

    EXPECT_TRUE (backend.getInputNames().isEmpty());
    EXPECT_TRUE (backend.getOutputNames().isEmpty());
    EXPECT_EQ (backend.openInput (0, &receiver), nullptr);
    EXPECT_EQ (backend.openOutput (0), nullptr);
}

// Where the system has a MIDI sequencer with its loop-back port, a block sent on the output
// comes back complete on the input's driver thread.
TEST (JuceMidiPortBackend, ABlockSentThroughTheLoopBackPortArrives)
{
    if (! hasSequencer())
        GTEST_SKIP() << "no MIDI sequencer device on this machine (/dev/snd/seq)";

    JuceMidiPortBackend backend;
    const auto inputIndex = backend.getInputNames().indexOf ("Midi Through Port-0");
    const auto outputIndex = backend.getOutputNames().indexOf ("Midi Through Port-0");

    if (inputIndex < 0 || outputIndex < 0)
        GTEST_SKIP() << "the sequencer has no loop-back port";

    Receiver receiver;
    auto input = backend.openInput (inputIndex, &receiver);
    auto output = backend.openOutput (outputIndex);
    ASSERT_NE (input, nullptr);
    ASSERT_NE (output, nullptr);
    input->start();

    const juce::uint8 block[] = { 0xb0, 0x02, 0x7f, 0xb0, 0x22, 0x40 };
    output->sendBlockNow (block, (int) sizeof (block));

    const auto deadline = juce::Time::getMillisecondCounter() + 2000;
    for (;;)
    {
        {
            const juce::ScopedLock sl (receiver.lock);
            if (receiver.received.size() >= 2 || juce::Time::getMillisecondCounter() > deadline)
                break;
        }
        juce::Thread::sleep (5);
    }

    input->stop();
    const juce::ScopedLock sl (receiver.lock);
    ASSERT_EQ (receiver.received.size(), 2u);
    EXPECT_TRUE (receiver.received[0].isControllerOfType (0x02));
    EXPECT_EQ (receiver.received[1].getControllerValue(), 0x40);
}

// JUCE's Windows output writes anything longer than three bytes as a long message and polls
// the driver until it is done, so the outputs hand JUCE each channel message on its own.
TEST (JuceMidiPortBackend, BlocksAreHandedOnAsTheCompleteMessagesTheyHold)
{
    const struct
    {
        const char* block;
        std::vector<std::string> messages;
    } cases[] = {
        { "B0 02 7F B0 22 40", { "B0 02 7F", "B0 22 40" } },
        { "B0 0C 02 B0 2C 42", { "B0 0C 02", "B0 2C 42" } },
        { "F0 00 00 66 05 00 20 02 4B 69 63 6B 00 F7", { "F0 00 00 66 05 00 20 02 4B 69 63 6B 00 F7" } },
        { "C0 05 B0 07 64 F8", { "C0 05", "B0 07 64", "F8" } },
        { "B0 02 7F F0 01 F7 B0 22", { "B0 02 7F", "F0 01 F7", "B0 22" } }, // a message cut short keeps what is there
        { "7F 40 B0 02 7F", { "B0 02 7F" } },                               // stray data bytes begin nothing
        { "F0 01 02", { "F0 01 02" } },                                     // an unended system-exclusive message runs to the end
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.block);
        juce::MemoryBlock block;
        block.loadFromHexString (c.block);

        std::vector<std::string> messages;
        JuceMidiPortBackend::forEachMessage (static_cast<const juce::uint8*> (block.getData()), (int) block.getSize(), [&] (const juce::uint8* data, int length)
                                             {
            juce::StringArray bytes;
            for (int i = 0; i < length; ++i)
                bytes.add (juce::String::toHexString ((int) data[i]).paddedLeft ('0', 2).toUpperCase());
            messages.push_back (bytes.joinIntoString (" ").toStdString()); });

        EXPECT_EQ (messages, c.messages);
    }
}

// An interface unplugged and plugged in again at once comes back under its name and, as the
// sequencer gives the lowest free client number, at its address: listing shows nothing new,
// but the handles opened before lead nowhere, and a port opened again reaches the desk.
TEST (JuceMidiPortBackend, APortThatWentAndCameBackUnderItsNameAndAddressIsKnownDead)
{
    if (! hasSequencer())
        GTEST_SKIP() << "no MIDI sequencer (/dev/snd/seq, or the test sequencer's router)";

    auto desk = std::make_unique<SequencerDesk> ("Replug Desk");
    JuceMidiPortBackend backend;
    const auto inputIndex = backend.getInputNames().indexOf ("Replug Desk");
    const auto outputIndex = backend.getOutputNames().indexOf ("Replug Desk");
    ASSERT_GE (inputIndex, 0);
    ASSERT_GE (outputIndex, 0);

    Receiver receiver;
    auto input = backend.openInput (inputIndex, &receiver);
    auto output = backend.openOutput (outputIndex);
    ASSERT_NE (input, nullptr);
    ASSERT_NE (output, nullptr);
    EXPECT_TRUE (input->isAlive());
    EXPECT_TRUE (output->isAlive());

    const auto address = desk->client;
    desk.reset();
    desk = std::make_unique<SequencerDesk> ("Replug Desk");
    ASSERT_EQ (desk->client, address);
    EXPECT_EQ (backend.getOutputNames().indexOf ("Replug Desk"), outputIndex);

    // The sequencer's announcements reach the process on their own time.
    const auto deadline = juce::Time::getMillisecondCounter() + 5000;

    while ((input->isAlive() || output->isAlive()) && juce::Time::getMillisecondCounter() < deadline)
        juce::Thread::sleep (5);

    EXPECT_FALSE (input->isAlive());
    EXPECT_FALSE (output->isAlive());

    auto reopened = backend.openOutput (outputIndex);
    ASSERT_NE (reopened, nullptr);
    EXPECT_TRUE (reopened->isAlive());

    const juce::uint8 block[] = { 0xb0, 0x02, 0x7f };
    reopened->sendBlockNow (block, (int) sizeof (block));
    EXPECT_EQ (desk->receiveController(), "2 127");
}

// The sequencer announces every connection made or undone, and the process's listener holds
// 200 announcements unread: a busy patch bay makes it lose some. A port that stayed must still
// count as alive then, and one that went and came back while announcements were lost as dead.
TEST (JuceMidiPortBackend, LostAnnouncementsLeaveAPortThatStayedAliveAndOneThatWentDead)
{
    if (! hasSequencer())
        GTEST_SKIP() << "no MIDI sequencer (/dev/snd/seq, or the test sequencer's router)";

    for (const auto replugged : { false, true })
    {
        SCOPED_TRACE (replugged ? "the desk went and came back" : "the desk stayed");
        auto desk = std::make_unique<SequencerDesk> ("Busy Desk");
        JuceMidiPortBackend backend;
        Receiver receiver;
        auto input = backend.openInput (backend.getInputNames().indexOf ("Busy Desk"), &receiver);
        auto output = backend.openOutput (backend.getOutputNames().indexOf ("Busy Desk"));
        ASSERT_NE (input, nullptr);
        ASSERT_NE (output, nullptr);
        EXPECT_TRUE (output->isAlive());

        // Another program connects and disconnects a port 150 times: 300 announcements.
        SequencerDesk patchBay ("Patch Bay");

        for (int i = 0; i < 150; ++i)
        {
            ASSERT_EQ (snd_seq_connect_to (patchBay.seq, patchBay.port, 14, 0), 0);
            ASSERT_EQ (snd_seq_disconnect_to (patchBay.seq, patchBay.port, 14, 0), 0);
        }

        if (replugged)
        {
            desk.reset();
            desk = std::make_unique<SequencerDesk> ("Busy Desk");
        }

        EXPECT_EQ (input->isAlive(), ! replugged);
        EXPECT_EQ (output->isAlive(), ! replugged);
    }
}
