#include "Parameters/BooleanParameter.h"
#include "Parameters/HostValueHandoff.h"

#include <gtest/gtest.h>

// What the audio thread takes after the message thread's posts: the newest value of each
// parameter, once, and a CUT press flips from what is about to be set, not from a stale value.
TEST (HostValueHandoff, TheAudioThreadTakesTheNewestValueOnceAndFlipsFollowWhatWaits)
{
    BooleanParameter mute ("1");
    HostValueHandoff handoff;

    EXPECT_FALSE (handoff.take (0).has_value());

    handoff.post (0, 0.25f);
    handoff.post (0, 0.75f);
    EXPECT_EQ (handoff.take (0), 0.75f);
    EXPECT_FALSE (handoff.take (0).has_value());
    EXPECT_FALSE (handoff.take (1).has_value()) << "the parameters' slots are apart";

    // Two presses with nothing taken between them: the second undoes the first.
    mute.setValue (0.0f);
    handoff.postToggle (1, mute);
    EXPECT_EQ (handoff.take (1), 1.0f);
    handoff.postToggle (1, mute);
    handoff.postToggle (1, mute);
    EXPECT_EQ (handoff.take (1), 0.0f);

    // A value restored by the host replaces what waits.
    handoff.post (0, 0.5f);
    handoff.post (1, 1.0f);
    handoff.clear();
    EXPECT_FALSE (handoff.take (0).has_value());
    EXPECT_FALSE (handoff.take (1).has_value());
}
