#pragma once

/** The way a MIDI port carries messages between an instance and its console: an input
    brings the console's messages in, an output takes the instance's out to the console.
*/
enum class PortDirection
{
    input,
    output
};
