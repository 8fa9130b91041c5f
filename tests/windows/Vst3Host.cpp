#include "Vst3Host.h"

#include "../support/ExpectedIdentity.h"

#include <algorithm>
#include <cstring>

using namespace Steinberg;

// The editor view's interface identifier, which the SDK's identifier sources leave out.
namespace Steinberg
{
    DEF_CLASS_IID (IPlugView)
}

namespace windows_host
{
    Vst3Module::Vst3Module (std::wstring pathToOpen)
        : path (std::move (pathToOpen))
    {
    }

    Vst3Module::~Vst3Module()
    {
        close();
    }

    bool Vst3Module::open()
    {
        module = std::make_unique<LoadedModule> (path);

        const auto initDll = module->getFunction<EntryFunction> ("InitDll");
        exitDll = module->getFunction<EntryFunction> ("ExitDll");
        getPluginFactory = module->getFunction<GetFactoryFunction> ("GetPluginFactory");

        if (initDll == nullptr || exitDll == nullptr || getPluginFactory == nullptr || ! initDll())
        {
            exitDll = nullptr;
            module.reset();
            return false;
        }

        return true;
    }

    IPluginFactory* Vst3Module::getFactory() const
    {
        return getPluginFactory != nullptr ? getPluginFactory() : nullptr;
    }

    bool Vst3Module::close()
    {
        const auto exited = exitDll != nullptr && exitDll();
        exitDll = nullptr;
        getPluginFactory = nullptr;
        module.reset();
        return exited;
    }

    uint32 countReferences (FUnknown& object)
    {
        const auto count = object.addRef() - 1;
        object.release();
        return count;
    }

    tresult PLUGIN_API TestHostApplication::getName (Vst::String128 name)
    {
        const char text[] = "Quillmere Windows test host";

        for (size_t i = 0; i < sizeof (text); ++i)
            name[i] = (Vst::TChar) text[i];

        return kResultOk;
    }

    tresult PLUGIN_API TestHostApplication::createInstance (TUID, TUID, void** object)
    {
        *object = nullptr;
        return kNotImplemented;
    }

    tresult PLUGIN_API TestHostApplication::queryInterface (const TUID interfaceId, void** object)
    {
        if (FUnknownPrivate::iidEqual (interfaceId, FUnknown::iid) || FUnknownPrivate::iidEqual (interfaceId, Vst::IHostApplication::iid))
        {
            *object = this;
            return kResultOk;
        }

        *object = nullptr;
        return kNoInterface;
    }

    tresult PLUGIN_API MemoryStream::read (void* buffer, int32 numBytes, int32* numBytesRead)
    {
        const auto count = std::min ((size_t) std::max (numBytes, 0), bytes.size() - std::min (position, bytes.size()));

        if (count > 0)
            std::memcpy (buffer, bytes.data() + position, count);

        position += count;

        if (numBytesRead != nullptr)
            *numBytesRead = (int32) count;

        return kResultOk;
    }

    tresult PLUGIN_API MemoryStream::write (void* buffer, int32 numBytes, int32* numBytesWritten)
    {
        if (numBytes < 0)
            return kInvalidArgument;

        if (bytes.size() < position + (size_t) numBytes)
            bytes.resize (position + (size_t) numBytes);

        std::memcpy (bytes.data() + position, buffer, (size_t) numBytes);
        position += (size_t) numBytes;

        if (numBytesWritten != nullptr)
            *numBytesWritten = numBytes;

        return kResultOk;
    }

    tresult PLUGIN_API MemoryStream::seek (int64 offset, int32 mode, int64* result)
    {
        const auto base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? (int64) position
                                                                      : (int64) bytes.size();

        if (base + offset < 0)
            return kInvalidArgument;

        position = (size_t) (base + offset);

        if (result != nullptr)
            *result = (int64) position;

        return kResultOk;
    }

    tresult PLUGIN_API MemoryStream::tell (int64* result)
    {
        if (result == nullptr)
            return kInvalidArgument;

        *result = (int64) position;
        return kResultOk;
    }

    tresult PLUGIN_API MemoryStream::queryInterface (const TUID interfaceId, void** object)
    {
        if (FUnknownPrivate::iidEqual (interfaceId, FUnknown::iid) || FUnknownPrivate::iidEqual (interfaceId, IBStream::iid))
        {
            *object = this;
            return kResultOk;
        }

        *object = nullptr;
        return kNoInterface;
    }

    Vst3Plugin::Vst3Plugin (IPluginFactory& factory, TestHostApplication& host)
    {
        const auto componentId = classIdFromString (expected_identity::vst3::componentClassId);

        if (factory.createInstance (reinterpret_cast<FIDString> (componentId.data()), Vst::IComponent::iid, reinterpret_cast<void**> (&component)) != kResultOk
            || component == nullptr)
            return;

        if (component->initialize (&host) != kResultOk
            || component->queryInterface (Vst::IAudioProcessor::iid, reinterpret_cast<void**> (&processor)) != kResultOk)
            return;

        TUID controllerId {};

        if (component->getControllerClassId (controllerId) != kResultOk
            || factory.createInstance (reinterpret_cast<FIDString> (controllerId), Vst::IEditController::iid, reinterpret_cast<void**> (&controller)) != kResultOk
            || controller == nullptr)
            return;

        if (controller->initialize (&host) != kResultOk)
            return;

        // Connected directly, as hosts that run both in one process do; the controller shows
        // the processor's parameters only once connected.
        if (component->queryInterface (Vst::IConnectionPoint::iid, reinterpret_cast<void**> (&componentConnection)) != kResultOk
            || controller->queryInterface (Vst::IConnectionPoint::iid, reinterpret_cast<void**> (&controllerConnection)) != kResultOk)
            return;

        ready = componentConnection->connect (controllerConnection) == kResultOk
                && controllerConnection->connect (componentConnection) == kResultOk;
    }

    Vst3Plugin::~Vst3Plugin()
    {
        if (componentConnection != nullptr && controllerConnection != nullptr)
        {
            componentConnection->disconnect (controllerConnection);
            controllerConnection->disconnect (componentConnection);
        }

        for (auto* connection : { componentConnection, controllerConnection })
            if (connection != nullptr)
                connection->release();

        if (controller != nullptr)
        {
            controller->terminate();
            controller->release();
        }

        if (processor != nullptr)
            processor->release();

        if (component != nullptr)
        {
            component->terminate();
            component->release();
        }
    }
}
