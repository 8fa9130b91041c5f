# What the plug-in format wrappers tell hosts about Quillmere, where JUCE 7.0.5's wrappers give
# other answers than the product's own and have no setting for it.
#
# VST3 hosts read the SDK version from the class descriptions; the SDK headers let it be set.
# The VST2 and LV2 wrappers are compiled from build-local copies of JUCE's sources with exact,
# checked replacements, so that a JUCE whose text differs stops the configuration instead of
# building a plug-in with unknown answers.

# quillmere_adapt_juce_wrapper (<source below juce_audio_plugin_client> <output file>
#                               <text> <replacement> [<text> <replacement> ...])
# Copies JUCE's wrapper source to <output file>, replacing each <text> (which must occur exactly
# once) by its <replacement>. The copy includes JUCE's helper headers by their module path, so
# it compiles from any folder. The file is rewritten only when its content changes.
function (quillmere_adapt_juce_wrapper source output)
    get_target_property (juceModules juce::juce_audio_plugin_client INTERFACE_JUCE_MODULE_PATH)
    set (path "${juceModules}/juce_audio_plugin_client/${source}")
    file (READ "${path}" text)
    string (REPLACE "#include \"../utility/" "#include \"juce_audio_plugin_client/utility/" text "${text}")

    math (EXPR last "${ARGC} - 1")
    foreach (index RANGE 2 ${last} 2)
        math (EXPR next "${index} + 1")
        if (next GREATER last)
            message (FATAL_ERROR "quillmere_adapt_juce_wrapper: a replacement is missing for '${ARGV${index}}'")
        endif()
        set (old "${ARGV${index}}")
        set (new "${ARGV${next}}")

        string (FIND "${text}" "${old}" first)
        string (FIND "${text}" "${old}" final REVERSE)
        if (first EQUAL -1 OR NOT first EQUAL final)
            message (FATAL_ERROR "${path} does not hold '${old}' exactly once: this JUCE differs from "
                                 "the one Quillmere's wrapper answers were made for (7.0.5)")
        endif()
        string (REPLACE "${old}" "${new}" text "${text}")
    endforeach()

    file (WRITE "${output}.in" "${text}")
    configure_file ("${output}.in" "${output}" COPYONLY)
    set_property (DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
endfunction()

# The VST3 classes name the SDK version the plug-in was made for.
set (QUILLMERE_VST3_SDK_VERSION "kVstVersionString=\"VST 3.6.7\"")
target_compile_definitions (juce_audio_plugin_client_VST3 INTERFACE "${QUILLMERE_VST3_SDK_VERSION}")

# The VST2 effect record promises an editor, replacing processing and program chunks (0x31)
# and nothing else: JUCE adds "no sound in stop" for a plug-in without tail, which lets a host
# stop calling it while the transport stands. The vendor version reads the version code one
# byte per decimal digit (2.0.0 is 200), as the effect version does; JUCE answers the raw code
# (0x20000) for versions from 1.0.0 on.
set (QUILLMERE_VST2_WRAPPER "${CMAKE_BINARY_DIR}/juce-wrappers/juce_VST_Wrapper.cpp")
quillmere_adapt_juce_wrapper (VST/juce_VST_Wrapper.cpp "${QUILLMERE_VST2_WRAPPER}"
    "vstEffect.flags |= Vst2::effFlagsNoSoundInStop;"
    "{} // Quillmere keeps being processed while the transport stands."
    "return convertHexVersionToDecimal (JucePlugin_VersionCode);"
    "return ${QUILLMERE_VST2_VERSION};")

# The VST2 plug-in target compiles this copy in place of JUCE's.
get_target_property (vst2Sources juce_audio_plugin_client_VST INTERFACE_SOURCES)
list (FILTER vst2Sources EXCLUDE REGEX "/juce_audio_plugin_client_VST2\\.cpp$")
list (APPEND vst2Sources "${QUILLMERE_VST2_WRAPPER}")
set_property (TARGET juce_audio_plugin_client_VST PROPERTY INTERFACE_SOURCES ${vst2Sources})

# The LV2 wrapper reads an audio input port that the host left unconnected as silence and never
# touches an unconnected output, where JUCE reads the input through the null pointer (and clears
# the output through it while the processor is suspended), which crashes the host.
#
# Its description gives the version as LV2 counts it. LV2 has no major version (the URI stands
# for it), so the product's major and minor numbers make the LV2 minor version and its patch
# number the micro version: 2.0.0 is 200.0. JUCE leaves the major number out, and LV2 hosts take
# minor version 0 for an experimental plug-in; they take an odd minor or micro number for a
# development build.
set (QUILLMERE_LV2_WRAPPER "${CMAKE_BINARY_DIR}/juce-wrappers/juce_LV2_Client.cpp")
quillmere_adapt_juce_wrapper (LV2/juce_LV2_Client.cpp "${QUILLMERE_LV2_WRAPPER}"
    "audio.copyFrom (i, 0, ports.getBufferForAudioInput (i), audio.getNumSamples());"
    "{ if (const auto* input = ports.getBufferForAudioInput (i)) audio.copyFrom (i, 0, input, audio.getNumSamples()); else audio.clear (i, 0, audio.getNumSamples()); }"
    "std::fill (ptr, ptr + numSteps, 0.0f);"
    "if (ptr != nullptr) std::fill (ptr, ptr + numSteps, 0.0f);"
    "const auto minorVersion = getVersionOrZero (2);"
    "const auto minorVersion = getVersionOrZero (3) * 100 + getVersionOrZero (2);")

# The LV2 plug-in target compiles this copy in place of JUCE's.
if (TARGET juce_audio_plugin_client_LV2)
    get_target_property (lv2Sources juce_audio_plugin_client_LV2 INTERFACE_SOURCES)
    list (FILTER lv2Sources EXCLUDE REGEX "/juce_audio_plugin_client_LV2\\.cpp$")
    list (APPEND lv2Sources "${QUILLMERE_LV2_WRAPPER}")
    set_property (TARGET juce_audio_plugin_client_LV2 PROPERTY INTERFACE_SOURCES ${lv2Sources})
endif()
