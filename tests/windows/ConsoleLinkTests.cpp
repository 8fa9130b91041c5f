#include "Vst3Host.h"

#include "../support/ExpectedIdentity.h"

#include <gtest/gtest.h>

#include <pluginterfaces/fst/fst.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

using namespace Steinberg;
using namespace windows_host;

// Quillmere.dll linked to the console process through JUCE's Windows MIDI code, wine's winmm
// and its ALSA driver, and the test sequencer. The program runs under wine-run-with-console,
// which starts the sequencer's router and the console process (a Linux program) beside it;
// the console takes its commands from a file in the router's folder and answers in another.

namespace
{
    /** The console process, reached through the two files of the router's folder. */
    class Console final
    {
    public:
        Console()
        {
            const auto* folder = std::getenv ("QUILLMERE_TEST_SEQUENCER");

            if (folder == nullptr)
                return;

            // The C++ library's file streams take narrow paths, and these are ASCII.
            commandsPath = toAscii (toWindowsPath ((std::string (folder) + "/console-commands").c_str()).c_str());
            answersPath = toAscii (toWindowsPath ((std::string (folder) + "/console-answers").c_str()).c_str());
        }

        bool isReachable() const { return ! commandsPath.empty(); }

        /** Waits for the console to report its port; false after ten seconds. */
        bool waitUntilReady()
        {
            std::string line;

            while (readLine (line, 10000))
                if (line.rfind ("ready ", 0) == 0)
                    return true;

            return false;
        }

        /** Runs a command; the lines answered before "ok", or an "error ..." line last. */
        std::vector<std::string> run (const std::string& command)
        {
            {
                std::ofstream commands (commandsPath, std::ios::app);
                commands << command << '\n';
            }

            std::vector<std::string> lines;
            std::string line;

            while (readLine (line, 10000))
            {
                if (line == "ok")
                    return lines;

                lines.push_back (line);

                if (line.rfind ("error ", 0) == 0)
                    return lines;
            }

            lines.push_back ("error: no answer to " + command);
            return lines;
        }

        /** The events received so far, as "HH HH ..." byte lists. */
        std::vector<std::string> getEvents()
        {
            std::vector<std::string> events;

            for (const auto& line : run ("events"))
                if (line.rfind ("event ", 0) == 0)
                    events.push_back (line.substr (6));

            return events;
        }

        /** A value of the console's strip, such as "level" or "names", from its answer. */
        std::string readStrip (int zone, const std::string& key)
        {
            const auto answer = run ("strip " + std::to_string (zone));
            const auto line = answer.empty() ? std::string() : answer.front();
            const auto at = line.find (" " + key + "=");

            if (at == std::string::npos)
                return {};

            const auto start = at + key.size() + 2;
            return line.substr (start, line.find (' ', start) - start);
        }

    private:
        bool readLine (std::string& line, DWORD timeoutMs)
        {
            const auto end = GetTickCount() + timeoutMs;

            for (;;)
            {
                const auto newline = pending.find ('\n');

                if (newline != std::string::npos)
                {
                    line = pending.substr (0, newline);
                    pending.erase (0, newline + 1);
                    return true;
                }

                if ((LONG) (end - GetTickCount()) <= 0)
                    return false;

                std::ifstream answers (answersPath, std::ios::binary);
                answers.seekg ((std::streamoff) offset);
                std::ostringstream more;
                more << answers.rdbuf();
                const auto text = more.str();
                offset += text.size();
                pending += text;

                if (text.empty())
                    pumpMessages (10);
            }
        }

        std::string commandsPath, answersPath;
        size_t offset = 0;
        std::string pending;
    };

    /** The processor's state chunk as JUCE frames it: a magic number, the text's length, the
        XML text and a zero.
    */
    std::vector<char> makeSettingsChunk (const std::string& xml)
    {
        const std::uint32_t header[] = { 0x21324356, (std::uint32_t) xml.size() };
        std::string bytes (reinterpret_cast<const char*> (header), sizeof (header));
        bytes += xml;
        bytes.push_back (0);
        return { bytes.begin(), bytes.end() };
    }

    const std::string tarnSettings = R"(<QUILLMERESETTINGS midiInName="Tarn16 Automation" midiOutName="Tarn16 Automation" fader="0.5" cut="0" channel="3" channelName="Kick" deviceName="Tarn16"/>)";

    std::string kickStrip()
    {
        std::string text = "F0 00 00 66 05 00 20 02 4B 69 63 6B";

        for (int i = 0; i < 15; ++i)
            text += " 00";

        return text + " F7";
    }

    /** The value of an attribute in the settings a state holds, wherever they lie in it. */
    std::string readSetting (const std::vector<char>& state, const std::string& attribute)
    {
        const std::string text (state.begin(), state.end());
        const auto element = text.find ("<QUILLMERESETTINGS");
        const auto at = text.find (" " + attribute + "=\"", element);

        if (element == std::string::npos || at == std::string::npos)
            return {};

        const auto start = at + attribute.size() + 3;
        return text.substr (start, text.find ('"', start) - start);
    }

    bool pumpUntil (std::function<bool()> condition, DWORD timeoutMs = 20000)
    {
        const auto end = GetTickCount() + timeoutMs;

        while (! condition())
        {
            if ((LONG) (end - GetTickCount()) <= 0)
                return false;

            pumpMessages (20);
        }

        return true;
    }

    /** One instance in either interface, as the test drives it. */
    class LinkedInstance
    {
    public:
        virtual ~LinkedInstance() = default;
        virtual bool isReady() const = 0;
        virtual bool restore (const std::vector<char>& chunk) = 0;
        virtual void automate (int parameter, float value) = 0;
        virtual std::vector<char> getState() = 0;
    };

    t_fstPtrInt vst2HostCallback (AEffect*, int opcode, int, t_fstPtrInt, void*, float)
    {
        switch (opcode)
        {
            case audioMasterVersion:
                return kVstVersion;
            case audioMasterGetSampleRate:
                return 48000;
            case audioMasterGetBlockSize:
                return 512;
            default:
                return 0;
        }
    }

    class Vst2Instance final : public LinkedInstance
    {
    public:
        Vst2Instance()
        {
            using PluginMain = AEffect* (*) (audioMasterCallback);

            if (const auto pluginMain = module.getFunction<PluginMain> ("VSTPluginMain"))
                effect = pluginMain (vst2HostCallback);

            if (effect != nullptr)
            {
                dispatch (effOpen);
                dispatch (effSetSampleRate, 0, 0, nullptr, 48000.0f);
                dispatch (effSetBlockSize, 0, 512);
                dispatch (effMainsChanged, 0, 1);
            }
        }

        ~Vst2Instance() override
        {
            if (effect != nullptr)
            {
                dispatch (effMainsChanged, 0, 0);
                dispatch (effClose);
            }
        }

        bool isReady() const override { return effect != nullptr; }

        bool restore (const std::vector<char>& chunk) override
        {
            auto copy = chunk;
            dispatch (effSetChunk, 0, (t_fstPtrInt) copy.size(), copy.data());
            return true;
        }

        void automate (int parameter, float value) override { effect->setParameter (effect, parameter, value); }

        std::vector<char> getState() override
        {
            void* data = nullptr;
            const auto size = dispatch (effGetChunk, 0, 0, &data);
            const auto* bytes = static_cast<const char*> (data);
            return data != nullptr && size > 0 ? std::vector<char> (bytes, bytes + size) : std::vector<char>();
        }

    private:
        t_fstPtrInt dispatch (int opcode, int index = 0, t_fstPtrInt value = 0, void* ptr = nullptr, float opt = 0.0f)
        {
            return effect->dispatcher (effect, opcode, index, value, ptr, opt);
        }

        LoadedModule module { getModulePath() };
        AEffect* effect = nullptr;
    };

    class Vst3Instance final : public LinkedInstance
    {
    public:
        Vst3Instance()
        {
            if (module.open() && (factory = module.getFactory()) != nullptr)
                plugin = std::make_unique<Vst3Plugin> (*factory, host);
        }

        ~Vst3Instance() override
        {
            plugin.reset();

            if (factory != nullptr)
                factory->release();

            module.close();
        }

        bool isReady() const override { return plugin != nullptr && plugin->isReady(); }

        bool restore (const std::vector<char>& chunk) override
        {
            MemoryStream stream (chunk);
            return plugin->component->setState (&stream) == kResultOk;
        }

        // A host's edit of the parameter, which the controller hands to the processor.
        void automate (int parameter, float value) override
        {
            const auto id = parameter == 0 ? expected_identity::vst3::levelParameterId : expected_identity::vst3::cutParameterId;
            plugin->controller->setParamNormalized (id, value);
        }

        std::vector<char> getState() override
        {
            MemoryStream stream;
            plugin->component->getState (&stream);
            return stream.getBytes();
        }

    private:
        Vst3Module module { getVst3BundleBinaryPath() };
        IPluginFactory* factory = nullptr;
        TestHostApplication host;
        std::unique_ptr<Vst3Plugin> plugin;
    };

    std::string join (const std::vector<std::string>& lines)
    {
        std::string text;

        for (const auto& line : lines)
            text += line + "\n";

        return text;
    }
}

class WindowsConsoleLinkTest : public testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE (console.isReachable()) << "the program runs under wine-run-with-console, which starts the console process";
        ASSERT_TRUE (console.waitUntilReady()) << "the console process did not report its port";

        if (std::string (GetParam()) == "VST3")
            instance = std::make_unique<Vst3Instance>();
        else
            instance = std::make_unique<Vst2Instance>();

        ASSERT_TRUE (instance->isReady());
        console.run ("clear-events");
    }

    void TearDown() override
    {
        instance.reset();
        EXPECT_EQ (join (console.run ("malformed")), "");
    }

    /** Waits until the console's strip of zone 2 has been told its name, cut and level. */
    bool waitForStrip()
    {
        return pumpUntil ([this]
                          { return console.readStrip (2, "names") != "0" && console.readStrip (2, "mutes") != "0" && console.readStrip (2, "levels") != "0"; });
    }

    Console console;
    std::unique_ptr<LinkedInstance> instance;
};

// Short messages go out as short messages, each one event on the sequencer; the strip's
// message goes out as one long message, one whole event.
TEST_P (WindowsConsoleLinkTest, SendsShortMessagesAsShortMessagesAndTheStripAsOneLongMessage)
{
    ASSERT_TRUE (instance->restore (makeSettingsChunk (tarnSettings)));
    ASSERT_TRUE (waitForStrip()) << join (console.getEvents());

    const std::vector<std::string> restored { "B0 02 3F", "B0 22 40", "B0 0C 02", "B0 2C 02", kickStrip() };
    EXPECT_EQ (join (console.getEvents()), join (restored));

    console.run ("clear-events");
    instance->automate (0, 0.75f);
    ASSERT_TRUE (pumpUntil ([this]
                            { return console.getEvents().size() >= 2; }));
    instance->automate (1, 1.0f);
    ASSERT_TRUE (pumpUntil ([this]
                            { return console.getEvents().size() >= 4; }));

    const std::vector<std::string> automated { "B0 02 5F", "B0 22 40", "B0 0C 02", "B0 2C 42" };
    EXPECT_EQ (join (console.getEvents()), join (automated));
}

// What the console's fader does arrives through wine's MIDI input and reaches the parameter.
TEST_P (WindowsConsoleLinkTest, HearsTheConsolesFaderAndCutKey)
{
    ASSERT_TRUE (instance->restore (makeSettingsChunk (tarnSettings)));
    ASSERT_TRUE (waitForStrip());

    for (const auto* command : { "touch 2", "move 2 8192", "release 2", "press-cut 2", "release-cut 2" })
        EXPECT_EQ (join (console.run (command)), "") << command;

    EXPECT_TRUE (pumpUntil ([this]
                            { return readSetting (instance->getState(), "cut") == "1"; }))
        << readSetting (instance->getState(), "cut");
    EXPECT_NEAR (std::atof (readSetting (instance->getState(), "fader").c_str()), 0.500008, 1.0e-5);

    // Both go back to the console: the cut, and the fader's new 8-bit level, 128.
    EXPECT_TRUE (pumpUntil ([this]
                            { return console.readStrip (2, "level") == "128" && console.readStrip (2, "cut") == "1"; }));
}

// A host closes the instance while its console line hangs in the driver, then unloads the
// module. The thread left writing returns into the module's code when the driver goes on, after
// JUCE has shut down: the module stays loaded for it, and the thread touches nothing of JUCE's
// that has gone. Before the module was kept, the process died of a fault at an unmapped address.
TEST_P (WindowsConsoleLinkTest, AModuleUnloadedWhileItsConsoleLineHangsOutlivesTheHang)
{
    // Output only (the input wanted is absent; an empty name would mean the model's default):
    // wine's driver closes an input only once the stopped driver goes on.
    const std::string outputOnly = R"(<QUILLMERESETTINGS midiInName="No Such Port" midiOutName="Tarn16 Automation" fader="0.5" cut="0" channel="3" channelName="Kick" deviceName="Tarn16"/>)";
    ASSERT_TRUE (instance->restore (makeSettingsChunk (outputOnly)));
    ASSERT_TRUE (waitForStrip());
    console.run ("clear-events");

    ASSERT_EQ (join (console.run ("stall-router 3000")), "");
    instance->automate (0, 0.25f);

    // Nothing outside tells when the sender's write is inside the driver; the close below
    // shows that it was, by waiting for it.
    pumpMessages (300);

    const auto closing = GetTickCount();
    instance.reset(); // closes the instance, shuts JUCE down and unloads the module
    const auto closeMs = GetTickCount() - closing;
    EXPECT_GE (closeMs, 400u) << "the close found no write waiting in the driver";
    EXPECT_LT (closeMs, 2500u);

    // The router goes on: the waiting write arrives, and the thread returns and ends.
    EXPECT_TRUE (pumpUntil ([this]
                            { return ! console.getEvents().empty(); },
                            10000));
    pumpMessages (1000);
}

INSTANTIATE_TEST_SUITE_P (Interfaces, WindowsConsoleLinkTest, testing::Values ("VST2", "VST3"), [] (const auto& testCase)
                          { return std::string (testCase.param); });
