#include "HostHelpers.h"

#include "../support/ExpectedIdentity.h"

#include <pluginterfaces/base/funknown.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <public.sdk/source/common/memorystream.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

// At global scope, where JUCE declares the AEffect its hosting classes hand out.
#include <pluginterfaces/vst2.x/aeffectx.h>

namespace host_helpers
{
    namespace
    {
        /** The LV2 state property under which JUCE's LV2 wrapper keeps the processor's chunk,
            as JUCE's base-64 text, in the state a host saves.
        */
        const juce::String lv2StateProperty = "<" + lv2Uri + ":StateString> \"";

        juce::Range<int> findLv2StateText (const juce::String& state)
        {
            const auto start = state.indexOf (lv2StateProperty);

            if (start < 0)
                return {};

            const auto textStart = start + lv2StateProperty.length();
            const auto textEnd = state.indexOfChar (textStart, '"');
            return textEnd < 0 ? juce::Range<int>() : juce::Range<int> (textStart, textEnd);
        }

        juce::String getLv2State (juce::AudioPluginInstance& instance)
        {
            juce::MemoryBlock state;
            instance.getStateInformation (state);
            return state.toString();
        }

        struct NativeInstance final : public juce::ExtensionsVisitor
        {
            void visitVST3Client (const VST3Client& client) override { component = client.getIComponentPtr(); }
            void visitVSTClient (const VSTClient& client) override { effect = client.getAEffectPtr(); }

            Steinberg::Vst::IComponent* component = nullptr;
            AEffect* effect = nullptr;
        };

        NativeInstance getNativeInstance (juce::AudioPluginInstance& instance)
        {
            NativeInstance native;
            instance.getExtensions (native);
            return native;
        }

        /** The VST3 component's state: a VST2 header ('VstW', its size, version and bypass),
            then a VST2 bank holding the processor's chunk.
        */
        constexpr size_t vst3StateBankOffset = 16;

        juce::AudioPluginFormat* findFormat (const juce::String& formatName)
        {
            for (auto* format : getFormatManager().getFormats())
                if (format->getName() == formatName)
                    return format;

            return nullptr;
        }

        juce::String getIdentifier (const juce::String& formatName)
        {
            if (formatName == "VST3")
                return getVst3Bundle().getFullPathName();

            if (formatName == "VST")
                return getVst2Module().getFullPathName();

            return lv2Uri;
        }

        juce::uint32 readBigEndian (const juce::MemoryBlock& data, size_t offset)
        {
            return juce::ByteOrder::bigEndianInt (static_cast<const char*> (data.getData()) + offset);
        }
    }

    std::unique_ptr<juce::PluginDescription> describePlugin (const juce::String& formatName)
    {
        auto* format = findFormat (formatName);

        if (format == nullptr)
            return {};

        juce::OwnedArray<juce::PluginDescription> found;
        format->findAllTypesForFile (found, getIdentifier (formatName));

        if (found.size() != 1)
            return {};

        return std::unique_ptr<juce::PluginDescription> (found.removeAndReturn (0));
    }

    std::unique_ptr<juce::AudioPluginInstance> loadPlugin (const juce::String& formatName, juce::String& error)
    {
        const auto description = describePlugin (formatName);

        if (description == nullptr)
        {
            error = "no " + formatName + " plug-in found at " + getIdentifier (formatName);
            return {};
        }

        return getFormatManager().createPluginInstance (*description, 48000.0, 512, error);
    }

    Steinberg::Vst::IComponent* getVst3Component (juce::AudioPluginInstance& instance) { return getNativeInstance (instance).component; }

    bool writePluginChunk (juce::AudioPluginInstance& instance, const juce::MemoryBlock& chunk)
    {
        const auto native = getNativeInstance (instance);

        // The interfaces take the data as writable.
        auto data = chunk;

        if (auto* effect = native.effect)
        {
            // Index 0: the chunk of the whole bank, which is what hosts save in projects.
            effect->dispatcher (effect, effSetChunk, 0, (VstIntPtr) data.getSize(), data.getData(), 0.0f);
            return true;
        }

        if (auto* component = native.component)
        {
            Steinberg::MemoryStream stream;
            Steinberg::int32 written = 0;
            stream.write (data.getData(), (Steinberg::int32) data.getSize(), &written);
            return written == (Steinberg::int32) chunk.getSize() && component->setState (&stream) == Steinberg::kResultTrue;
        }

        auto state = getLv2State (instance);
        const auto text = findLv2StateText (state);

        if (text.isEmpty())
            return false;

        state = state.replaceSection (text.getStart(), text.getLength(), chunk.toBase64Encoding());
        instance.setStateInformation (state.toRawUTF8(), (int) state.getNumBytesAsUTF8());
        return true;
    }

    juce::MemoryBlock readPluginChunk (juce::AudioPluginInstance& instance)
    {
        const auto native = getNativeInstance (instance);

        if (auto* effect = native.effect)
        {
            void* data = nullptr;
            const auto size = effect->dispatcher (effect, effGetChunk, 0, 0, &data, 0.0f);
            return data != nullptr && size > 0 ? juce::MemoryBlock (data, (size_t) size) : juce::MemoryBlock();
        }

        if (auto* component = native.component)
        {
            Steinberg::MemoryStream stream;

            if (component->getState (&stream) != Steinberg::kResultOk)
                return {};

            const juce::MemoryBlock state (stream.getData(), (size_t) stream.getSize());
            Vst2Bank bank;

            if (state.getSize() < vst3StateBankOffset
                || juce::ByteOrder::bigEndianInt (state.getData()) != juce::ByteOrder::bigEndianInt ("VstW")
                || ! readVst2Bank (state, vst3StateBankOffset, bank))
                return {};

            return bank.chunk;
        }

        const auto state = getLv2State (instance);
        const auto text = findLv2StateText (state);
        juce::MemoryBlock chunk;

        if (! text.isEmpty())
            chunk.fromBase64Encoding (state.substring (text.getStart(), text.getEnd()));

        return chunk;
    }

    namespace
    {
        /** The bytes of a class identifier in registry form, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}",
            read by the VST3 SDK as hosts read the identifiers they stored; all zero if the text
            is not in that form.
        */
        std::array<juce::uint8, 16> classIdFromRegistryForm (const char* registryForm)
        {
            std::array<juce::uint8, 16> bytes {};
            Steinberg::FUID classId;

            if (classId.fromRegistryString (registryForm))
            {
                Steinberg::TUID tuid;
                classId.toTUID (tuid);
                std::memcpy (bytes.data(), tuid, bytes.size());
            }

            return bytes;
        }
    }

    std::array<juce::uint8, 16> getExpectedComponentClassId() { return classIdFromRegistryForm (expected_identity::vst3::componentClassId); }

    std::array<juce::uint8, 16> getExpectedControllerClassId() { return classIdFromRegistryForm (expected_identity::vst3::controllerClassId); }

    std::array<juce::uint8, 16> findVst3ClassId (const char* category)
    {
        std::array<juce::uint8, 16> classId {};
        juce::DynamicLibrary module;

        if (! module.open (getVst3Module().getFullPathName()))
            return classId;

        // A Linux host enters the module before it asks for the factory, and leaves it after.
        using ModuleEntry = bool (*) (void*);
        using ModuleExit = bool (*)();
        using GetFactory = Steinberg::IPluginFactory* (*) ();

        auto moduleEntry = reinterpret_cast<ModuleEntry> (module.getFunction ("ModuleEntry"));
        auto moduleExit = reinterpret_cast<ModuleExit> (module.getFunction ("ModuleExit"));
        auto getFactory = reinterpret_cast<GetFactory> (module.getFunction ("GetPluginFactory"));

        if (moduleEntry != nullptr && moduleExit != nullptr && getFactory != nullptr && moduleEntry (module.getNativeHandle()))
        {
            if (auto* factory = getFactory())
            {
                for (Steinberg::int32 i = 0; i < factory->countClasses(); ++i)
                {
                    Steinberg::PClassInfo info;

                    if (factory->getClassInfo (i, &info) == Steinberg::kResultOk && std::strcmp (info.category, category) == 0)
                        std::memcpy (classId.data(), info.cid, classId.size());
                }

                factory->release();
            }

            moduleExit();
        }

        return classId;
    }

    juce::MemoryBlock makeSettingsChunk (const juce::String& xmlText)
    {
        juce::MemoryBlock chunk;

        if (const auto xml = juce::parseXML (xmlText))
            juce::AudioProcessor::copyXmlToBinary (*xml, chunk);

        return chunk;
    }

    std::unique_ptr<juce::XmlElement> readSettingsChunk (const juce::MemoryBlock& chunk)
    {
        auto xml = juce::AudioProcessor::getXmlFromBinary (chunk.getData(), (int) chunk.getSize());
        return xml != nullptr && xml->getTagName() == "QUILLMERESETTINGS" ? std::move (xml) : nullptr;
    }

    bool readVst2Bank (const juce::MemoryBlock& data, size_t offset, Vst2Bank& bank)
    {
        // chunkMagic, byteSize, fxMagic, version, fxID, fxVersion, numPrograms, 128 reserved
        // bytes, then the chunk's size and the chunk; all numbers big-endian.
        constexpr size_t chunkSizeOffset = 156;
        constexpr size_t headerSize = 160;

        if (data.getSize() < offset + headerSize
            || readBigEndian (data, offset) != juce::ByteOrder::bigEndianInt ("CcnK")
            || readBigEndian (data, offset + 8) != juce::ByteOrder::bigEndianInt ("FBCh"))
            return false;

        const auto chunkSize = (size_t) readBigEndian (data, offset + chunkSizeOffset);

        if (data.getSize() < offset + headerSize + chunkSize)
            return false;

        bank.fxId = readBigEndian (data, offset + 16);
        bank.fxVersion = readBigEndian (data, offset + 20);
        bank.chunk = juce::MemoryBlock (static_cast<const char*> (data.getData()) + offset + headerSize, chunkSize);
        return true;
    }

    namespace
    {
        /** Where the standard error stream goes while assertions are watched for. */
        struct ErrorStreamCapture
        {
            juce::File file;
            int savedErrorStream = -1;
            int watches = 0;
            juce::int64 expectedUpTo = 0;
        };

        ErrorStreamCapture capture;

        juce::int64 capturedSize()
        {
            std::fflush (stderr);
            return capture.file.getSize();
        }
    }

    AssertionWatch::AssertionWatch()
    {
        if (capture.watches++ == 0)
        {
            capture.file = juce::File::getSpecialLocation (juce::File::tempDirectory).getChildFile ("QuillmereHostTests-stderr-" + juce::String (getpid()) + ".log");
            capture.expectedUpTo = 0;
            std::fprintf (stderr, "(standard error goes to %s while assertions are watched for)\n", capture.file.getFullPathName().toRawUTF8());
            std::fflush (stderr);
            capture.savedErrorStream = dup (STDERR_FILENO);
            const auto file = open (capture.file.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

            // Without the file, assertions would go unseen: stop the test program instead.
            if (capture.savedErrorStream < 0 || file < 0 || dup2 (file, STDERR_FILENO) < 0)
                std::abort();

            close (file);
        }

        start = capturedSize();
    }

    AssertionWatch::~AssertionWatch()
    {
        if (--capture.watches > 0)
            return;

        std::fflush (stderr);
        dup2 (capture.savedErrorStream, STDERR_FILENO);
        close (capture.savedErrorStream);

        std::fputs (capture.file.loadFileAsString().toRawUTF8(), stderr);
        capture.file.deleteFile();
    }

    juce::StringArray AssertionWatch::getAssertions() const { return getAssertionsFrom (start); }

    void AssertionWatch::expectThoseSeen() { capture.expectedUpTo = capturedSize(); }

    juce::StringArray AssertionWatch::getUnexpectedAssertions() const
    {
        return getAssertionsFrom (std::max (start, capture.expectedUpTo));
    }

    juce::StringArray AssertionWatch::getAssertionsFrom (juce::int64 offset) const
    {
        std::fflush (stderr);
        juce::MemoryBlock written;
        capture.file.loadFileAsData (written);

        juce::StringArray lines;

        if ((size_t) offset < written.getSize())
            lines.addLines (juce::String::fromUTF8 (static_cast<const char*> (written.getData()) + offset, (int) (written.getSize() - (size_t) offset)));

        juce::StringArray assertions;

        for (const auto& line : lines)
            if (line.contains ("JUCE Assertion failure"))
                assertions.add (line.trim());

        return assertions;
    }

    bool hasDisplay() { return std::getenv ("DISPLAY") != nullptr; }
}
