#pragma once

#include <cstdint>

/** The plug-in's identity as hosts see it, stated once for every test program that checks it:
    the unit tests, the Linux host-level tests and the Windows test host (cross-built with
    MinGW), so it is plain C++17 that needs neither JUCE nor GoogleTest.

    Hosts store these values in their projects and plug-in caches, so they must never change by
    accident. They are written out here as literals, never taken from the build's own settings:
    a change to those settings then fails the tests instead of moving the expectation with it.
*/
namespace expected_identity
{
    /** The plug-in's name, which is also its description and its one program's name. */
    constexpr auto pluginName = "Quillmere";
    constexpr auto programName = "Quillmere";

    constexpr auto manufacturerName = "Velmora";
    constexpr auto manufacturerWebsite = "https://www.velmora.com";
    constexpr auto manufacturerEmail = "support@velmora.com";

    /** Four-character codes: the characters are the code's bytes, most significant first. */
    constexpr std::int32_t manufacturerCode = 0x56656c6d; // 'Velm'
    constexpr auto pluginCodeText = "Plug";
    constexpr std::int32_t pluginCode = 0x506c7567; // 'Plug', also the VST2 unique ID and the AAX product ID

    /** Version 2.0.0, as text and as JUCE's version code (one byte each for major, minor, patch). */
    constexpr auto versionText = "2.0.0";
    constexpr std::int32_t versionCode = 0x20000;

    /** What a VST2 host reads from the effect record and the dispatcher. */
    namespace vst2
    {
        constexpr int numPrograms = 1;
        constexpr int numParameters = 2;
        constexpr int numInputs = 2;
        constexpr int numOutputs = 2;

        /** Has an editor (0x01), processes replacing (0x10), keeps programs in chunks (0x20). */
        constexpr std::int32_t flags = 0x31;

        /** The effect version and the vendor version: the version code's bytes read as
            thousands, hundreds, tens and units.
        */
        constexpr std::int32_t version = 200;

        constexpr int category = 0; // kPlugCategUnknown
        constexpr int vstVersion = 2400;
    }

    /** What a VST3 host reads from the factory and its two classes. */
    namespace vst3
    {
        /** The class identifiers in registry form, derived from the VST2 unique ID and the
            name: "VST" and "VSE" for the processor component and the edit controller, then
            'Plug', then the name's first nine characters in lower case.
        */
        constexpr auto componentClassId = "{56535450-6C75-6771-7569-6C6C6D657265}";
        constexpr auto controllerClassId = "{56534550-6C75-6771-7569-6C6C6D657265}";

        constexpr std::uint32_t classFlags = 0;
        constexpr auto subCategories = "Fx";
        constexpr auto sdkVersion = "VST 3.6.7";

        /** The parameter identifiers hosts store: JUCE's hash of each parameter's index text
            ("0" for the level, "1" for the cut), and its bypass parameter's 'byps'.
        */
        constexpr std::uint32_t levelParameterId = 48;
        constexpr std::uint32_t cutParameterId = 49;
        constexpr std::uint32_t bypassParameterId = 0x62797073;
    }

    /** The version as LV2 counts it: the URI stands for the major version, so 2.0.0 is minor
        version 200, micro version 0.
    */
    namespace lv2
    {
        constexpr int minorVersion = 200;
        constexpr int microVersion = 0;
    }

    /** The settings an AAX build is made with. */
    namespace aax
    {
        constexpr auto identifier = "com.velmora.Quillmere";
        constexpr int category = 0; // AAX_ePlugInCategory_None
        constexpr int disableBypass = 0;
        constexpr int disableMultiMono = 0;
        constexpr int disableAudioSuite = 0;

        /** The plug-in types an AAX host is offered, mono in to mono out, then stereo in to
            stereo out: 'jcaa' and 'jyaa' plus the type's number.
        */
        constexpr std::int32_t monoNativeId = 0x6a636161;       // 'jcaa'
        constexpr std::int32_t monoAudioSuiteId = 0x6a796161;   // 'jyaa'
        constexpr std::int32_t stereoNativeId = 0x6a636162;     // 'jcab'
        constexpr std::int32_t stereoAudioSuiteId = 0x6a796162; // 'jyab'
    }
}
