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

# quillmere_compile_adapted_wrapper (<JUCE client target> <JUCE's source file name> <adapted copy>)
# Has the plug-in format's client target compile the adapted copy in place of JUCE's source.
function (quillmere_compile_adapted_wrapper clientTarget jucesFile adaptedCopy)
    get_target_property (sources ${clientTarget} INTERFACE_SOURCES)
    string (REPLACE "." "\\." escaped "${jucesFile}")
    list (FILTER sources EXCLUDE REGEX "/${escaped}$")
    list (APPEND sources "${adaptedCopy}")
    set_property (TARGET ${clientTarget} PROPERTY INTERFACE_SOURCES ${sources})
endfunction()

# Linux hosts must only be called on threads they own: JUCE 7.0.5's VST2 and VST3 wrappers run
# the message loop on a thread of their own ("JUCE Plugin Message Thread") until the host serves
# it, and a plug-in that tells the host of a value or a gesture from there crashes hosts that
# keep per-thread state. The adapted wrappers report where the loop runs (HostMessageThread), so
# that the plug-in tells the host on the message thread only while the host serves it.
set (QUILLMERE_HOST_MESSAGE_THREAD_HEADER "#include \"${CMAKE_SOURCE_DIR}/Source/HostMessageThread.h\"")

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
    "return ${QUILLMERE_VST2_VERSION};"
    "#include \"juce_audio_plugin_client/utility/juce_LinuxMessageThread.h\""
    "${QUILLMERE_HOST_MESSAGE_THREAD_HEADER}\n#include \"juce_LinuxMessageThread.h\"")

# The VST2 plug-in target compiles this copy in place of JUCE's.
quillmere_compile_adapted_wrapper (juce_audio_plugin_client_VST juce_audio_plugin_client_VST2.cpp "${QUILLMERE_VST2_WRAPPER}")

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
    quillmere_compile_adapted_wrapper (juce_audio_plugin_client_LV2 juce_audio_plugin_client_LV2.cpp "${QUILLMERE_LV2_WRAPPER}")
endif()


# The VST3 wrapper also takes the run loop that a host offers with the context it gives the
# factory, as a view's frame offers it, so that the host serves the message loop from the start,
# windows open or not. A view that closes lets go of its own registration of the run loop only,
# where JUCE dropped every registration of the same loop.
set (QUILLMERE_VST3_WRAPPER "${CMAKE_BINARY_DIR}/juce-wrappers/juce_VST3_Wrapper.cpp")
quillmere_adapt_juce_wrapper (VST3/juce_VST3_Wrapper.cpp "${QUILLMERE_VST3_WRAPPER}"
    "#include \"juce_audio_plugin_client/utility/juce_LinuxMessageThread.h\""
    "#include \"juce_audio_plugin_client/utility/juce_LinuxMessageThread.h\"\n${QUILLMERE_HOST_MESSAGE_THREAD_HEADER}"
    [=[class HostMessageThreadState
{
public:]=]
    [=[class HostMessageThreadState
{
public:
    // Until a host serves it, the message loop runs on the plug-in's own thread.
    HostMessageThreadState() { ::HostMessageThread::setServedByHost (false); }
]=]
    "state = stateIn;"
    "state = stateIn; ::HostMessageThread::setServedByHost (stateIn == HostMessageThreadAttached::yes);"
    "void registerHandlerForFrame (IPlugFrame* plugFrame)"
    [=[void registerHandlerForRunLoop (Steinberg::Linux::IRunLoop* runLoop)
    {
        refreshAttachedEventLoop ([this, runLoop] { hostRunLoops.insert (runLoop); });
        updateCurrentMessageThread();
    }

    void unregisterHandlerForRunLoop (Steinberg::Linux::IRunLoop* runLoop)
    {
        refreshAttachedEventLoop ([this, runLoop] { const auto found = hostRunLoops.find (runLoop); if (found != hostRunLoops.end()) hostRunLoops.erase (found); });
    }

    void registerHandlerForFrame (IPlugFrame* plugFrame)]=]
    "refreshAttachedEventLoop ([this, runLoop] { hostRunLoops.erase (runLoop); });"
    "unregisterHandlerForRunLoop (runLoop);"
    [=[static JucePluginFactory* globalFactory = nullptr;]=]
    [=[static JucePluginFactory* globalFactory = nullptr;

#if JUCE_LINUX || JUCE_BSD
// The run loop a host offers with the context it gives the factory, registered with the event
// handler for as long as the factory keeps that context.
class HostContextRunLoop
{
public:
    explicit HostContextRunLoop (FUnknown* context)
    {
        if (runLoop.loadFrom (context))
            eventHandler->registerHandlerForRunLoop (runLoop.get());
    }

    ~HostContextRunLoop()
    {
        if (runLoop != nullptr)
            eventHandler->unregisterHandlerForRunLoop (runLoop.get());
    }

    bool isAttached() const noexcept { return runLoop != nullptr; }

private:
    ScopedJuceInitialiser_GUI libraryInitialiser;
    SharedResourcePointer<MessageThread> messageThread;
    SharedResourcePointer<EventHandler> eventHandler;
    VSTComSmartPtr<Steinberg::Linux::IRunLoop> runLoop;

    JUCE_DECLARE_NON_COPYABLE (HostContextRunLoop)
};
#endif]=]
    [=[    tresult PLUGIN_API setHostContext (FUnknown* context) override
    {
        host.loadFrom (context);
]=]
    [=[    tresult PLUGIN_API setHostContext (FUnknown* context) override
    {
        host.loadFrom (context);

       #if JUCE_LINUX || JUCE_BSD
        hostContextRunLoop.reset();

        if (auto offered = std::make_unique<HostContextRunLoop> (context); offered->isAttached())
            hostContextRunLoop = std::move (offered);
       #endif
]=]
    [=[    const PFactoryInfo factoryInfo;
    VSTComSmartPtr<Vst::IHostApplication> host;]=]
    [=[    const PFactoryInfo factoryInfo;
    VSTComSmartPtr<Vst::IHostApplication> host;

   #if JUCE_LINUX || JUCE_BSD
    std::unique_ptr<HostContextRunLoop> hostContextRunLoop;
   #endif]=])

# The VST3 plug-in target compiles this copy in place of JUCE's.
quillmere_compile_adapted_wrapper (juce_audio_plugin_client_VST3 juce_audio_plugin_client_VST3.cpp "${QUILLMERE_VST3_WRAPPER}")

# The VST2 wrapper serves the message loop on the host's thread while a HostDrivenEventLoop
# exists (the window is open, or the host is calling in): the adapted copy of JUCE's helper
# reports when it does, and when the plug-in's own thread takes the loop back.
set (QUILLMERE_LINUX_MESSAGE_THREAD "${CMAKE_BINARY_DIR}/juce-wrappers/juce_LinuxMessageThread.h")
quillmere_adapt_juce_wrapper (utility/juce_LinuxMessageThread.h "${QUILLMERE_LINUX_MESSAGE_THREAD}"
    "        startThread (Priority::high);"
    "        ::HostMessageThread::setServedByHost (false);\n        startThread (Priority::high);"
    [=[    HostDrivenEventLoop()
    {
        messageThread->stop();
        MessageManager::getInstance()->setCurrentThreadAsMessageThread();]=]
    [=[    HostDrivenEventLoop()
    {
        messageThread->stop();
        MessageManager::getInstance()->setCurrentThreadAsMessageThread();
        ::HostMessageThread::setServedByHost (true);]=])
