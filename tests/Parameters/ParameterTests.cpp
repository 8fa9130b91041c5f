#include "Parameters/BooleanParameter.h"
#include "Parameters/FaderParameter.h"

#include <gtest/gtest.h>

namespace
{
    struct CountingListener final : public ParameterBroadcaster::Listener
    {
        void parameterChanged (ParameterBroadcaster* b) override
        {
            calls.push_back (b);
            order.push_back (id);
        }

        int id = 0;
        std::vector<ParameterBroadcaster*> calls;
        std::vector<int>& order;

        explicit CountingListener (std::vector<int>& sharedOrder, int listenerId)
            : id (listenerId)
            , order (sharedOrder)
        {
        }
    };
}

TEST (Parameters, NewParametersReportTheirDefaultsAndNames)
{
    FaderParameter fader;
    BooleanParameter mute;

    EXPECT_EQ (fader.getValue(), 0.0f);
    EXPECT_EQ (mute.getValue(), 0.0f);
    EXPECT_EQ (fader.getDefaultValue(), 0.0f);
    EXPECT_EQ (mute.getDefaultValue(), 0.0f);

    EXPECT_EQ (fader.getName (2), "Level");
    EXPECT_EQ (fader.getName (100), "Level");
    EXPECT_EQ (mute.getName (1), "Cut");
    EXPECT_TRUE (fader.getLabel().isEmpty());
    EXPECT_TRUE (mute.getLabel().isEmpty());

    EXPECT_EQ (fader.getText (fader.getValue(), 100), "0.00");
    EXPECT_EQ (mute.getText (mute.getValue(), 100), "Off");

    EXPECT_EQ (fader.getNumSteps(), 2147483647);
    EXPECT_EQ (mute.getNumSteps(), 2);

    for (const juce::AudioProcessorParameter* p : { (juce::AudioProcessorParameter*) &fader, (juce::AudioProcessorParameter*) &mute })
    {
        EXPECT_FALSE (p->isOrientationInverted());
        EXPECT_TRUE (p->isAutomatable());
        EXPECT_FALSE (p->isMetaParameter());
        EXPECT_EQ (p->getCategory(), juce::AudioProcessorParameter::genericParameter);
    }
}

TEST (Parameters, FaderStoresValuesUnchangedWithoutClamping)
{
    FaderParameter fader;

    for (auto v : { 0.3f, 1.0f, 1.5f, -0.25f, 0.0f })
    {
        fader.setValue (v);
        EXPECT_EQ (fader.getValue(), v);
    }

    fader.setValue (std::numeric_limits<float>::quiet_NaN());
    EXPECT_TRUE (std::isnan (fader.getValue()));
}

TEST (Parameters, AnyNonZeroValueMutes)
{
    BooleanParameter mute;

    const struct
    {
        float in;
        float out;
    } cases[] = { { 0.3f, 1.0f }, { 0.0f, 0.0f }, { -1.0f, 1.0f }, { std::numeric_limits<float>::quiet_NaN(), 1.0f }, { 1.0f, 1.0f } };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.in);
        mute.setValue (c.in);
        EXPECT_EQ (mute.getValue(), c.out);
    }

    // The text describes the value asked about, not the stored state.
    mute.setValue (0.3f);
    EXPECT_EQ (mute.getText (0.3f, 10), "Off");
}

TEST (Parameters, MuteTextConversions)
{
    BooleanParameter mute;

    const std::pair<const char*, float> forText[] = {
        { "on", 1.0f },
        { "On", 1.0f },
        { "ON", 1.0f },
        { "oN", 1.0f },
        { "1", 1.0f },
        { "Off", 0.0f },
        { " on", 0.0f },
        { "on ", 0.0f },
        { "yes", 0.0f },
        { "", 0.0f },
        { "0", 0.0f },
        { "1.0", 0.0f }
    };

    for (const auto& [text, value] : forText)
    {
        SCOPED_TRACE (text);
        EXPECT_EQ (mute.getValueForText (text), value);
    }

    EXPECT_EQ (mute.getText (1.0f, 10), "On");
    EXPECT_EQ (mute.getText (0.0f, 10), "Off");
    EXPECT_EQ (mute.getText (0.5f, 10), "Off");
    EXPECT_EQ (mute.getText (0.9999f, 10), "Off");
}

TEST (Parameters, LevelTextConversions)
{
    FaderParameter fader;

    EXPECT_EQ (fader.getText (0.5f, 10), "0.50");
    EXPECT_EQ (fader.getText (0.72f, 10), "0.72");
    EXPECT_EQ (fader.getText (1.0f, 10), "1.00");
    EXPECT_FLOAT_EQ (fader.getValueForText ("0.25"), 0.25f);
    EXPECT_FLOAT_EQ (fader.getValueForText ("0.7 dB"), 0.7f); // no unit is understood or needed
    EXPECT_EQ (fader.getValueForText ("loud"), 0.0f);
}

TEST (Parameters, EverySetNotifiesEveryListenerFromLastToFirst)
{
    std::vector<int> order;
    CountingListener first (order, 1), second (order, 2);
    FaderParameter fader;

    fader.addListener (&first);
    fader.addListener (&second);
    fader.addListener (&first); // already there
    fader.addListener (static_cast<ParameterBroadcaster::Listener*> (nullptr));

    fader.setValue (0.4f);
    fader.setValue (0.4f); // an unchanged value still notifies

    EXPECT_EQ (first.calls.size(), 2u);
    EXPECT_EQ (second.calls.size(), 2u);
    EXPECT_EQ (first.calls.front(), static_cast<ParameterBroadcaster*> (&fader));
    EXPECT_EQ (order, (std::vector<int> { 2, 1, 2, 1 }));
}

TEST (Parameters, ValuesCanBeWrittenAndReadFromSeveralThreads)
{
    // Host threads write while the message thread reads; run under ThreadSanitizer this
    // proves the value is shared safely.
    FaderParameter fader;
    BooleanParameter mute;
    std::atomic<bool> stop { false };

    std::thread writer ([&]
                        {
        for (int i = 0; i < 20000; ++i)
        {
            fader.setValue ((float) (i % 100) / 100.0f);
            mute.setValue ((float) (i % 2));
        }
        stop = true; });

    float sum = 0.0f;
    while (! stop)
        sum += fader.getValue() + mute.getValue();

    writer.join();
    EXPECT_GE (sum, 0.0f);
    EXPECT_EQ (fader.getValue(), 0.99f);
    EXPECT_EQ (mute.getValue(), 1.0f);
}
