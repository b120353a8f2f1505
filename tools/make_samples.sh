#!/bin/sh
# Renders the five voice samples a1.wav .. a5.wav into assets/samples.
#
# The user judges how soon the voice follows a key press, so every clip must
# start with speech: leading silence would add to the delay being measured.
# Trailing silence goes too, so that each clip holds the phrase and nothing else.
#
# Output is byte-identical across runs for a given espeak-ng and sox version:
# espeak-ng has no random element, sox runs in repeatable mode without dither,
# and the WAV header carries no timestamp.
#
# Needs: espeak-ng (with its Japanese voice), sox.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
out=${1:-"$here/../assets/samples"}

for tool in espeak-ng sox soxi; do
    command -v "$tool" >/dev/null 2>&1 || { echo "make_samples: $tool not found" >&2; exit 1; }
done

mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM

# Kana only: espeak-ng reads kanji slowly and sometimes wrongly. Each phrase
# starts with a different sound so that the five are told apart at once.
# The greeting is spelt as it is said: espeak-ng reads the particle は as "ha".
phrases='こんにちわ
ありがとうございます
おはようございます
はじめまして
さようなら'

# Silence threshold for trimming: espeak-ng pads with digital zero, so any
# small level finds the speech edge; 0.5% also skips a stray low sample.
thresh=0.5%

n=0
printf '%s\n' "$phrases" | while IFS= read -r text; do
    n=$((n + 1))
    raw="$tmp/raw$n.wav"
    dst="$out/a$n.wav"
    # Speed, pitch and amplitude are pinned so that a changed default in a
    # later espeak-ng does not silently change the clips. -b 1: text is UTF-8
    # whatever the locale.
    espeak-ng -b 1 -v ja -s 175 -p 50 -a 100 -w "$raw" "$text"
    # Trim first, in a pass of its own: after 'silence' sox no longer knows
    # the length, which the fade-out needs. Both cuts land mid-waveform, so
    # 3 ms in and 10 ms out keep them from clicking; 3 ms is far below what a
    # listener hears as delay. Then 16-bit mono at espeak-ng's native
    # 22050 Hz, peak at -1 dBFS so the five clips sound equally loud.
    sox -R -D "$raw" "$tmp/cut$n.wav" \
        silence 1 0.01 "$thresh" reverse silence 1 0.01 "$thresh" reverse
    sox -R -D "$tmp/cut$n.wav" -b 16 -c 1 -r 22050 -e signed-integer "$dst" \
        fade t 0.003 0 0.010 gain -n -1
    len=$(soxi -D "$dst")
    if ! awk -v l="$len" 'BEGIN { exit !(l >= 0.5 && l <= 1.5) }'; then
        echo "make_samples: $dst is $len s, outside 0.5 to 1.5 s" >&2
        exit 1
    fi
    printf 'a%d.wav  %.3f s  %s\n' "$n" "$len" "$text"
done
