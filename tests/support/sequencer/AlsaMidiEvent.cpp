// The test sequencer's MIDI byte coder (snd_midi_event_*): turns a stream of MIDI bytes into
// sequencer events and events back into bytes, with the documented behaviour of the real one:
// running status accepted on input and written on output until the decoder is reset, real-time
// bytes passed through in the middle of other messages, and a system-exclusive message longer
// than the coder's buffer handed out in pieces of the buffer's size.

#include "SequencerFaults.h"

#include <alsa/asoundlib.h>

#include <cstring>
#include <vector>

struct snd_midi_event
{
    std::vector<unsigned char> buffer; // the system-exclusive bytes gathered so far
    size_t gathered = 0;
    bool inSysEx = false;

    unsigned char status = 0; // the status the next data bytes belong to (running status)
    unsigned char data[2] {};
    int dataCount = 0;

    unsigned char lastDecoded = 0; // the status the decoder wrote last
    bool noRunningStatus = false;
};

namespace
{
    int dataBytesOf (unsigned char status)
    {
        switch (status & 0xf0)
        {
            case 0xc0:
            case 0xd0:
                return 1;
            case 0xf0:
                return status == 0xf1 || status == 0xf3 ? 1 : (status == 0xf2 ? 2 : 0);
            default:
                return 2;
        }
    }

    void setFixed (snd_seq_event_t* ev, snd_seq_event_type_t type)
    {
        ev->type = type;
        ev->flags = (unsigned char) ((ev->flags & ~SND_SEQ_EVENT_LENGTH_MASK) | SND_SEQ_EVENT_LENGTH_FIXED);
    }

    void fillChannelEvent (snd_seq_event_t* ev, unsigned char status, const unsigned char* data)
    {
        const auto channel = (unsigned char) (status & 0x0f);

        switch (status & 0xf0)
        {
            case 0x80:
            case 0x90:
            case 0xa0:
                setFixed (ev, (status & 0xf0) == 0x80 ? SND_SEQ_EVENT_NOTEOFF : ((status & 0xf0) == 0x90 ? SND_SEQ_EVENT_NOTEON : SND_SEQ_EVENT_KEYPRESS));
                ev->data.note.channel = channel;
                ev->data.note.note = data[0];
                ev->data.note.velocity = data[1];
                break;
            case 0xb0:
                setFixed (ev, SND_SEQ_EVENT_CONTROLLER);
                ev->data.control.channel = channel;
                ev->data.control.param = data[0];
                ev->data.control.value = data[1];
                break;
            case 0xc0:
            case 0xd0:
                setFixed (ev, (status & 0xf0) == 0xc0 ? SND_SEQ_EVENT_PGMCHANGE : SND_SEQ_EVENT_CHANPRESS);
                ev->data.control.channel = channel;
                ev->data.control.value = data[0];
                break;
            case 0xe0:
                setFixed (ev, SND_SEQ_EVENT_PITCHBEND);
                ev->data.control.channel = channel;
                ev->data.control.value = (data[1] << 7 | data[0]) - 8192;
                break;
            default:
                break;
        }
    }

    /** Hands out what the buffer holds of a system-exclusive message as one event. */
    void fillSysEx (snd_midi_event_t* dev, snd_seq_event_t* ev)
    {
        ev->type = SND_SEQ_EVENT_SYSEX;
        ev->flags = (unsigned char) ((ev->flags & ~SND_SEQ_EVENT_LENGTH_MASK) | SND_SEQ_EVENT_LENGTH_VARIABLE);
        ev->data.ext.len = (unsigned int) dev->gathered;
        ev->data.ext.ptr = dev->buffer.data();
        dev->gathered = 0;
    }

    snd_seq_event_type_t realTimeType (int c)
    {
        switch (c)
        {
            case 0xf8:
                return SND_SEQ_EVENT_CLOCK;
            case 0xf9:
                return SND_SEQ_EVENT_TICK;
            case 0xfa:
                return SND_SEQ_EVENT_START;
            case 0xfb:
                return SND_SEQ_EVENT_CONTINUE;
            case 0xfc:
                return SND_SEQ_EVENT_STOP;
            case 0xfe:
                return SND_SEQ_EVENT_SENSING;
            case 0xff:
                return SND_SEQ_EVENT_RESET;
            default:
                return SND_SEQ_EVENT_NONE;
        }
    }
}

int snd_midi_event_new (size_t bufsize, snd_midi_event_t** rdev)
{
    auto* dev = new snd_midi_event();
    dev->buffer.resize (bufsize);
    *rdev = dev;
    return 0;
}

int snd_midi_event_resize_buffer (snd_midi_event_t* dev, size_t bufsize)
{
    dev->buffer.assign (bufsize, 0);
    snd_midi_event_reset_encode (dev);
    return 0;
}

void snd_midi_event_free (snd_midi_event_t* dev)
{
    delete dev;
}

void snd_midi_event_init (snd_midi_event_t* dev)
{
    snd_midi_event_reset_encode (dev);
    snd_midi_event_reset_decode (dev);
}

void snd_midi_event_reset_encode (snd_midi_event_t* dev)
{
    dev->gathered = 0;
    dev->inSysEx = false;
    dev->status = 0;
    dev->dataCount = 0;
}

void snd_midi_event_reset_decode (snd_midi_event_t* dev)
{
    dev->lastDecoded = 0;
}

void snd_midi_event_no_status (snd_midi_event_t* dev, int on)
{
    dev->noRunningStatus = on != 0;
}

int snd_midi_event_encode_byte (snd_midi_event_t* dev, int c, snd_seq_event_t* ev)
{
    c &= 0xff;

    // Real-time bytes stand alone, wherever they come, and leave any message in progress alone.
    if (c >= 0xf8)
    {
        const auto type = realTimeType (c);

        if (type == SND_SEQ_EVENT_NONE)
            return 0;

        setFixed (ev, type);
        return 1;
    }

    if (dev->inSysEx)
    {
        if (c < 0x80 || c == 0xf7)
        {
            if (dev->gathered >= dev->buffer.size())
                return -ENOMEM;

            dev->buffer[dev->gathered++] = (unsigned char) c;

            if (c == 0xf7)
            {
                dev->inSysEx = false;
                fillSysEx (dev, ev);
                return 1;
            }

            // A full buffer goes out as a piece of the message, which goes on after it.
            if (dev->gathered == dev->buffer.size())
            {
                fillSysEx (dev, ev);
                return 1;
            }

            return 0;
        }

        // Another status ends an unfinished system-exclusive message: its bytes are dropped.
        dev->inSysEx = false;
        dev->gathered = 0;
    }

    if (c >= 0x80)
    {
        dev->dataCount = 0;

        if (c == 0xf0)
        {
            dev->status = 0;

            if (dev->buffer.empty())
                return -ENOMEM;

            dev->inSysEx = true;
            dev->buffer[0] = 0xf0;
            dev->gathered = 1;
            return 0;
        }

        if (c == 0xf6)
        {
            dev->status = 0;
            setFixed (ev, SND_SEQ_EVENT_TUNE_REQUEST);
            return 1;
        }

        // Undefined system common bytes and a stray end of exclusive begin nothing.
        dev->status = (c == 0xf4 || c == 0xf5 || c == 0xf7) ? 0 : (unsigned char) c;
        return 0;
    }

    if (dev->status == 0)
        return 0; // a data byte outside any message

    dev->data[dev->dataCount++] = (unsigned char) c;

    if (dev->dataCount < dataBytesOf (dev->status))
        return 0;

    dev->dataCount = 0;

    if (dev->status < 0xf0)
    {
        // The status stays for the next message's data bytes (running status).
        fillChannelEvent (ev, dev->status, dev->data);
        return 1;
    }

    switch (dev->status)
    {
        case 0xf1:
            setFixed (ev, SND_SEQ_EVENT_QFRAME);
            ev->data.control.value = dev->data[0];
            break;
        case 0xf2:
            setFixed (ev, SND_SEQ_EVENT_SONGPOS);
            ev->data.control.value = dev->data[0] | dev->data[1] << 7;
            break;
        default:
            setFixed (ev, SND_SEQ_EVENT_SONGSEL);
            ev->data.control.value = dev->data[0];
            break;
    }

    dev->status = 0; // system common messages cancel running status
    return 1;
}

long snd_midi_event_encode (snd_midi_event_t* dev, const unsigned char* buf, long count, snd_seq_event_t* ev)
{
    long consumed = 0;
    ev->type = SND_SEQ_EVENT_NONE;

    while (consumed < count)
    {
        const auto result = snd_midi_event_encode_byte (dev, buf[consumed++], ev);

        if (result < 0)
            return result;

        if (result > 0)
            break;
    }

    return consumed;
}

long snd_midi_event_decode (snd_midi_event_t* dev, unsigned char* buf, long count, const snd_seq_event_t* ev)
{
    if (ev->type == SND_SEQ_EVENT_SYSEX)
    {
        if ((ev->flags & SND_SEQ_EVENT_LENGTH_MASK) != SND_SEQ_EVENT_LENGTH_VARIABLE)
            return -EINVAL;

        if ((long) ev->data.ext.len > count)
            return -ENOMEM;

        std::memcpy (buf, ev->data.ext.ptr, ev->data.ext.len);
        dev->lastDecoded = 0;
        return (long) ev->data.ext.len;
    }

    unsigned char bytes[3];
    int length = 0;
    bool channelMessage = true;

    switch (ev->type)
    {
        case SND_SEQ_EVENT_NOTEOFF:
        case SND_SEQ_EVENT_NOTEON:
        case SND_SEQ_EVENT_KEYPRESS:
            bytes[0] = (unsigned char) ((ev->type == SND_SEQ_EVENT_NOTEOFF ? 0x80 : (ev->type == SND_SEQ_EVENT_NOTEON ? 0x90 : 0xa0)) | (ev->data.note.channel & 0x0f));
            bytes[1] = ev->data.note.note & 0x7f;
            bytes[2] = ev->data.note.velocity & 0x7f;
            length = 3;
            break;
        case SND_SEQ_EVENT_CONTROLLER:
            bytes[0] = (unsigned char) (0xb0 | (ev->data.control.channel & 0x0f));
            bytes[1] = (unsigned char) (ev->data.control.param & 0x7f);
            bytes[2] = (unsigned char) (ev->data.control.value & 0x7f);
            length = 3;
            break;
        case SND_SEQ_EVENT_PGMCHANGE:
        case SND_SEQ_EVENT_CHANPRESS:
            bytes[0] = (unsigned char) ((ev->type == SND_SEQ_EVENT_PGMCHANGE ? 0xc0 : 0xd0) | (ev->data.control.channel & 0x0f));
            bytes[1] = (unsigned char) (ev->data.control.value & 0x7f);
            length = 2;
            break;
        case SND_SEQ_EVENT_PITCHBEND:
        {
            const auto value = ev->data.control.value + 8192;
            bytes[0] = (unsigned char) (0xe0 | (ev->data.control.channel & 0x0f));
            bytes[1] = (unsigned char) (value & 0x7f);
            bytes[2] = (unsigned char) ((value >> 7) & 0x7f);
            length = 3;
            break;
        }
        case SND_SEQ_EVENT_QFRAME:
        case SND_SEQ_EVENT_SONGSEL:
            bytes[0] = ev->type == SND_SEQ_EVENT_QFRAME ? 0xf1 : 0xf3;
            bytes[1] = (unsigned char) (ev->data.control.value & 0x7f);
            length = 2;
            channelMessage = false;
            break;
        case SND_SEQ_EVENT_SONGPOS:
            bytes[0] = 0xf2;
            bytes[1] = (unsigned char) (ev->data.control.value & 0x7f);
            bytes[2] = (unsigned char) ((ev->data.control.value >> 7) & 0x7f);
            length = 3;
            channelMessage = false;
            break;
        case SND_SEQ_EVENT_TUNE_REQUEST:
            bytes[0] = 0xf6;
            length = 1;
            channelMessage = false;
            break;
        case SND_SEQ_EVENT_CLOCK:
            bytes[0] = 0xf8;
            length = 1;
            break;
        case SND_SEQ_EVENT_TICK:
            bytes[0] = 0xf9;
            length = 1;
            break;
        case SND_SEQ_EVENT_START:
            bytes[0] = 0xfa;
            length = 1;
            break;
        case SND_SEQ_EVENT_CONTINUE:
            bytes[0] = 0xfb;
            length = 1;
            break;
        case SND_SEQ_EVENT_STOP:
            bytes[0] = 0xfc;
            length = 1;
            break;
        case SND_SEQ_EVENT_SENSING:
            bytes[0] = 0xfe;
            length = 1;
            break;
        case SND_SEQ_EVENT_RESET:
            bytes[0] = 0xff;
            length = 1;
            break;
        case SND_SEQ_EVENT_NOTE:
        case SND_SEQ_EVENT_CONTROL14:
        case SND_SEQ_EVENT_NONREGPARAM:
        case SND_SEQ_EVENT_REGPARAM:
            return test_sequencer::notImplemented ("snd_midi_event_decode of note-with-duration, 14-bit controller or parameter-number events");
        default:
            return -ENOENT; // an event with no MIDI bytes
    }

    if (length == 1 && bytes[0] >= 0xf8)
    {
        // Real-time bytes leave the running status as it is.
        if (count < 1)
            return -ENOMEM;

        buf[0] = bytes[0];
        return 1;
    }

    const auto skipStatus = channelMessage && ! dev->noRunningStatus && bytes[0] == dev->lastDecoded;
    const auto start = skipStatus ? 1 : 0;

    if (count < length - start)
        return -ENOMEM;

    std::memcpy (buf, bytes + start, (size_t) (length - start));
    dev->lastDecoded = channelMessage ? bytes[0] : 0;
    return length - start;
}
