#pragma once

#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <juce_audio_basics/juce_audio_basics.h>
#include <string>
#include <vector>

namespace testing_helpers
{
    /** Whether the process reaches an ALSA sequencer: the system's device, or the test
        sequencer (tests/support/sequencer) that the suite runs such tests under.
    */
    inline bool hasSequencer()
    {
        return juce::File ("/dev/snd/seq").exists() || juce::SystemStats::getEnvironmentVariable ("QUILLMERE_TEST_SEQUENCER", {}).isNotEmpty();
    }

    /** A desk behind its own client on the sequencer, with one port to and from it, named
        after the client.
    */
    struct SequencerDesk
    {
        explicit SequencerDesk (const char* name)
        {
            EXPECT_EQ (snd_seq_open (&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK), 0);
            snd_seq_set_client_name (seq, name);
            port = snd_seq_create_simple_port (seq, name, SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE, SND_SEQ_PORT_TYPE_MIDI_GENERIC);
            client = snd_seq_client_id (seq);
        }

        ~SequencerDesk() { snd_seq_close (seq); }

        /** Sends controller changes to every port subscribed to the desk's, each an event of
            its own, as a desk's interface does.
        */
        void sendControllers (const std::vector<juce::MidiMessage>& messages)
        {
            for (const auto& m : messages)
            {
                snd_seq_event_t event;
                snd_seq_ev_clear (&event);
                snd_seq_ev_set_source (&event, (unsigned char) port);
                snd_seq_ev_set_subs (&event);
                snd_seq_ev_set_direct (&event);
                event.type = SND_SEQ_EVENT_CONTROLLER;
                event.data.control.channel = (unsigned char) (m.getChannel() - 1);
                event.data.control.param = (unsigned int) m.getControllerNumber();
                event.data.control.value = m.getControllerValue();
                EXPECT_GE (snd_seq_event_output_direct (seq, &event), 0);
            }
        }

        /** The first controller change that arrives within two seconds, as "controller value". */
        std::string receiveController()
        {
            const auto deadline = juce::Time::getMillisecondCounter() + 2000;

            while (juce::Time::getMillisecondCounter() < deadline)
            {
                snd_seq_event_t* event = nullptr;

                if (snd_seq_event_input (seq, &event) >= 0 && event != nullptr && event->type == SND_SEQ_EVENT_CONTROLLER)
                    return std::to_string (event->data.control.param) + " " + std::to_string (event->data.control.value);

                juce::Thread::sleep (2);
            }

            return "nothing";
        }

        snd_seq_t* seq = nullptr;
        int client = -1, port = -1;
    };
}
