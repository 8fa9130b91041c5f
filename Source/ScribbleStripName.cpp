#include "ScribbleStripName.h"

#include <cstring>
#include <optional>
#include <vector>

const char* const ScribbleStripName::allowedCharacters = "1234567890-=_+qwertyuiopQWERTYUIOPasdfghjklASDFGHJKL;:zxcvbnmZXCVBNM,./?!&*()";

namespace
{
    /** The ASCII forms of a block of code points, one word per code point, separated by
        spaces; "." marks one without a form, which ends a word, and "~" one that vanishes.
    */
    struct Block
    {
        juce::juce_wchar first;
        const char* forms;
    };

    // Latin-1 letters and Latin Extended-A, then the Vietnamese letters of Latin Extended
    // Additional: each letter without its accents, ligatures spelled out.
    const Block latinBlocks[] = {
        { 0xc0, "A A A A A A AE C E E E E I I I I D N O O O O O x O U U U U Y Th ss a a a a a a ae c e e e e i i i i d n o o o o o / o u u u u y th y "
                "A a A a A a C c C c C c C c D d D d E e E e E e E e E e G g G g G g G g H h H h I i I i I i I i I i IJ ij J j K k k L l L l L l L l L l "
                "N n N n N n n N n O o O o O o OE oe R r R r R r S s S s S s S s T t T t T t U u U u U u U u U u U u W w Y y Y Z z Z z Z z s" },
        { 0x1a0, "O o . . . . . . . . . . . . . U u" },
        { 0x1ea0, "A a A a A a A a A a A a A a A a A a A a A a A a E e E e E e E e E e E e E e E e I i I i O o O o O o O o O o O o O o O o O o O o "
                  "O o O o U u U u U u U u U u U u U u Y y Y y Y y Y y" },
    };

    // Greek, as modern Greek is commonly written in Latin letters, with the accented vowels.
    const Block greekBlocks[] = {
        { 0x386, "A . E I I . O . Y O i A V G D E Z I Th I K L M N X O P R . S T Y F Ch Ps O I Y a e i i y "
                 "a v g d e z i th i k l m n x o p r s s t y f ch ps o i y o y o" },
    };

    // Cyrillic: Russian, Ukrainian, Belarusian, Serbian and Macedonian letters.
    const Block cyrillicBlocks[] = {
        { 0x400, "E E Dj G Ye Dz I Yi J Lj Nj C K I U Dz "
                 "A B V G D E Zh Z I Y K L M N O P R S T U F Kh Ts Ch Sh Shch ~ Y ~ E Yu Ya "
                 "a b v g d e zh z i y k l m n o p r s t u f kh ts ch sh shch ~ y ~ e yu ya "
                 "e e dj g ye dz i yi j lj nj c k i u dz" },
        { 0x490, "G g" },
    };

    // Japanese kana, from small a (U+3041) to small ke (U+3096); katakana lie 0x60 above.
    // "-" marks the small tsu and the small ya, yu and yo, which change their neighbours, as
    // the small vowels at the even indices from 0 to 8 do.
    const char* const kanaForms = "a a i i u u e e o o ka ga ki gi ku gu ke ge ko go sa za shi ji su zu se ze so zo ta da chi ji - tsu zu te de to do "
                                  "na ni nu ne no ha ba pa hi bi pi fu bu pu he be pe ho bo po ma mi mu me mo - ya - yu - yo ra ri ru re ro wa wa "
                                  "i e o n vu ka ke";

    constexpr juce::juce_wchar hiraganaFirst = 0x3041, hiraganaLast = 0x3096, katakanaOffset = 0x60;

    // Korean Hangul syllables, by the revised romanisation: initial, medial and final jamo.
    const char* const hangulInitials[] = { "g", "kk", "n", "d", "tt", "r", "m", "b", "pp", "s", "ss", "", "j", "jj", "ch", "k", "t", "p", "h" };
    const char* const hangulMedials[] = { "a", "ae", "ya", "yae", "eo", "e", "yeo", "ye", "o", "wa", "wae", "oe", "yo", "u", "wo", "we", "wi", "yu", "eu", "ui", "i" };
    const char* const hangulFinals[] = { "", "k", "k", "k", "n", "n", "n", "t", "l", "k", "m", "l", "l", "l", "p", "l", "m", "p", "p", "t", "t", "ng", "t", "t", "k", "t", "p", "t" };
    constexpr juce::juce_wchar hangulFirst = 0xac00, hangulLast = 0xd7a3;

    /** A table of blocks with its forms split into words, once. */
    struct ParsedBlock
    {
        juce::juce_wchar first;
        juce::StringArray forms;
    };

    template<size_t numBlocks>
    std::vector<ParsedBlock> parse (const Block (&blocks)[numBlocks])
    {
        std::vector<ParsedBlock> parsed;

        for (const auto& block : blocks)
            parsed.push_back ({ block.first, juce::StringArray::fromTokens (block.forms, " ", "") });

        return parsed;
    }

    /** The form of a code point in a table of blocks; null when the table has none. */
    std::optional<juce::String> findForm (const std::vector<ParsedBlock>& blocks, juce::juce_wchar c)
    {
        for (const auto& block : blocks)
        {
            const auto index = (int) c - (int) block.first;

            if (index < 0 || index >= block.forms.size())
                continue;

            if (block.forms[index] == ".")
                return std::nullopt;

            return block.forms[index] == "~" ? juce::String() : block.forms[index];
        }

        return std::nullopt;
    }

    /** Latin, Greek and Cyrillic, parsed on first use; any thread. */
    const std::vector<ParsedBlock>& getAlphabets()
    {
        static const auto alphabets = []
        {
            auto all = parse (latinBlocks);

            for (auto& block : parse (greekBlocks))
                all.push_back (std::move (block));

            for (auto& block : parse (cyrillicBlocks))
                all.push_back (std::move (block));

            return all;
        }();

        return alphabets;
    }

    const juce::StringArray& getKanaForms()
    {
        static const auto forms = juce::StringArray::fromTokens (kanaForms, " ", "");
        return forms;
    }

    bool isAsciiLetter (char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    bool isAsciiDigit (char c) { return c >= '0' && c <= '9'; }
    bool isVowel (char c) { return c != 0 && std::strchr ("aeiouAEIOU", c) != nullptr; }
    char toUpper (char c) { return c >= 'a' && c <= 'z' ? (char) (c - 'a' + 'A') : c; }

    /** One character of the name being fitted, and the word it belongs to. */
    struct Piece
    {
        char c;
        int word;
    };

    /** Builds the ASCII text word by word, then shortens it. */
    class Fitter
    {
    public:
        void addSeparator() { separated = true; }

        /** Adds ASCII text of allowed characters, from a script with or without letter case. */
        void addText (const juce::String& text, bool caseless)
        {
            for (auto c : text)
                addCharacter ((char) c, caseless);
        }

        /** A small vowel after a syllable replaces its vowel: fuぁ is fa, teぃ is ti. */
        void replaceVowel (char vowel, bool caseless)
        {
            const auto n = pieces.size();

            if (n >= 2 && isVowel (pieces[n - 1].c) && isAsciiLetter (pieces[n - 2].c) && ! isVowel (pieces[n - 2].c))
                pieces[n - 1].c = vowel;
            else
                addCharacter (vowel, caseless);
        }

        /** The small tsu doubles the next syllable's first consonant. */
        void doubleNextConsonant() { doubleNext = true; }

        /** A small ya, yu or yo after a syllable in i: kiゃ is kya, shiゃ is sha. */
        void joinGlide (char vowel, bool caseless)
        {
            const auto n = pieces.size();

            if (n >= 2 && pieces[n - 1].c == 'i' && isAsciiLetter (pieces[n - 2].c))
            {
                const auto softened = (n >= 3 && pieces[n - 2].c == 'h' && (pieces[n - 3].c == 's' || pieces[n - 3].c == 'c')) || pieces[n - 2].c == 'j';
                pieces.pop_back();

                if (! softened)
                    addCharacter ('y', caseless);

                addCharacter (vowel, caseless);
            }
            else
            {
                addText (juce::String ("y") + vowel, caseless);
            }
        }

        juce::String finish (bool hadVisibleCharacters)
        {
            capitaliseWords();

            removeWhileTooLong ([this]
                                { return findRightmost ([this] (size_t i)
                                                        { return ! isAsciiLetter (pieces[i].c) && ! isAsciiDigit (pieces[i].c); }); });
            removeWhileTooLong ([this]
                                { return findRightmost ([this] (size_t i)
                                                        { return isVowel (pieces[i].c) && ! isFirstLetterOfWord (i); }); });
            removeWhileTooLong ([this]
                                { return findLastLetterOfLongestWord(); });

            juce::String text;

            for (const auto& piece : pieces)
                text << piece.c;

            if (text.length() > ScribbleStripName::maxLength)
            {
                auto numDigits = 0;

                while (numDigits < text.length() && isAsciiDigit ((char) text[text.length() - 1 - numDigits]))
                    ++numDigits;

                text = numDigits < ScribbleStripName::maxLength ? text.substring (0, ScribbleStripName::maxLength - numDigits) + text.getLastCharacters (numDigits)
                                                                : text.substring (0, ScribbleStripName::maxLength);
            }

            if (text.isEmpty() && hadVisibleCharacters)
                return "?";

            return text;
        }

    private:
        void addCharacter (char c, bool caseless)
        {
            const auto isDigit = isAsciiDigit (c);
            const auto isLetter = isAsciiLetter (c);

            // A word ends at a separator, and where letters meet digits.
            const auto startsWord = words.empty() || separated
                                    || (isDigit && lastKind == Kind::letter) || (isLetter && lastKind == Kind::digit);

            if (startsWord)
                words.push_back ({ separated && ! words.empty(), caseless });

            if (doubleNext && isLetter && ! isVowel (c))
                pieces.push_back ({ c, (int) words.size() - 1 });

            doubleNext = false;
            separated = false;
            pieces.push_back ({ c, (int) words.size() - 1 });

            if (isDigit)
                lastKind = Kind::digit;
            else if (isLetter)
                lastKind = Kind::letter;
        }

        void capitaliseWords()
        {
            for (size_t i = 0; i < pieces.size(); ++i)
            {
                const auto& word = words[(size_t) pieces[i].word];

                if ((word.afterSpace || word.caseless) && isFirstLetterOfWord (i))
                    pieces[i].c = toUpper (pieces[i].c);
            }
        }

        bool isFirstLetterOfWord (size_t index) const
        {
            if (! isAsciiLetter (pieces[index].c))
                return false;

            for (auto i = index; i > 0 && pieces[i - 1].word == pieces[index].word; --i)
                if (isAsciiLetter (pieces[i - 1].c))
                    return false;

            return true;
        }

        template<typename Find>
        void removeWhileTooLong (Find&& find)
        {
            while (pieces.size() > (size_t) ScribbleStripName::maxLength)
            {
                const auto index = find();

                if (index < 0)
                    return;

                pieces.erase (pieces.begin() + index);
            }
        }

        template<typename Matches>
        int findRightmost (Matches&& matches) const
        {
            for (auto i = (int) pieces.size(); --i >= 0;)
                if (matches ((size_t) i))
                    return i;

            return -1;
        }

        /** The last letter of the word with the most letters after its first; -1 if none has any. */
        int findLastLetterOfLongestWord() const
        {
            std::vector<int> lettersAfterFirst (words.size(), 0), lastLetter (words.size(), -1);

            for (size_t i = 0; i < pieces.size(); ++i)
            {
                if (isAsciiLetter (pieces[i].c) && ! isFirstLetterOfWord (i))
                {
                    ++lettersAfterFirst[(size_t) pieces[i].word];
                    lastLetter[(size_t) pieces[i].word] = (int) i;
                }
            }

            auto longest = -1;

            for (size_t w = 0; w < words.size(); ++w)
                if (lettersAfterFirst[w] > 0 && (longest < 0 || lettersAfterFirst[w] >= lettersAfterFirst[(size_t) longest]))
                    longest = (int) w;

            return longest < 0 ? -1 : lastLetter[(size_t) longest];
        }

        enum class Kind
        {
            none,
            letter,
            digit
        };

        struct Word
        {
            bool afterSpace;
            bool caseless;
        };

        std::vector<Piece> pieces;
        std::vector<Word> words;
        Kind lastKind = Kind::none;
        bool separated = false;
        bool doubleNext = false;
    };

    /** What one character of a track name becomes. */
    void addTrackNameCharacter (Fitter& fitter, juce::juce_wchar c)
    {
        if (c > 0 && c < 0x80 && std::strchr (ScribbleStripName::allowedCharacters, (int) c) != nullptr)
        {
            fitter.addText (juce::String::charToString (c), false);
            return;
        }

        // Look-alikes of characters the strip has, and marks that vanish.
        const struct
        {
            const char* characters;
            const char* form;
        } lookAlikes[] = {
            { "[{<\xe2\x80\xb9\xc2\xab", "(" },
            { "]}>\xe2\x80\xba\xc2\xbb", ")" },
            { "\\|", "/" },
            { "~\xe2\x80\x90\xe2\x80\x91\xe2\x80\x92\xe2\x80\x93\xe2\x80\x94\xe2\x88\x92", "-" },
            { "\xe2\x80\xa6", "." },
            { "\"'`#$%@^\xe2\x80\x98\xe2\x80\x99\xe2\x80\x9a\xe2\x80\x9b\xe2\x80\x9c\xe2\x80\x9d\xe2\x80\x9e\xc2\xb4", "" },
        };

        for (const auto& lookAlike : lookAlikes)
        {
            if (juce::String::fromUTF8 (lookAlike.characters).containsChar (c))
            {
                fitter.addText (lookAlike.form, false);
                return;
            }
        }

        if (auto form = findForm (getAlphabets(), c))
            return fitter.addText (*form, false);

        const auto isKatakana = c >= hiraganaFirst + katakanaOffset && c <= 0x30fa;

        if ((c >= hiraganaFirst && c <= hiraganaLast) || isKatakana)
        {
            if (c > hiraganaLast + katakanaOffset) // ヷ ヸ ヹ ヺ
                return fitter.addText (juce::StringArray { "va", "vi", "ve", "vo" }[(int) (c - 0x30f7)], true);

            const auto index = (int) (c - (isKatakana ? hiraganaFirst + katakanaOffset : hiraganaFirst));
            const auto form = getKanaForms()[index];

            if (index <= 8 && index % 2 == 0)
                return fitter.replaceVowel ((char) form[0], true);

            if (form != "-")
                return fitter.addText (form, true);

            // The small tsu, and the small ya, yu and yo.
            if (index == 0x22)
                return fitter.doubleNextConsonant();

            return fitter.joinGlide (index == 0x42 ? 'a' : (index == 0x44 ? 'u' : 'o'), true);
        }

        // The long-vowel mark lengthens what is there already.
        if (c == 0x30fc)
            return;

        if (c >= hangulFirst && c <= hangulLast)
        {
            const auto syllable = (int) (c - hangulFirst);
            juce::String form;
            form << hangulInitials[syllable / (21 * 28)] << hangulMedials[(syllable / 28) % 21] << hangulFinals[syllable % 28];
            return fitter.addText (form, true);
        }

        // Spaces, and everything with no ASCII form, end a word.
        fitter.addSeparator();
    }
}

juce::String ScribbleStripName::fitTrackName (const juce::String& trackName)
{
    Fitter fitter;
    auto hadVisibleCharacters = false;

    for (auto c : trackName)
    {
        addTrackNameCharacter (fitter, c);
        hadVisibleCharacters = hadVisibleCharacters || ! (juce::CharacterFunctions::isWhitespace (c) || c < 0x20 || c == 0x7f);
    }

    return fitter.finish (hadVisibleCharacters);
}
