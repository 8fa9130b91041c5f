// The audio half of libasound, as far as the test sequencer's callers bind it: a machine
// with a sequencer but no sound card, a state real systems are in. Enumerating cards finds
// none and opening a PCM or a control device fails with -ENOENT, as the real library answers
// there. The calls that need an open PCM or control device can therefore never be reached
// legitimately: each one reports itself as a fault instead of pretending.

#include "SequencerFaults.h"

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <cstring>

using test_sequencer::notImplemented;

namespace
{
    int withoutDevice (const char* function)
    {
        test_sequencer::reportFault ("%s() needs an open sound device, and there is none: the test sequencer has no sound cards", function);
        return -ENODEV;
    }
}

// Information containers, which callers allocate before they open anything.
struct _snd_ctl_card_info
{
    char unused;
};

struct _snd_pcm_info
{
    unsigned int device, subdevice;
    snd_pcm_stream_t stream;
};

struct _snd_pcm_hw_params
{
    char unused;
};

struct _snd_pcm_sw_params
{
    char unused;
};

struct _snd_pcm_format_mask
{
    char unused;
};

int snd_card_next (int* card)
{
    if (card == nullptr)
        return -EINVAL;

    *card = -1;
    return 0;
}

int snd_card_get_name (int, char** name)
{
    *name = nullptr;
    return -EINVAL; // no card has that number
}

int snd_ctl_open (snd_ctl_t** ctl, const char*, int)
{
    *ctl = nullptr;
    return -ENOENT;
}

int snd_pcm_open (snd_pcm_t** pcm, const char*, snd_pcm_stream_t, int)
{
    *pcm = nullptr;
    return -ENOENT;
}

int snd_device_name_hint (int, const char*, void*** hints)
{
    // An empty list, ended by its null entry.
    *hints = static_cast<void**> (std::calloc (1, sizeof (void*)));
    return *hints != nullptr ? 0 : -ENOMEM;
}

int snd_device_name_free_hint (void** hints)
{
    std::free (hints);
    return 0;
}

char* snd_device_name_get_hint (const void*, const char*)
{
    notImplemented ("snd_device_name_get_hint (the device name hints are always empty)");
    return nullptr;
}

size_t snd_ctl_card_info_sizeof() { return sizeof (snd_ctl_card_info_t); }
size_t snd_pcm_info_sizeof() { return sizeof (snd_pcm_info_t); }
size_t snd_pcm_hw_params_sizeof() { return sizeof (snd_pcm_hw_params_t); }
size_t snd_pcm_sw_params_sizeof() { return sizeof (snd_pcm_sw_params_t); }
size_t snd_pcm_format_mask_sizeof() { return sizeof (snd_pcm_format_mask_t); }

void snd_pcm_info_set_device (snd_pcm_info_t* obj, unsigned int val) { obj->device = val; }
void snd_pcm_info_set_subdevice (snd_pcm_info_t* obj, unsigned int val) { obj->subdevice = val; }
void snd_pcm_info_set_stream (snd_pcm_info_t* obj, snd_pcm_stream_t val) { obj->stream = val; }

//==============================================================================
// Only reachable with an open device.
int snd_ctl_close (snd_ctl_t*) { return withoutDevice ("snd_ctl_close"); }
int snd_ctl_card_info (snd_ctl_t*, snd_ctl_card_info_t*) { return withoutDevice ("snd_ctl_card_info"); }
int snd_ctl_pcm_info (snd_ctl_t*, snd_pcm_info_t*) { return withoutDevice ("snd_ctl_pcm_info"); }
int snd_ctl_pcm_next_device (snd_ctl_t*, int*) { return withoutDevice ("snd_ctl_pcm_next_device"); }

const char* snd_ctl_card_info_get_id (const snd_ctl_card_info_t*)
{
    withoutDevice ("snd_ctl_card_info_get_id");
    return "";
}

const char* snd_ctl_card_info_get_name (const snd_ctl_card_info_t*)
{
    withoutDevice ("snd_ctl_card_info_get_name");
    return "";
}

const char* snd_pcm_info_get_name (const snd_pcm_info_t*)
{
    withoutDevice ("snd_pcm_info_get_name");
    return "";
}

const char* snd_pcm_info_get_subdevice_name (const snd_pcm_info_t*)
{
    withoutDevice ("snd_pcm_info_get_subdevice_name");
    return "";
}

unsigned int snd_pcm_info_get_subdevices_count (const snd_pcm_info_t*)
{
    withoutDevice ("snd_pcm_info_get_subdevices_count");
    return 0;
}

snd_pcm_state_t snd_pcm_state (snd_pcm_t*)
{
    withoutDevice ("snd_pcm_state");
    return SND_PCM_STATE_DISCONNECTED;
}

void snd_pcm_hw_params_get_format_mask (snd_pcm_hw_params_t*, snd_pcm_format_mask_t*) { withoutDevice ("snd_pcm_hw_params_get_format_mask"); }

int snd_pcm_close (snd_pcm_t*) { return withoutDevice ("snd_pcm_close"); }
int snd_pcm_drop (snd_pcm_t*) { return withoutDevice ("snd_pcm_drop"); }
int snd_pcm_prepare (snd_pcm_t*) { return withoutDevice ("snd_pcm_prepare"); }
int snd_pcm_reset (snd_pcm_t*) { return withoutDevice ("snd_pcm_reset"); }
int snd_pcm_link (snd_pcm_t*, snd_pcm_t*) { return withoutDevice ("snd_pcm_link"); }
int snd_pcm_wait (snd_pcm_t*, int) { return withoutDevice ("snd_pcm_wait"); }
int snd_pcm_recover (snd_pcm_t*, int, int) { return withoutDevice ("snd_pcm_recover"); }
snd_pcm_sframes_t snd_pcm_avail_update (snd_pcm_t*) { return withoutDevice ("snd_pcm_avail_update"); }
snd_pcm_sframes_t snd_pcm_rewind (snd_pcm_t*, snd_pcm_uframes_t) { return withoutDevice ("snd_pcm_rewind"); }
snd_pcm_sframes_t snd_pcm_readi (snd_pcm_t*, void*, snd_pcm_uframes_t) { return withoutDevice ("snd_pcm_readi"); }
snd_pcm_sframes_t snd_pcm_readn (snd_pcm_t*, void**, snd_pcm_uframes_t) { return withoutDevice ("snd_pcm_readn"); }
snd_pcm_sframes_t snd_pcm_writei (snd_pcm_t*, const void*, snd_pcm_uframes_t) { return withoutDevice ("snd_pcm_writei"); }
snd_pcm_sframes_t snd_pcm_writen (snd_pcm_t*, void**, snd_pcm_uframes_t) { return withoutDevice ("snd_pcm_writen"); }
int snd_pcm_format_mask_test (const snd_pcm_format_mask_t*, snd_pcm_format_t) { return withoutDevice ("snd_pcm_format_mask_test"); }
int snd_pcm_format_set_silence (snd_pcm_format_t, void*, unsigned int) { return withoutDevice ("snd_pcm_format_set_silence"); }

int snd_pcm_hw_params (snd_pcm_t*, snd_pcm_hw_params_t*) { return withoutDevice ("snd_pcm_hw_params"); }
int snd_pcm_hw_params_any (snd_pcm_t*, snd_pcm_hw_params_t*) { return withoutDevice ("snd_pcm_hw_params_any"); }
int snd_pcm_hw_params_get_buffer_size (const snd_pcm_hw_params_t*, snd_pcm_uframes_t*) { return withoutDevice ("snd_pcm_hw_params_get_buffer_size"); }
int snd_pcm_hw_params_get_channels_max (const snd_pcm_hw_params_t*, unsigned int*) { return withoutDevice ("snd_pcm_hw_params_get_channels_max"); }
int snd_pcm_hw_params_get_channels_min (const snd_pcm_hw_params_t*, unsigned int*) { return withoutDevice ("snd_pcm_hw_params_get_channels_min"); }
int snd_pcm_hw_params_get_period_size (const snd_pcm_hw_params_t*, snd_pcm_uframes_t*, int*) { return withoutDevice ("snd_pcm_hw_params_get_period_size"); }
int snd_pcm_hw_params_get_periods (const snd_pcm_hw_params_t*, unsigned int*, int*) { return withoutDevice ("snd_pcm_hw_params_get_periods"); }
int snd_pcm_hw_params_get_rate_max (const snd_pcm_hw_params_t*, unsigned int*, int*) { return withoutDevice ("snd_pcm_hw_params_get_rate_max"); }
int snd_pcm_hw_params_get_rate_min (const snd_pcm_hw_params_t*, unsigned int*, int*) { return withoutDevice ("snd_pcm_hw_params_get_rate_min"); }
int snd_pcm_hw_params_set_access (snd_pcm_t*, snd_pcm_hw_params_t*, snd_pcm_access_t) { return withoutDevice ("snd_pcm_hw_params_set_access"); }
int snd_pcm_hw_params_set_buffer_size_near (snd_pcm_t*, snd_pcm_hw_params_t*, snd_pcm_uframes_t*) { return withoutDevice ("snd_pcm_hw_params_set_buffer_size_near"); }
int snd_pcm_hw_params_set_channels (snd_pcm_t*, snd_pcm_hw_params_t*, unsigned int) { return withoutDevice ("snd_pcm_hw_params_set_channels"); }
int snd_pcm_hw_params_set_format (snd_pcm_t*, snd_pcm_hw_params_t*, snd_pcm_format_t) { return withoutDevice ("snd_pcm_hw_params_set_format"); }
int snd_pcm_hw_params_set_period_size_near (snd_pcm_t*, snd_pcm_hw_params_t*, snd_pcm_uframes_t*, int*) { return withoutDevice ("snd_pcm_hw_params_set_period_size_near"); }
int snd_pcm_hw_params_set_period_time_near (snd_pcm_t*, snd_pcm_hw_params_t*, unsigned int*, int*) { return withoutDevice ("snd_pcm_hw_params_set_period_time_near"); }
int snd_pcm_hw_params_set_periods_near (snd_pcm_t*, snd_pcm_hw_params_t*, unsigned int*, int*) { return withoutDevice ("snd_pcm_hw_params_set_periods_near"); }
int snd_pcm_hw_params_set_rate_near (snd_pcm_t*, snd_pcm_hw_params_t*, unsigned int*, int*) { return withoutDevice ("snd_pcm_hw_params_set_rate_near"); }
int snd_pcm_hw_params_test_rate (snd_pcm_t*, snd_pcm_hw_params_t*, unsigned int, int) { return withoutDevice ("snd_pcm_hw_params_test_rate"); }

int snd_pcm_sw_params (snd_pcm_t*, snd_pcm_sw_params_t*) { return withoutDevice ("snd_pcm_sw_params"); }
int snd_pcm_sw_params_current (snd_pcm_t*, snd_pcm_sw_params_t*) { return withoutDevice ("snd_pcm_sw_params_current"); }
int snd_pcm_sw_params_get_boundary (const snd_pcm_sw_params_t*, snd_pcm_uframes_t*) { return withoutDevice ("snd_pcm_sw_params_get_boundary"); }
int snd_pcm_sw_params_set_silence_size (snd_pcm_t*, snd_pcm_sw_params_t*, snd_pcm_uframes_t) { return withoutDevice ("snd_pcm_sw_params_set_silence_size"); }
int snd_pcm_sw_params_set_silence_threshold (snd_pcm_t*, snd_pcm_sw_params_t*, snd_pcm_uframes_t) { return withoutDevice ("snd_pcm_sw_params_set_silence_threshold"); }
int snd_pcm_sw_params_set_start_threshold (snd_pcm_t*, snd_pcm_sw_params_t*, snd_pcm_uframes_t) { return withoutDevice ("snd_pcm_sw_params_set_start_threshold"); }
int snd_pcm_sw_params_set_stop_threshold (snd_pcm_t*, snd_pcm_sw_params_t*, snd_pcm_uframes_t) { return withoutDevice ("snd_pcm_sw_params_set_stop_threshold"); }
