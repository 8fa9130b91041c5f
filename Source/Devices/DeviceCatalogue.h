#pragma once

#include <juce_core/juce_core.h>

#include <memory>

class ConsoleOutbox;
class QuillmereBaseDevice;
struct StripParameters;

/** The console models the plug-in drives, one row each: what a model says about itself and
    how its device is made. The window lists the models in the catalogue's order, a saved state
    names its model by the row's name, and a state that names none restores the first row.

    Any thread: the rows are constants, complete before any code runs.
*/
class DeviceCatalogue final
{
public:
    /** One model. */
    struct Model
    {
        /** The name the window lists and the state saves. */
        const char* name;

        /** The channel strips the window offers, from 1. */
        int numChannels;

        /** Whether the console shows channel names, which are then sent to it. */
        bool hasScribbleStrips;

        /** The ports through which the console is normally reached, the same for every channel;
            empty where the model suggests none.
        */
        const char* defaultInputName;
        const char* defaultOutputName;

        /** Makes a device of this model that posts to the outbox and changes the parameters,
            both of which outlive it.
        */
        std::unique_ptr<QuillmereBaseDevice> (*createDevice) (ConsoleOutbox& outbox, const StripParameters& parameters);
    };

    /** The rows, by model. */
    static const Model tarn16, tarn48XL, mira;

    static int getNumModels() noexcept;

    /** The row at that index of the catalogue's order; null for an index outside it. */
    static const Model* getModel (int index) noexcept;

    /** The row of exactly that name, letter case and spaces included; null for any other
        name, the empty one too.
    */
    static const Model* findModel (const juce::String& name) noexcept;

    /** The name of the row at that index; empty for an index outside the catalogue. */
    static juce::String getModelName (int index);

    DeviceCatalogue() = delete;
};
