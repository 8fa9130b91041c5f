#include "ConsoleStripRegistry.h"

#include <gtest/gtest.h>

using Strip = ConsoleStripRegistry::Strip;
using Strips = std::vector<Strip>;

/** Prints a strip when a comparison fails; GoogleTest finds it beside the type. */
inline void PrintTo (const Strip& strip, std::ostream* os) { *os << strip.channel << " " << strip.name.toStdString(); }

namespace
{
    void hold (ConsoleStripRegistry::Registration& r, const char* port, int channel, const char* name)
    {
        r.setPort (port);
        r.setChannel (channel);
        r.setName (name);
    }
}

TEST (ConsoleStripRegistry, ListsTheStripsOtherInstancesOnTheSamePortHold)
{
    ConsoleStripRegistry::Registration kick, snare, tom, bass, unlinked;
    hold (kick, "Desk", 1, "Kick");
    hold (snare, "Desk", 3, "Snare");
    hold (tom, "Desk", 3, "Tom");
    hold (bass, "Other Desk", 2, "Bass");
    hold (unlinked, "Desk", 0, "Pad"); // no strip chosen

    // By channel, and for one channel in the order the instances registered.
    EXPECT_EQ (kick.getStripsOfOthers(), (Strips { { 3, "Snare" }, { 3, "Tom" } }));
    EXPECT_EQ (snare.getStripsOfOthers(), (Strips { { 1, "Kick" }, { 3, "Tom" } }));
    EXPECT_EQ (bass.getStripsOfOthers(), Strips {});

    // Every change counts, a repeated value does not; an instance that goes leaves the list.
    auto changes = ConsoleStripRegistry::getChangeCount();
    snare.setChannel (3);
    snare.setName ("Snare");
    EXPECT_EQ (ConsoleStripRegistry::getChangeCount(), changes);

    tom.setName ("Tom 2");
    EXPECT_NE (ConsoleStripRegistry::getChangeCount(), changes);
    changes = ConsoleStripRegistry::getChangeCount();

    {
        ConsoleStripRegistry::Registration hat;
        hold (hat, "Desk", 5, "Hat");
        EXPECT_EQ (kick.getStripsOfOthers().back(), (Strip { 5, "Hat" }));
    }

    EXPECT_EQ (kick.getStripsOfOthers(), (Strips { { 3, "Snare" }, { 3, "Tom 2" } }));
    EXPECT_NE (ConsoleStripRegistry::getChangeCount(), changes);

    // Without a port of its own, an instance is on no console.
    kick.setPort ({});
    EXPECT_EQ (kick.getStripsOfOthers(), Strips {});
    EXPECT_EQ (snare.getStripsOfOthers(), (Strips { { 3, "Tom 2" } }));
}
