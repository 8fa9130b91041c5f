#include "EmbeddedImages.h"

juce::Image EmbeddedImages::get (const void* data, int size)
{
    const juce::SharedResourcePointer<EmbeddedImages> set;
    return set->find (data, size);
}

juce::Image EmbeddedImages::find (const void* data, int size)
{
    auto& image = images[data];

    if (! image.isValid())
    {
        image = juce::ImageFileFormat::loadFrom (data, (size_t) size);

        // The artwork is compiled in: an image that does not decode is a broken build.
        jassert (image.isValid());
    }

    return image;
}
