#pragma once

#include "WindowsHost.h"

#include <pluginterfaces/base/funknown.h>
#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/gui/iplugview.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivsthostapplication.h>
#include <pluginterfaces/vst/ivstmessage.h>

#include <memory>
#include <vector>

// The VST3 side of the Windows test host, written from the VST3 interfaces alone.
namespace windows_host
{
    /** A VST3 module as a Windows host opens it: LoadLibrary, then InitDll; ExitDll on close. */
    class Vst3Module final
    {
    public:
        explicit Vst3Module (std::wstring path);
        ~Vst3Module();

        /** Loads the module and calls InitDll; false if either fails. */
        bool open();

        /** GetPluginFactory's answer, which the caller releases. */
        Steinberg::IPluginFactory* getFactory() const;

        /** Calls ExitDll and unloads the module; returns what ExitDll returned. */
        bool close();

    private:
        using EntryFunction = bool (*)();
        using GetFactoryFunction = Steinberg::IPluginFactory*(PLUGIN_API*) ();

        std::wstring path;
        std::unique_ptr<LoadedModule> module;
        EntryFunction exitDll = nullptr;
        GetFactoryFunction getPluginFactory = nullptr;
    };

    /** The number of references an object holds, read through addRef and release. */
    Steinberg::uint32 countReferences (Steinberg::FUnknown& object);

    /** The host's context: a name for the plug-in to read, and no objects of its own. It lives
        on the test's stack, longer than anything the plug-in holds of it. */
    class TestHostApplication final : public Steinberg::Vst::IHostApplication
    {
    public:
        Steinberg::tresult PLUGIN_API getName (Steinberg::Vst::String128 name) override;
        Steinberg::tresult PLUGIN_API createInstance (Steinberg::TUID, Steinberg::TUID, void** object) override;
        Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID interfaceId, void** object) override;
        Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
        Steinberg::uint32 PLUGIN_API release() override { return 1; }
    };

    /** A stream over bytes in memory, such as a host saves a plug-in's state into. It lives
        on the test's stack, longer than anything the plug-in holds of it. */
    class MemoryStream final : public Steinberg::IBStream
    {
    public:
        MemoryStream() = default;
        explicit MemoryStream (std::vector<char> content)
            : bytes (std::move (content))
        {
        }

        const std::vector<char>& getBytes() const noexcept { return bytes; }

        Steinberg::tresult PLUGIN_API read (void* buffer, Steinberg::int32 numBytes, Steinberg::int32* numBytesRead) override;
        Steinberg::tresult PLUGIN_API write (void* buffer, Steinberg::int32 numBytes, Steinberg::int32* numBytesWritten) override;
        Steinberg::tresult PLUGIN_API seek (Steinberg::int64 position, Steinberg::int32 mode, Steinberg::int64* result) override;
        Steinberg::tresult PLUGIN_API tell (Steinberg::int64* position) override;
        Steinberg::tresult PLUGIN_API queryInterface (const Steinberg::TUID interfaceId, void** object) override;
        Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
        Steinberg::uint32 PLUGIN_API release() override { return 1; }

    private:
        std::vector<char> bytes;
        size_t position = 0;
    };

    /** One plug-in instance as a host makes it: the component and its controller created,
        initialised with the host's context and connected to each other. */
    class Vst3Plugin final
    {
    public:
        Vst3Plugin (Steinberg::IPluginFactory& factory, TestHostApplication& host);
        ~Vst3Plugin();

        Vst3Plugin (const Vst3Plugin&) = delete;
        Vst3Plugin& operator= (const Vst3Plugin&) = delete;

        /** True when every step of the set-up succeeded. */
        bool isReady() const noexcept { return ready; }

        Steinberg::Vst::IComponent* component = nullptr;
        Steinberg::Vst::IAudioProcessor* processor = nullptr;
        Steinberg::Vst::IEditController* controller = nullptr;

    private:
        Steinberg::Vst::IConnectionPoint* componentConnection = nullptr;
        Steinberg::Vst::IConnectionPoint* controllerConnection = nullptr;
        bool ready = false;
    };
}
