#pragma once

#include <atomic>
#include <functional>
#include <juce_events/juce_events.h>
#include <memory>

namespace testing_helpers
{
    /** Whether the program is built with ThreadSanitizer, for the few tests that cannot run
        under it (each says why). A function, so that the code after a skip is not dead to the
        compiler.
    */
    inline bool runsUnderThreadSanitizer()
    {
        bool underThreadSanitizer = false;
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
        underThreadSanitizer = true;
#endif
#endif
        return underThreadSanitizer;
    }

    /** Runs the message loop until the condition holds or the time is up; returns the
        condition's last answer. Waits on the condition, never on a fixed sleep alone.
    */
    inline bool runMessageLoopUntil (const std::function<bool()>& condition, int timeoutMs = 5000)
    {
        const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() > deadline)
                return condition();

            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        }

        return true;
    }

    /** Runs the message loop for a while, for checks that something does not happen. */
    inline void runMessageLoopFor (int ms)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (ms);
    }

    /** Runs the message loop until every message posted to it so far has been delivered: a
        marker posted now is delivered after them, as the queue is first in, first out. A
        timer's next tick is not posted yet, so this does not wait for it. False after the
        timeout.
    */
    inline bool deliverPostedMessages (int timeoutMs = 5000)
    {
        // Shared with the marker, which may still be delivered after a timeout.
        auto delivered = std::make_shared<std::atomic<bool>> (false);
        juce::MessageManager::callAsync ([delivered]
                                         { *delivered = true; });
        return runMessageLoopUntil ([delivered]
                                    { return delivered->load(); },
                                    timeoutMs);
    }
}

#include <juce_audio_basics/juce_audio_basics.h>
#include <string>
#include <vector>

namespace testing_helpers
{
    /** Bytes as upper-case hexadecimal pairs separated by spaces: "B0 0C 02". */
    inline std::string hex (const std::vector<juce::uint8>& bytes)
    {
        juce::StringArray parts;
        for (auto b : bytes)
            parts.add (juce::String::toHexString ((int) b).paddedLeft ('0', 2).toUpperCase());
        return parts.joinIntoString (" ").toStdString();
    }

    /** One byte as two upper-case hexadecimal digits. */
    inline std::string hexByte (int value)
    {
        return juce::String::toHexString (value & 0xff).paddedLeft ('0', 2).toUpperCase().toStdString();
    }

    inline std::vector<std::string> hex (const std::vector<std::vector<juce::uint8>>& blocks)
    {
        std::vector<std::string> out;
        for (const auto& b : blocks)
            out.push_back (hex (b));
        return out;
    }

    /** The message with these bytes: "B0 0F 02" becomes a three-byte controller message. */
    inline juce::MidiMessage message (const std::string& hexBytes)
    {
        juce::MemoryBlock block;
        block.loadFromHexString (hexBytes);
        return juce::MidiMessage (block.getData(), (int) block.getSize());
    }

    /** The 28-byte scribble-strip message for a zone and an ASCII text, as hex pairs. */
    inline std::string nameMessage (int zone, const std::string& text)
    {
        std::vector<juce::uint8> bytes { 0xF0, 0x00, 0x00, 0x66, 0x05, 0x00, 0x20, (juce::uint8) zone };
        for (size_t i = 0; i < 19; ++i)
            bytes.push_back (i < text.size() ? (juce::uint8) text[i] : 0);
        bytes.push_back (0xF7);
        return hex (bytes);
    }
}

namespace testing_helpers
{
    /** Waits until every message the instances have posted has been written to their ports
        by the ports' senders; false if that takes longer than the timeout.
    */
    template<typename... Processors>
    bool waitUntilSent (Processors&... processors)
    {
        return (processors.outbox.waitUntilSent() && ...);
    }

    /** Runs the message loop until the instances' timers have handed every queued message from
        the console to their devices; false after the timeout. The instances are pointers.
    */
    template<typename Instances>
    bool waitUntilDrained (const Instances& instances, int timeoutMs = 5000)
    {
        return runMessageLoopUntil ([&instances]
                                    {
            for (auto& p : instances)
            {
                const juce::ScopedLock sl (p->incomingMidiLock);

                if (! p->incomingMidi.isEmpty())
                    return false;
            }

            return true; },
                                    timeoutMs);
    }
}

#include <juce_audio_processors/juce_audio_processors.h>

namespace testing_helpers
{
    /** A state chunk as an instance saves one: the XML text in JUCE's binary framing. The text
        must be well-formed XML.
    */
    inline juce::MemoryBlock chunkFrom (const juce::String& xmlText)
    {
        juce::MemoryBlock chunk;
        const auto xml = juce::parseXML (xmlText);
        jassert (xml != nullptr);
        juce::AudioProcessor::copyXmlToBinary (*xml, chunk);
        return chunk;
    }

    /** The XML element of the chunk the instance saves; null if the chunk holds none. */
    inline std::unique_ptr<juce::XmlElement> savedXml (juce::AudioProcessor& p)
    {
        juce::MemoryBlock chunk;
        p.getStateInformation (chunk);
        return juce::AudioProcessor::getXmlFromBinary (chunk.getData(), (int) chunk.getSize());
    }
}
