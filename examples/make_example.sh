#!/bin/sh
# Makes examples/interview.flac: about a minute of an interview-like recording at 48 kHz stereo.
# A quiet host and a loud guest (about 14 dB apart) take turns, with pauses, over a room tone
# with mains hum. The speech is synthesised, so the file can be made again anywhere.
#
# Needs (only to make the file again; the FLAC is in the repository):
#   apt-get install espeak-ng sox
# The result is the same on every run with the same espeak-ng and sox versions (sox -R).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
out="$here/interview.flac"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rate=48000
host_voice="en-gb+f3"
guest_voice="en-us+m3"
# Speech levels in dB after synthesis: the host far from the microphone, the guest close to it.
host_gain=-20
guest_gain=-6

n=0
part() { # speaker text pause-after-seconds
    n=$((n + 1))
    file="$work/$(printf '%03d' $n).wav"
    if [ "$1" = host ]; then voice=$host_voice gain=$host_gain pan="1v0.9 1v0.75"
    else voice=$guest_voice gain=$guest_gain pan="1v0.8 1v0.95"; fi
    espeak-ng -v "$voice" -s 155 -w "$work/raw.wav" "$2"
    # To 48 kHz, level, a little placement between the loudspeakers, then the pause.
    sox -R "$work/raw.wav" -r $rate -c 2 "$file" gain $gain rate -h remix $pan pad 0 "$3"
}

sox -R -n -r $rate -c 2 "$work/000.wav" trim 0 1.5
part host "Welcome back to the workshop hour. Today I am talking to a sound engineer about loudness." 0.8
part guest "Thanks for having me. Loudness is one of those things everybody hears and nobody measures." 1.2
part host "So why do some programmes sound so uneven?" 0.7
part guest "Mostly because people sit at different distances from the microphone. One voice is close and \
loud, the other is far away and quiet, and the listener keeps reaching for the volume knob." 1.5
part host "And what can a producer do about it?" 0.6
part guest "Measure it first. Integrated loudness tells you the average, the loudness range tells you how \
much it moves. Then level it, slowly, so nobody notices." 1.4
part host "Does that work for live recordings too?" 0.9
part guest "Absolutely. A leveler with some look ahead can follow a conversation like this one without \
pumping the room noise up in the pauses." 2.0
part host "Thank you. That was very clear." 1.5

sox -R "$work"/0*.wav "$work/speech.wav"
length=$(soxi -D "$work/speech.wav")

# Room tone: low, dull noise the same in both channels, and hum at 50 Hz with two harmonics.
sox -R -n -r $rate -c 1 "$work/noise.wav" synth "$length" brownnoise lowpass 600 gain -46
sox -R -n -r $rate -c 1 "$work/hum.wav" synth "$length" sine 50 synth sine mix 150 synth sine mix 250 gain -58
sox -R -m -v 1 "$work/noise.wav" -v 1 "$work/hum.wav" -c 2 "$work/bed.wav" remix 1 1

# 16-bit without dither: the bed is already noise, and dither would double the file's size.
sox -R -m -v 1 "$work/speech.wav" -v 1 "$work/bed.wav" -b 16 -D "$out"
echo "wrote $out ($(soxi -d "$out"), $(du -h "$out" | cut -f1))"
