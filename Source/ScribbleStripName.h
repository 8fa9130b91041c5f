#pragma once

#include <juce_core/juce_core.h>

/** What a scribble strip can show: at most 8 characters, each a digit, an ASCII letter or one
    of - = _ + ; : , . / ? ! & * ( ). No space: the console's strips are narrow, and the window's
    strip accepts the same characters when a name is typed.

    fitTrackName makes a host's track name fit, by one fixed rule, so that the console shows a
    name a person recognises. In order:

    1. Each character becomes ASCII. Accented Latin letters lose their accents (é e, Å A),
       ligatures and special letters are spelled out (ß ss, Æ AE, Œ OE, Ø O, Þ Th, Ł L);
       Greek, Cyrillic, Japanese kana and Korean Hangul are transliterated (Вокал Vokal,
       Μπάσο Mpaso, キック Kikku, 보컬 Bokeol). Brackets become parentheses, a backslash or a
       bar a slash, a tilde or a dash a hyphen, an ellipsis a full stop. Quotes, apostrophes
       and # $ % @ ^ vanish. Spaces, and characters with no ASCII form (emoji, Chinese
       characters, symbols), end a word.
    2. The words are joined without spaces. A word after a space starts with a capital, so
       that "Kick In" becomes "KickIn"; a word transliterated from a script without letter
       case starts with a capital too. Digits next to letters form words of their own.
    3. While the name is longer than 8, in this order, one character at a time:
       a. punctuation goes, the rightmost first;
       b. vowels (a, e, i, o, u in either case) go, the rightmost first, but never the
          first letter of a word;
       c. the word with the most letters after its first loses its last letter (of two
          such words, the one further right);
       d. what is left is cut to its first characters, keeping the digits at its end
          ("A B C D E F G H I J 12" ends as "ABCDEF12").
       Digits survive until step d, so "Lead Vocal 1" and "Lead Vocal 2" stay apart.
    4. A name with visible characters none of which has an ASCII form becomes "?", so that
       the strip shows that the track has a name it cannot show; a blank name stays empty.

    So "Lead Vocal 2" shows as "LeadVcl2", "Kick In" as "KickIn", "Gtr L/R" as "GtrL/R" and
    "Background Vocals 3" as "BckgVcl3".

    Threads: pure functions, any thread; they allocate, so not a real-time one.
*/
class ScribbleStripName final
{
public:
    /** The most characters a strip shows. */
    static constexpr int maxLength = 8;

    /** Every character a strip shows. */
    static const char* const allowedCharacters;

    /** The name the strip shows for a track name from the host, by the rule above. */
    static juce::String fitTrackName (const juce::String& trackName);

    ScribbleStripName() = delete;
};
