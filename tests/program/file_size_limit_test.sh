#!/usr/bin/env bash
# The real game under a file size limit (ulimit -f, as on a quota or a full
# disk for a big file): F12 on the menu fails to write its picture, and the
# game says so and plays on, leaving no part of a file behind; the kernel's
# signal for the limit must not end it. Runs on an X server of its own (Xvfb).
# usage: file_size_limit_test.sh GAME_DIR
set -euo pipefail
game=$(cd "$1" && pwd)
for tool in xvfb-run xdotool; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is missing (scripts/deps installs it)"; exit 77; }
done
work=$(mktemp -d /tmp/quorvane-fsize-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/game" "$work/home/Pictures" "$work/config"
cp "$game/quorvane" "$work/game/"
for f in Data Sound fonts.conf; do ln -s "$game/$f" "$work/game/$f"; done
echo 'XDG_PICTURES_DIR="$HOME/Pictures"' >"$work/config/user-dirs.dirs"

cat >"$work/play.sh" <<'PLAY'
#!/usr/bin/env bash
# On the X server: start the game with a 1 KiB limit, press F12 on the menu,
# then tell whether it is still running.
work=$1
(ulimit -f 1; exec "$work/game/quorvane" --window) >"$work/out.log" 2>&1 &
pid=$!
win=$(timeout 30 xdotool search --sync --name '^Quorvane$' | head -n 1)
[ -n "$win" ] || { echo "no window"; kill $pid; exit 3; }
sleep 1
xdotool windowfocus --sync "$win" key F12 2>/dev/null
sleep 2
if kill -0 $pid 2>/dev/null; then echo running; kill $pid; else wait $pid; echo "ended $?"; fi
PLAY
chmod +x "$work/play.sh"
result=$(HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/config" SDL_AUDIODRIVER=dummy \
  timeout -k 5 90 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$work/play.sh" "$work")
[ "$result" = running ] || { cat "$work/out.log"; fail "the game did not play on: $result"; }
grep -q "screenshot not saved" "$work/out.log" || { cat "$work/out.log"; fail "the failed screenshot was not reported"; }
[ -z "$(find "$work/home/Pictures" -type f)" ] || fail "left behind: $(find "$work/home/Pictures" -type f)"
echo "file size limit: $(grep -m1 'screenshot not saved' "$work/out.log"); the game played on"
