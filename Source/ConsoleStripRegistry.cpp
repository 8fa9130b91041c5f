#include "ConsoleStripRegistry.h"

#include <algorithm>
#include <mutex>

namespace
{
    struct Registrations
    {
        std::mutex lock; // guards all and every registration's port, channel and name
        std::vector<const ConsoleStripRegistry::Registration*> all;
        std::atomic<int> changes { 0 };
    };

    Registrations& getRegistrations()
    {
        static Registrations registrations;
        return registrations;
    }

    /** Stores a value under the registry's lock and counts the change, if it is one. */
    template<typename Value>
    void store (Value& member, const Value& value)
    {
        auto& registrations = getRegistrations();

        {
            const std::lock_guard<std::mutex> lock (registrations.lock);

            if (member == value)
                return;

            member = value;
        }

        ++registrations.changes;
    }
}

ConsoleStripRegistry::Registration::Registration()
{
    auto& registrations = getRegistrations();

    {
        const std::lock_guard<std::mutex> lock (registrations.lock);
        registrations.all.push_back (this);
    }

    ++registrations.changes;
}

ConsoleStripRegistry::Registration::~Registration()
{
    auto& registrations = getRegistrations();

    {
        const std::lock_guard<std::mutex> lock (registrations.lock);
        auto& all = registrations.all;
        all.erase (std::remove (all.begin(), all.end(), this), all.end());
    }

    ++registrations.changes;
}

void ConsoleStripRegistry::Registration::setPort (const juce::String& outputPortName) { store (port, outputPortName); }

void ConsoleStripRegistry::Registration::setChannel (int newChannel) { store (channel, newChannel); }

void ConsoleStripRegistry::Registration::setName (const juce::String& newName) { store (name, newName); }

std::vector<ConsoleStripRegistry::Strip> ConsoleStripRegistry::Registration::getStripsOfOthers() const
{
    auto& registrations = getRegistrations();
    std::vector<Strip> strips;

    {
        const std::lock_guard<std::mutex> lock (registrations.lock);

        if (port.isEmpty())
            return strips;

        for (const auto* other : registrations.all)
            if (other != this && other->port == port && other->channel >= 1)
                strips.push_back ({ other->channel, other->name });
    }

    std::stable_sort (strips.begin(), strips.end(), [] (const Strip& a, const Strip& b)
                      { return a.channel < b.channel; });
    return strips;
}

int ConsoleStripRegistry::getChangeCount() noexcept
{
    return getRegistrations().changes.load();
}
