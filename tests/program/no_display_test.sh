#!/usr/bin/env bash
# The real game started where there is no display at all (no X, no Wayland,
# no video driver asked for): it says so on stderr and ends with status 1
# instead of running unseen. A copy of the program folder keeps the build's
# own folder clean, should the game start after all.
# usage: no_display_test.sh GAME_DIR
set -euo pipefail
game=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/quorvane-nodisplay-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/game" "$work/runtime" "$work/home"
chmod 700 "$work/runtime"
cp "$game/quorvane" "$work/game/"
for f in Data Sound fonts.conf; do ln -s "$game/$f" "$work/game/$f"; done

set +e
env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER XDG_RUNTIME_DIR="$work/runtime" HOME="$work/home" \
  XDG_DATA_HOME="$work/home/data" SDL_AUDIODRIVER=dummy timeout -k 5 20 "$work/game/quorvane" --window \
  >"$work/out.log" 2>&1
rc=$?
set -e
[ $rc -ne 124 ] && [ $rc -ne 137 ] || fail "the game ran on without a display"
[ $rc -eq 1 ] || { cat "$work/out.log"; fail "exit status $rc instead of 1"; }
grep -q "no display could be opened" "$work/out.log" || { cat "$work/out.log"; fail "no message about the display"; }
[ ! -e "$work/game/Config.cfg" ] || fail "the game got as far as writing Config.cfg"
echo "no display: exit 1, $(grep -m1 'no display' "$work/out.log")"
