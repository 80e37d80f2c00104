#!/usr/bin/env bash
# Ardour 7 with the built LV2 bundle, headless (needs Debian's ardour package, which the project does not
# install): makes a session at 48 kHz with a test-programme generator and Vandrel 2 on one stereo track,
# prints the latency Ardour reports, reloads and exports the session with ardour7-export, then levels the
# same programme with lv2apply and with vandrel2-render and measures all of them with libebur128.
# Usage: scripts/ardour_check.sh [BUILD_DIR] (default build/); leaves its files in a temporary folder.
set -euo pipefail
build=$(realpath "${1:-build}")
work=$(mktemp -d /tmp/vandrel-ardour-XXXXXX)
mkdir -p "$work/lv2" "$work/config/ardour7/scripts"
ln -s "$build/vandrel2.lv2" "$work/lv2/vandrel2.lv2"
export LV2_PATH="$work/lv2" XDG_CONFIG_HOME="$work/config"
seconds=24

# The programme as a function of the transport position, silent while stopped.
cat >"$work/config/ardour7/scripts/vandrel_check_programme.lua" <<'LUA'
ardour { ["type"] = "dsp", name = "Vandrel Check Programme", category = "Utility", license = "MIT",
	author = "Quellory", description = [[Two tones whose level jumps every four seconds; silent while stopped.]] }
function dsp_ioconfig () return { { audio_in = 2, audio_out = 2 } } end
function programme (n, rate)
	local t = n / rate
	local level = ((n // (4 * rate)) % 2 == 0) and 0.05 or 0.3
	return level * (math.sin (2 * math.pi * 220 * t) + 0.5 * math.sin (2 * math.pi * 1375 * t)),
	       level * (math.sin (2 * math.pi * 330 * t) + 0.5 * math.sin (2 * math.pi * 2750 * t))
end
function dsp_run (ins, outs, n_samples)
	local a, b = outs[1]:array (), outs[2]:array ()
	local rolling, start, rate = Session:transport_rolling (), Session:transport_sample (), Session:nominal_sample_rate ()
	for i = 1, n_samples do
		if rolling then a[i], b[i] = programme (start + i - 1, rate) else a[i], b[i] = 0, 0 end
	end
end
LUA

cat >"$work/make.lua" <<LUA
AudioEngine:set_backend ("None (Dummy)", "", "")
local s = create_session ("$work/session", "session", 48000)
local t = s:new_audio_track (2, 2, nil, 1, "Leveled", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true):front ()
local gen = ARDOUR.LuaAPI.new_luaproc (s, "Vandrel Check Programme")
local p = ARDOUR.LuaAPI.new_plugin (s, "urn:quellory:vandrel2", ARDOUR.PluginType.LV2, "")
assert (not gen:isnil () and not p:isnil (), "generator or plug-in missing")
assert (t:add_processor_by_index (gen, 0, nil, true) == 0 and t:add_processor_by_index (p, 1, nil, true) == 0)
ARDOUR.LuaAPI.usleep (200000)
print ("Ardour: " .. p:to_insert ():plugin (0):name () .. ", latency " .. p:signal_latency () .. " samples")
s:save_state ("", false, false, false, false, false)
close_session ()
LUA
ardour7-lua "$work/make.lua" 2>&1 | grep '^Ardour:'
# The session range (superclock ticks, 282240000 a second): the Lua API offers no way to set it.
sed -i "s|<Locations/>|<Locations><Location id=\"9001\" name=\"session\" start=\"a0\" end=\"a$((seconds * 282240000))\" flags=\"IsSessionRange\" locked=\"0\" timestamp=\"0\" cue=\"0\"/></Locations>|" \
  "$work/session/session.ardour"
ardour7-export -b float -o "$work/ardour.wav" "$work/session" session >/dev/null 2>&1

# The same programme as a file, computed as the generator computes it.
python3 - "$work/programme.wav" "$seconds" <<'PY'
import math, struct, sys
rate, n = 48000, int(sys.argv[2]) * 48000
data = bytearray()
for i in range(n):
    t = i / rate
    level = 0.05 if (i // (4 * rate)) % 2 == 0 else 0.3
    data += struct.pack('<ff', level * (math.sin(2 * math.pi * 220 * t) + 0.5 * math.sin(2 * math.pi * 1375 * t)),
                        level * (math.sin(2 * math.pi * 330 * t) + 0.5 * math.sin(2 * math.pi * 2750 * t)))
fmt = struct.pack('<HHIIHH', 3, 2, rate, rate * 8, 8, 32)
body = b'WAVE' + b'fmt ' + struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(data)) + bytes(data)
open(sys.argv[1], 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
PY
lv2apply -i "$work/programme.wav" -o "$work/lv2apply.wav" urn:quellory:vandrel2
"$build/vandrel2-render" "$work/programme.wav" "$work/vst.wav" --plugin "$build/vandrel2.so" --block 1024 \
  --no-ceiling --sample-format float --quiet
echo "file, integrated LUFS, LRA, true peak dBTP (libebur128):"
"$build/bench/vandrel2_measure" "$work/ardour.wav" "$work/lv2apply.wav" "$work/vst.wav"
echo "files in $work"
