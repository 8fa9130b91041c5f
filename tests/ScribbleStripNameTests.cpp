#include "ScribbleStripName.h"

#include <gtest/gtest.h>

namespace
{
    /** Whether a text is one a strip shows: at most 8 characters, all of the strip's set. */
    bool fitsTheStrip (const juce::String& text)
    {
        return text.length() <= ScribbleStripName::maxLength && text.containsOnly (ScribbleStripName::allowedCharacters);
    }

    juce::String utf8 (const char* text) { return juce::String::fromUTF8 (text); }
}

TEST (ScribbleStripName, FitsTrackNamesByTheDocumentedRule)
{
    const struct
    {
        const char* trackName; // UTF-8
        const char* shown;
    } cases[] = {
        // Short names lose their spaces; the next word starts with a capital.
        { "Kick In", "KickIn" },
        { "Gtr L/R", "GtrL/R" },
        { "Snare Top", "SnareTop" },
        { "lead vox", "leadVox" },
        { "Bass", "Bass" },
        { "Synth\tPad", "SynthPad" },
        { "Ac. Gtr", "Ac.Gtr" },

        // Long names lose vowels from the right, never a word's first letter, never digits.
        { "Lead Vocal 2", "LeadVcl2" },
        { "Lead Vocal 1", "LeadVcl1" },
        { "Overheads", "Overheds" },
        { "Crème Brûlée", "CremeBrl" },

        // Then the longest word loses its last letters, the rightmost of two equal ones first.
        { "Background Vocals 3", "BckgVcl3" },
        { "ABCDEFGHIJKL", "ABCDFGHJ" },

        // Punctuation goes first of all.
        { "Piano (Left)", "PianoLft" },
        { "Vox_Dbl-2", "Vox_Dbl2" },
        { "Drums \xe2\x80\x93 Overheads", "DrmsOvrh" },

        // Only single letters and digits left: the front is kept with the digits at the end.
        { "A B C D E F G H I J 12", "ABCDEF12" },
        { "1234567890", "12345678" },

        // Characters the strip lacks: look-alikes, or nothing; quotes vanish inside words.
        { "Kick [In]", "Kick(In)" },
        { "Tom #2", "Tom2" },
        { "Vox \"Dbl\"", "VoxDbl" },
        { "Bob's Amp", "BobsAmp" },
        { "Gtr\\Bass", "Gtr/Bass" },
        { "Keys|Pad", "Keys/Pad" },

        // Accents and special letters of Latin scripts.
        { "Ébène", "Ebene" },
        { "Straße", "Strasse" },
        { "Øresund", "Oresund" },
        { "Trống", "Trong" },
        { "Łódź", "Lodz" },

        // Other scripts, transliterated; scripts without letter case start with a capital.
        { "Вокал 1", "Vokal1" },
        { "Бас-гитара", "Basgitar" },
        { "Щётка", "Shchetka" },
        { "Μπάσο", "Mpaso" },
        { "キック", "Kikku" },
        { "ボーカル", "Bokaru" },
        { "ギター 2", "Gita2" },
        { "ジャズ", "Jazu" },
        { "ティンパニ", "Tinpani" },
        { "보컬", "Bokeol" },

        // Characters with no ASCII form end a word; a name of nothing else shows as "?".
        { "\xf0\x9f\x8e\xb8 Gtr", "Gtr" },
        { "Kick\xe2\x99\xa5in", "KickIn" },
        { "人声", "?" },
        { "\xf0\x9f\xa5\x81", "?" },

        // A blank name stays empty.
        { "", "" },
        { "   ", "" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.trackName);
        const auto shown = ScribbleStripName::fitTrackName (utf8 (c.trackName));
        EXPECT_EQ (shown, utf8 (c.shown));
        EXPECT_TRUE (fitsTheStrip (shown)) << shown;
    }
}

TEST (ScribbleStripName, AnyNameFitsAndKeepsAnAllowedCharacterItHas)
{
    // Random names from a mix of characters the strip has, spaces, look-alikes, letters of
    // other scripts and characters with no form.
    const auto pool = utf8 ("aZ09 -_/()#'\"[]\t\xc3\xa9\xc3\x9f\xd0\xb6\xce\xbb\xe3\x82\xad\xe3\x83\x83\xe3\x83\xa3\xea\xb0\x80\xe4\xba\xba\xf0\x9f\x8e\xb8");
    juce::Random random (24);

    for (int i = 0; i < 2000; ++i)
    {
        juce::String name;

        for (int length = random.nextInt (30); --length >= 0;)
            name << juce::String::charToString (pool[random.nextInt (pool.length())]);

        SCOPED_TRACE (name.toStdString());
        const auto shown = ScribbleStripName::fitTrackName (name);
        EXPECT_TRUE (fitsTheStrip (shown)) << shown;

        // Never empty while the name has anything visible.
        EXPECT_EQ (shown.isEmpty(), name.trim().isEmpty());

        // A name that fits already is shown as it is.
        if (name.isNotEmpty() && fitsTheStrip (name))
        {
            EXPECT_EQ (shown, name);
        }
    }
}
