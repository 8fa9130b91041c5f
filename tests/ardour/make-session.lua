-- Makes a session with one mono audio track, "Kick", holding a Quillmere instance of the
-- format given in QUILLMERE_FORMAT ("VST3" or "LXVST"), in the folder QUILLMERE_SESSION.
AudioEngine:set_backend ("None (Dummy)", "", "")
local folder, format = os.getenv ("QUILLMERE_SESSION"), os.getenv ("QUILLMERE_FORMAT")
local s = create_session (folder, "quillmere", 48000)
assert (s, "Ardour made no session")
local tracks = s:new_audio_track (1, 2, nil, 1, "Kick", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
local plugin = ARDOUR.LuaAPI.new_plugin (s, "Quillmere", ARDOUR.PluginType[format], "")

if plugin:isnil () then
  print ("Ardour does not know Quillmere as " .. format)
  os.exit (1)
end

tracks:front ():add_processor_by_index (plugin, 0, nil, true)
s:save_state ("", false, false, false, false, false)
close_session ()
