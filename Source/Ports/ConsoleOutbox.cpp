#include "ConsoleOutbox.h"
#include "PortSender.h"

#include <optional>
#include <thread>

namespace
{
    // A slot's word: the pending flag, the place in line, and below them what the message is.
    constexpr juce::uint64 pendingBit = (juce::uint64) 1 << 63;
    constexpr int ticketShift = 53;
    constexpr juce::uint32 ticketMask = 0x3ff;
    constexpr int channelShift = 32;
    constexpr juce::uint32 channelMask = 0x7fff; // channels equal in these bits share a zone: 32768 is a multiple of 8
    constexpr juce::uint64 contentMask = ((juce::uint64) 1 << ticketShift) - 1;

    // The name's state word: the middle buffer, whether it is fresh, its place in line.
    constexpr juce::uint32 nameIndexMask = 3;
    constexpr juce::uint32 nameFreshBit = 4;
    constexpr int nameTicketShift = 3;

    constexpr int controllerPairBytes = 6;

    juce::uint32 ticketOf (juce::uint64 word) noexcept { return (juce::uint32) (word >> ticketShift) & ticketMask; }

    /** A level or mute slot's place in line, while its message waits. */
    std::optional<juce::uint32> placeOfWaitingPair (juce::uint64 word) noexcept
    {
        return (word & pendingBit) != 0 ? std::optional<juce::uint32> (ticketOf (word)) : std::nullopt;
    }

    /** The name's place in line, while a fresh name waits. */
    std::optional<juce::uint32> placeOfWaitingName (juce::uint32 word) noexcept
    {
        return (word & nameFreshBit) != 0 ? std::optional<juce::uint32> ((word >> nameTicketShift) & ticketMask) : std::nullopt;
    }

    /** Whether place a comes before place b in line. Places count up and wrap; at most a few
        messages of one outbox wait at a time, so they lie close together.
    */
    bool isEarlier (juce::uint32 a, juce::uint32 b) noexcept
    {
        const auto distance = (b - a) & ticketMask;
        return distance != 0 && distance <= ticketMask / 2;
    }

    /** Two controller changes on one MIDI channel in 32 bits: the channel nibble and the four
        7-bit data bytes. False for anything else.
    */
    bool packControllerPair (const juce::MidiMessage& message, juce::uint32& packed) noexcept
    {
        if (message.getRawDataSize() != controllerPairBytes)
            return false;

        const auto* d = message.getRawData();

        if ((d[0] & 0xf0) != 0xb0 || d[3] != d[0] || ((d[1] | d[2] | d[4] | d[5]) & 0x80) != 0)
            return false;

        packed = ((juce::uint32) (d[0] & 0x0f) << 28) | ((juce::uint32) d[1] << 21) | ((juce::uint32) d[2] << 14)
                 | ((juce::uint32) d[4] << 7) | (juce::uint32) d[5];
        return true;
    }

    void unpackControllerPair (juce::uint32 packed, juce::uint8* out) noexcept
    {
        const auto status = (juce::uint8) (0xb0 | ((packed >> 28) & 0x0f));
        out[0] = status;
        out[1] = (juce::uint8) ((packed >> 21) & 0x7f);
        out[2] = (juce::uint8) ((packed >> 14) & 0x7f);
        out[3] = status;
        out[4] = (juce::uint8) ((packed >> 7) & 0x7f);
        out[5] = (juce::uint8) (packed & 0x7f);
    }
}

ConsoleOutbox::ConsoleOutbox() = default;

ConsoleOutbox::~ConsoleOutbox()
{
    // The owner detaches before its port closes.
    jassert (! isAttached());
    detach();
}

juce::uint32 ConsoleOutbox::takeTicket() noexcept
{
    return nextTicket.fetch_add (1) & ticketMask;
}

template<typename Word, typename PlaceOfWaiting, typename Compose>
Word ConsoleOutbox::joinLine (std::atomic<Word>& slot, PlaceOfWaiting placeOfWaiting, Compose compose) noexcept
{
    // A message that still waits is replaced in its place; otherwise the new one takes the
    // next place, drawn once however often the swap is retried.
    std::optional<juce::uint32> ownTicket;
    auto old = slot.load();

    for (;;)
    {
        auto ticket = placeOfWaiting (old);

        if (! ticket.has_value())
        {
            if (! ownTicket.has_value())
                ownTicket = takeTicket();

            ticket = ownTicket;
        }

        if (slot.compare_exchange_weak (old, compose (*ticket)))
            return old;
    }
}

void ConsoleOutbox::postControllerPair (std::atomic<juce::uint64>& slot, int channel, const juce::MidiMessage& message) noexcept
{
    juce::uint32 packed = 0;

    if (! packControllerPair (message, packed))
    {
        jassertfalse; // the devices build only controller pairs for levels and mutes
        return;
    }

    const RealtimeReadGuard::ReadScope scope (senderGuard);
    auto* currentSender = sender.load();

    if (currentSender == nullptr)
        return;

    const auto content = ((juce::uint64) ((juce::uint32) channel & channelMask) << channelShift) | packed;

    joinLine (slot, placeOfWaitingPair, [content] (juce::uint32 ticket)
              { return pendingBit | ((juce::uint64) ticket << ticketShift) | content; });

    currentSender->wake();
}

void ConsoleOutbox::postLevel (int channel, const juce::MidiMessage& message) noexcept
{
    postControllerPair (levelSlot, channel, message);
}

void ConsoleOutbox::postMute (const juce::MidiMessage& message) noexcept
{
    postControllerPair (muteSlot, 0, message);
}

void ConsoleOutbox::postName (const juce::MidiMessage& message) noexcept
{
    const auto size = message.getRawDataSize();

    if (size <= 0 || size > maxMessageBytes)
    {
        jassertfalse;
        return;
    }

    const RealtimeReadGuard::ReadScope scope (senderGuard);
    auto* currentSender = sender.load();

    if (currentSender == nullptr)
        return;

    {
        const std::lock_guard<std::mutex> lock (namePostersLock);

        auto& back = nameBuffers[nameBackIndex];
        std::memcpy (back.bytes, message.getRawData(), (size_t) size);
        back.size = size;

        const auto old = joinLine (nameState, placeOfWaitingName, [this] (juce::uint32 ticket)
                                   { return (juce::uint32) nameBackIndex | nameFreshBit | (ticket << nameTicketShift); });

        // The buffer that was in the middle is the posters' to write next.
        nameBackIndex = (int) (old & nameIndexMask);
    }

    currentSender->wake();
}

void ConsoleOutbox::forgetLevelCache() noexcept
{
    levelGeneration.fetch_add (1);
}

void ConsoleOutbox::attach (std::shared_ptr<MidiPortSystem::Output> port)
{
    jassert (! isAttached() && port != nullptr);
    detach();

    auto newSender = PortSender::forPort (port->getName());
    newSender->add (*this, std::move (port));
    senderOwner = std::move (newSender);
    sender.store (senderOwner.get());
}

void ConsoleOutbox::detach (bool writeWhatWaits)
{
    auto* oldSender = sender.load();

    if (oldSender == nullptr)
        return;

    // No post can start for this port any more, and every post in progress is finished
    // once synchronise returns, so what the sender writes now is all there is.
    sender.store (nullptr);
    senderGuard.synchronise();

    oldSender->remove (*this, writeWhatWaits);
    clear();
    senderOwner.reset();
}

bool ConsoleOutbox::hasPending() const noexcept
{
    return (levelSlot.load() & pendingBit) != 0 || (muteSlot.load() & pendingBit) != 0 || (nameState.load() & nameFreshBit) != 0;
}

bool ConsoleOutbox::isBusy() const noexcept
{
    // In this order: the sender marks a write before it empties the slot.
    return hasPending() || writing.load();
}

bool ConsoleOutbox::waitUntilSent (int timeoutMs) const
{
    const auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (isBusy())
    {
        if (juce::Time::getMillisecondCounter() > deadline)
            return ! isBusy();

        std::this_thread::sleep_for (std::chrono::microseconds (200));
    }

    return true;
}

void ConsoleOutbox::clear() noexcept
{
    levelSlot.store (0);
    muteSlot.store (0);
    writing.store (false);
    levelWritten = false;

    auto old = nameState.load();

    while (! nameState.compare_exchange_weak (old, (juce::uint32) nameFrontIndex))
    {
    }

    nameFrontIndex = (int) (old & nameIndexMask);
}

bool ConsoleOutbox::takeNext (Message& message)
{
    for (;;)
    {
        const auto levelWord = levelSlot.load();
        const auto muteWord = muteSlot.load();
        const auto nameWord = nameState.load();

        enum class Kind
        {
            none,
            level,
            mute,
            name
        };

        auto next = Kind::none;
        juce::uint32 nextTicketInLine = 0;

        const auto consider = [&] (std::optional<juce::uint32> place, Kind kind)
        {
            if (place.has_value() && (next == Kind::none || isEarlier (*place, nextTicketInLine)))
            {
                next = kind;
                nextTicketInLine = *place;
            }
        };

        consider (placeOfWaitingPair (levelWord), Kind::level);
        consider (placeOfWaitingPair (muteWord), Kind::mute);
        consider (placeOfWaitingName (nameWord), Kind::name);

        switch (next)
        {
            case Kind::none:
                return false;

            case Kind::level:
            {
                // The newest level posted, even if it replaced the one looked at above, compared
                // with the cache as it stands now: a post that read the generation before a
                // forgetLevelCache may have replaced the message made after it.
                const auto content = levelSlot.exchange (0) & contentMask;
                const auto generation = levelGeneration.load();

                if (levelWritten && content == lastLevelWritten && generation == lastLevelGeneration)
                    continue; // the console shows this level already

                levelWritten = true;
                lastLevelWritten = content;
                lastLevelGeneration = generation;
                unpackControllerPair ((juce::uint32) content, message.bytes);
                message.size = controllerPairBytes;
                return true;
            }

            case Kind::mute:
                unpackControllerPair ((juce::uint32) muteSlot.exchange (0), message.bytes);
                message.size = controllerPairBytes;
                return true;

            case Kind::name:
            {
                auto old = nameState.load();

                while (! nameState.compare_exchange_weak (old, (juce::uint32) nameFrontIndex))
                {
                }

                nameFrontIndex = (int) (old & nameIndexMask);
                const auto& front = nameBuffers[nameFrontIndex];
                std::memcpy (message.bytes, front.bytes, (size_t) front.size);
                message.size = front.size;
                return true;
            }
        }
    }
}
