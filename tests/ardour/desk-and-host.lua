-- Opens the session of make-session.lua, whose instance the settings link to strip 3 of a
-- Tarn16 on the console process's port, and plays the engineer at the desk with the Level
-- and Cut lanes in the automation mode QUILLMERE_MODE ("Off", "Touch", "Write", ...) while
-- the transport rolls. Prints what it checks; ends with status 1 if a check fails.
AudioEngine:set_backend ("None (Dummy)", "", "")
local s = load_session (os.getenv ("QUILLMERE_SESSION"), "quillmere")
assert (s, "Ardour did not open the session")
local commands, answers = os.getenv ("QUILLMERE_CONSOLE_COMMANDS"), os.getenv ("QUILLMERE_CONSOLE_ANSWERS")
local modeName = os.getenv ("QUILLMERE_MODE") or "Off"
local failures = 0

local function sleep (ms) ARDOUR.LuaAPI.usleep (ms * 1000) end
local function say (...) print (...); io.stdout:flush () end

local function check (what, ok, detail)
  say ((ok and "ok    " or "FAIL  ") .. what .. (detail and (": " .. detail) or ""))
  if not ok then failures = failures + 1 end
end

-- The console process's answer to a command: the lines before its "ok".
local answered = 0
local function ask (command)
  local f = io.open (commands, "a"); f:write (command .. "\n"); f:close ()
  for _ = 1, 500 do
    local a = io.open (answers); a:seek ("set", answered); local text = a:read ("*a"); a:close ()
    local at = 1
    while true do
      local line = string.match (text, "^([^\n]*)\n", at)
      if line == nil then break end
      if line == "ok" or string.sub (line, 1, 6) == "error " then
        answered = answered + at + #line
        return string.sub (text, 1, at - 1), line
      end
      at = at + #line + 1
    end
    sleep (20)
  end
  return "", "no answer to " .. command
end

-- The console's strip of zone 2 as it is now: its values (level, cut, text, ...) by name.
local function strip ()
  local values = {}
  for key, value in string.gmatch (ask ("strip 2"), "(%w+)=(%S*)") do values[key] = value end
  return values
end

local function waitFor (condition)
  for _ = 1, 100 do
    if condition () then return true end
    sleep (50)
  end
  return condition ()
end

local insert = s:route_by_name ("Kick"):nth_plugin (0):to_insert ()
local automatable = insert:to_automatable ()
local level = automatable:automation_control (Evoral.Parameter (ARDOUR.AutomationType.PluginAutomation, 0, 0), false)
local cut = automatable:automation_control (Evoral.Parameter (ARDOUR.AutomationType.PluginAutomation, 0, 1), false)

local shown = {}
local function stripShows (condition)
  return waitFor (function () shown = strip (); return condition (shown) end)
end

check ("the restored instance tells the console its strip",
       stripShows (function (st) return st.text == "Kick" and st.level == "127" end),
       "text=" .. tostring (shown.text) .. " level=" .. tostring (shown.level))

level:set_value (0.8, PBD.GroupControlDisposition.NoGroup)
check ("the host's Level moves the console's fader", stripShows (function (st) return st.level == "204" end),
       "level=" .. tostring (shown.level))

level:set_automation_state (ARDOUR.AutoState[modeName])
cut:set_automation_state (ARDOUR.AutoState[modeName])
s:request_roll (ARDOUR.TransportRequestSource.TRS_UI)
check ("the transport rolls", waitFor (function () return s:transport_rolling () end))

-- The desk's first touch while rolling: the moment Ardour 7.3 fell over when a plug-in told
-- it of a gesture from a thread of the plug-in's own.
ask ("touch 2")
for position = 0, 8000, 1000 do ask ("move 2 " .. position); sleep (40) end
ask ("release 2")
ask ("press-cut 2")
ask ("release-cut 2")

if modeName == "Off" or modeName == "Write" then
  check ("the desk's fader reaches Ardour's Level",
         waitFor (function () return math.abs (level:get_value () - 8000 / 16383) < 0.001 end),
         tostring (level:get_value ()))
  check ("the desk's CUT key reaches Ardour's Cut", waitFor (function () return cut:get_value () == 1 end),
         tostring (cut:get_value ()))
else
  -- Without the touch, Ardour goes on playing the lane back while the transport rolls.
  sleep (1000)
  shown = strip ()
  say ("note  in " .. modeName .. " mode, Level " .. tostring (level:get_value ()) .. " and Cut "
       .. tostring (cut:get_value ()) .. " after the desk's moves; the console's fader is at "
       .. tostring (shown.level) .. " and its CUT at " .. tostring (shown.cut))
end

-- A crash on the way ends the script with Ardour's own status, which try-in-ardour reports.
s:request_stop (false, false, ARDOUR.TransportRequestSource.TRS_UI)
check ("the transport stops after the desk's moves", waitFor (function () return not s:transport_rolling () end))
check ("nothing malformed reached the console", ask ("malformed") == "")
close_session ()
os.exit (failures == 0 and 0 or 1)
