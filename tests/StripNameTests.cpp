// The strip name's rules on their own: following the track, typed names, and what a project
// keeps and gives back.

#include "StripName.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
    /** One thing that happens to a strip name, and what renamed and typed answer to it. */
    struct Step
    {
        enum class Kind
        {
            renamed,
            typed,
            restored
        };

        Kind kind;
        const char* name;
        bool changes = false;             // the answer of renamed and typed
        std::optional<bool> attribute {}; // restored: the follows attribute, if the project had one
    };

    Step renamed (const char* name, bool changes) { return { Step::Kind::renamed, name, changes }; }
    Step typed (const char* name, bool changes) { return { Step::Kind::typed, name, changes }; }
    Step restored (const char* name, std::optional<bool> attribute) { return { Step::Kind::restored, name, false, attribute }; }

    struct Case
    {
        const char* description;
        std::vector<Step> steps;
        const char* name; // then
        bool follows;
        const char* trackName;
        std::optional<bool> savedAttribute;
    };

    const std::vector<Case>& getCases()
    {
        static const std::vector<Case> cases {
            // Following the track.
            { "a new strip follows a track it has not heard of", {}, "", true, "", {} },
            { "a reported name is fitted to the strip", { renamed ("Lead Vocal 2", true) }, "LeadVcl2", true, "Lead Vocal 2", true },
            { "a rename follows", { renamed ("Kick In", true), renamed ("Kick Out", true) }, "KickOut", true, "Kick Out", true },
            { "a rename the strip shows the same way changes nothing", { renamed ("Kick In", true), renamed ("Kick  In", false) }, "KickIn", true, "Kick  In", true },
            { "a report without a name changes nothing", { renamed ("Kick In", true), renamed ("", false) }, "KickIn", true, "Kick In", true },

            // Typed names.
            { "a typed name wins over renames", { renamed ("Kick In", true), typed ("BD", true), renamed ("Kick Out", false) }, "BD", false, "Kick Out", {} },
            { "typing the same name again changes nothing", { typed ("BD", true), typed ("BD", false) }, "BD", false, "", {} },
            { "an empty name follows the track again at once", { renamed ("Kick In", true), typed ("BD", true), typed ("", true) }, "KickIn", true, "Kick In", true },
            { "an empty name before any report stays empty", { typed ("BD", true), typed ("", true) }, "", true, "", {} },
            { "typing the followed name keeps following", { renamed ("Kick In", true), typed ("KickIn", false), renamed ("Kick Out", true) }, "KickOut", true, "Kick Out", true },
            { "a typed name equal to the fitted one is still the user's", { renamed ("Kick Top", true), typed ("Snare", true), typed ("KickTop", true), renamed ("Kick Low", false) }, "KickTop", false, "Kick Low", {} },

            // Restored from a project.
            { "an old project's typed name survives renames", { restored ("BD", {}), renamed ("Kick In", false) }, "BD", false, "Kick In", {} },
            { "an old project's typed name wins over a name told before", { renamed ("Kick In", true), restored ("BD", {}) }, "BD", false, "Kick In", {} },
            { "an old project without a name follows the track", { restored ("", {}), renamed ("Kick In", true) }, "KickIn", true, "Kick In", true },
            { "an empty name follows whatever the attribute says", { renamed ("Kick In", true), restored ("", false) }, "KickIn", true, "Kick In", true },
            { "a followed name waits for the host's report", { restored ("KickIn", true) }, "KickIn", true, "", true },
            { "a followed name becomes the renamed track's", { restored ("KickIn", true), renamed ("Snare Top", true) }, "SnareTop", true, "Snare Top", true },
            { "a followed name is the track's present name when the host told it first", { renamed ("Snare Top", true), restored ("KickIn", true) }, "SnareTop", true, "Snare Top", true },
            { "a followed name the host then reports as fitted sends nothing", { restored ("KickIn", true), renamed ("Kick In", false) }, "KickIn", true, "Kick In", true },
            { "an attribute of 0 is a typed name", { restored ("BD", false), renamed ("Kick In", false) }, "BD", false, "Kick In", {} },
        };

        return cases;
    }

    const char* describe (Step::Kind kind)
    {
        switch (kind)
        {
            case Step::Kind::renamed:
                return "renamed";
            case Step::Kind::typed:
                return "typed";
            case Step::Kind::restored:
                return "restored";
        }

        return "";
    }

    /** Runs the case's steps on the strip name, checking each answer. */
    void play (const Case& c, StripName& stripName)
    {
        for (const auto& step : c.steps)
        {
            SCOPED_TRACE (juce::String (describe (step.kind)) + " \"" + step.name + "\"");

            switch (step.kind)
            {
                case Step::Kind::renamed:
                    EXPECT_EQ (stripName.trackRenamed (step.name), step.changes);
                    break;
                case Step::Kind::typed:
                    EXPECT_EQ (stripName.typed (step.name), step.changes);
                    break;
                case Step::Kind::restored:
                    stripName.restored (step.name, step.attribute);
                    break;
            }
        }
    }
}

TEST (StripName, FollowsTheTrackUntilANameIsTypedAndRestoresOldAndNewProjects)
{
    for (const auto& c : getCases())
    {
        SCOPED_TRACE (c.description);
        StripName stripName;
        play (c, stripName);

        EXPECT_EQ (stripName.getName(), c.name);
        EXPECT_EQ (stripName.isFollowingTrack(), c.follows);
        EXPECT_EQ (stripName.getTrackName(), c.trackName);

        // An empty name is never one the user typed.
        EXPECT_TRUE (stripName.getName().isNotEmpty() || stripName.isFollowingTrack());

        const auto saved = stripName.forSaving();
        EXPECT_EQ (saved.name, c.name);
        EXPECT_EQ (saved.followsTrack, c.savedAttribute);
    }
}

TEST (StripName, WhatIsSavedIsRestoredAsTheSameNameFollowingOrNot)
{
    for (const auto& c : getCases())
    {
        SCOPED_TRACE (c.description);
        StripName stripName;
        play (c, stripName);

        // Restored before the host reports a name, as a project opens.
        const auto saved = stripName.forSaving();
        StripName reopened;
        reopened.restored (saved.name, saved.followsTrack);

        EXPECT_EQ (reopened.getName(), stripName.getName());
        EXPECT_EQ (reopened.isFollowingTrack(), stripName.isFollowingTrack());
        EXPECT_EQ (reopened.forSaving().name, saved.name);
        EXPECT_EQ (reopened.forSaving().followsTrack, saved.followsTrack);
    }
}
