#pragma once

#include <juce_graphics/juce_graphics.h>

#include <cmath>

namespace testing_helpers
{
    /** How many pixels of a region of an image (a rendered component or a screenshot) show a
        colour: its hue, strongly. Tells whether something is drawn in that colour without
        depending on its exact shading.
    */
    inline int countPixelsLike (const juce::Image& image, juce::Rectangle<int> region, juce::Colour colour)
    {
        auto count = 0;

        for (int y = region.getY(); y < region.getBottom(); ++y)
        {
            for (int x = region.getX(); x < region.getRight(); ++x)
            {
                const auto pixel = image.getPixelAt (x, y);

                if (std::abs (pixel.getHue() - colour.getHue()) < 0.04f && pixel.getSaturation() > 0.5f && pixel.getBrightness() > 0.4f)
                    ++count;
            }
        }

        return count;
    }
}
