#!/usr/bin/env bash
# Rebuilds the audio fixtures with sox (Debian package sox), an encoder independent of the
# runtime, and python3 for the two byte-level steps. Run from this folder.
set -euo pipefail

# 6-channel (5.1) Ogg Vorbis: one tone per channel, 300 to 1050 Hz, peak 0.5, 0.2 s.
sox -R -n -r 22050 -c 6 six_channels.ogg synth 0.2 \
    sine 300 sine 450 sine 600 sine 750 sine 900 sine 1050 gain -6

# WAVE_FORMAT_EXTENSIBLE (format tag 0xFFFE): 3 channels of 24-bit samples, 100 frames
# at 8000 Hz. Sample i (interleaved) is the low 24 bits of i * 1234567 - 40000000, so
# tests know every value exactly.
python3 -c "
import struct, sys
sys.stdout.buffer.write(b''.join(
    struct.pack('<I', (i * 1234567 - 40000000) & 0xffffffff)[:3] for i in range(300)))
" > ramp.raw
sox -t raw -r 8000 -e signed -b 24 -c 3 ramp.raw extensible_24bit.wav
rm ramp.raw

# 16-bit stereo tone as plain PCM WAV (format tag 1) and the same samples as FLAC.
sox -R -n -b 16 -c 2 -r 44100 -t wavpcm tone_16bit.wav synth 0.1 sine 440 sine 660 gain -3
sox tone_16bit.wav tone_16bit.flac

# The same FLAC with the total sample count of its STREAMINFO set to 0 ("unknown"), as
# a streaming encoder leaves it.
python3 -c "
d = bytearray(open('tone_16bit.flac', 'rb').read())
o = 8 + 13  # STREAMINFO body starts at 8; its 36-bit total begins in the low nibble here
d[o] &= 0xF0
d[o + 1:o + 5] = bytes(4)
open('unknown_length.flac', 'wb').write(d)
"
