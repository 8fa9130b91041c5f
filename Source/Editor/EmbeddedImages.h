#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <map>

/** The images of the embedded artwork, each decoded once and shared while any window holds
    the set. A window holds it from before its controls are made until after they are gone, so
    that all their images share one copy of the pixels; the set goes with the last window.

    The images are plain decoded images. JUCE's image cache would keep them on a purge timer,
    which JUCE's shutdown then deletes while it runs, on whichever thread the host deletes the
    last instance from. Message thread.
*/
class EmbeddedImages final
{
public:
    EmbeddedImages() = default;

    /** The image decoded from the embedded PNG data: the shared set's copy while a window holds
        the set, a copy of its own otherwise. A broken image is an invalid one.
    */
    static juce::Image get (const void* data, int size);

private:
    juce::Image find (const void* data, int size);

    std::map<const void*, juce::Image> images;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (EmbeddedImages)
};
