#!/bin/sh
# Regenerates the shipped sound themes and silence.wav and copies them into
# resources/bundle. Usage: tools/soundsynth/make-themes.sh BUILD_DIR
set -eu
build="${1:?usage: make-themes.sh BUILD_DIR}"
source_dir="$(cd "$(dirname "$0")/../.." && pwd)"
ninja -C "$build" orvix_sound_themes
mkdir -p "$source_dir/resources/bundle/SoundThemes"
cp "$build/generated/sound/SoundThemes/"*.snth "$source_dir/resources/bundle/SoundThemes/"
cp "$build/generated/sound/silence.wav" "$source_dir/resources/bundle/silence.wav"
