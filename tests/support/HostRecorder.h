#pragma once

#include <juce_audio_processors/juce_audio_processors.h>
#include <mutex>

/** Plays the host's side of a processor: records, in order, the value changes and change
    gestures that the processor reports to its host.
*/
class HostRecorder final : public juce::AudioProcessorListener
{
public:
    struct Event
    {
        enum class Kind
        {
            value,
            begin,
            end
        };

        Kind kind;
        int index;
        float value;
    };

    explicit HostRecorder (juce::AudioProcessor& processorToWatch)
        : processor (processorToWatch)
    {
        processor.addListener (this);
    }
    ~HostRecorder() override { processor.removeListener (this); }

    std::vector<Event> getEvents() const
    {
        const std::lock_guard<std::mutex> lock (mutex);
        return events;
    }

    void clear()
    {
        const std::lock_guard<std::mutex> lock (mutex);
        events.clear();
    }

    int count (Event::Kind kind, int index) const
    {
        int n = 0;
        for (const auto& e : getEvents())
            n += (e.kind == kind && e.index == index) ? 1 : 0;
        return n;
    }

    /** A readable form for comparisons: "begin 0", "value 0 0.50", "end 1". */
    std::vector<std::string> describe() const
    {
        std::vector<std::string> out;
        for (const auto& e : getEvents())
        {
            switch (e.kind)
            {
                case Event::Kind::value:
                    out.push_back ("value " + std::to_string (e.index) + " " + juce::String (e.value, 2).toStdString());
                    break;
                case Event::Kind::begin:
                    out.push_back ("begin " + std::to_string (e.index));
                    break;
                case Event::Kind::end:
                    out.push_back ("end " + std::to_string (e.index));
                    break;
            }
        }
        return out;
    }

    /** True while more gestures have begun than ended, for any parameter. */
    bool anyGestureOpen() const
    {
        for (int i = 0; i < 2; ++i)
            if (count (Event::Kind::begin, i) != count (Event::Kind::end, i))
                return true;
        return false;
    }

    void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float newValue) override { add ({ Event::Kind::value, index, newValue }); }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index) override { add ({ Event::Kind::begin, index, 0.0f }); }
    void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index) override { add ({ Event::Kind::end, index, 0.0f }); }

private:
    void add (const Event& e)
    {
        const std::lock_guard<std::mutex> lock (mutex);
        events.push_back (e);
    }

    juce::AudioProcessor& processor;
    mutable std::mutex mutex;
    std::vector<Event> events;
};
