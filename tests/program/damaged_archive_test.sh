#!/usr/bin/env bash
# The real game with a damaged or unreadable archive in a copy of its program
# folder: the message names the file and what is wrong with it, and once it
# has been shown the game ends with status 1 (no black window left waiting).
# Without a display the box falls back to stderr; on an X server of its own
# (Xvfb) the real box is checked to fit the screen and closed with Enter.
# usage: damaged_archive_test.sh GAME_DIR
set -euo pipefail
game=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/quorvane-archive-XXXXXX)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir -p "$work/game/Data" "$work/home"
cp "$game/quorvane" "$work/game/"
ln -s "$game/Sound" "$work/game/Sound"
ln -s "$game/fonts.conf" "$work/game/fonts.conf"
cp "$game/Data/MData.dxg" "$work/game/Data/"
export HOME=$work/home XDG_DATA_HOME=$work/home/data SDL_AUDIODRIVER=dummy

# Damage Data/GData.dxg as CASE says.
damage() {
  rm -rf "$work/game/Data/GData.dxg"
  case $1 in
    cut) head -c 5000 "$game/Data/GData.dxg" >"$work/game/Data/GData.dxg" ;;
    garbage) printf 'not an archive of pictures at all\n%.0s' $(seq 20) >"$work/game/Data/GData.dxg" ;;
    empty) : >"$work/game/Data/GData.dxg" ;;
    # Whole length, its middle overwritten with bytes no name is made of.
    scrambled)
      cp "$game/Data/GData.dxg" "$work/game/Data/GData.dxg"
      head -c 2000 /dev/zero | tr '\0' '\351' |
        dd of="$work/game/Data/GData.dxg" bs=1 seek=100 conv=notrunc status=none ;;
    folder) mkdir "$work/game/Data/GData.dxg" ;;
    missing) ;;
  esac
}

# case | what the message must say
while IFS='|' read -r what said; do
  damage "$what"
  set +e
  SDL_VIDEODRIVER=dummy timeout -k 5 30 "$work/game/quorvane" --window >"$work/$what.log" 2>&1
  rc=$?
  set -e
  [ $rc -eq 1 ] || { cat "$work/$what.log"; fail "$what: exit status $rc instead of 1"; }
  grep -q "Data/GData.dxg $said" "$work/$what.log" || { cat "$work/$what.log"; fail "$what: no \"Data/GData.dxg $said\""; }
  grep -q "belongs in $work/game/" "$work/$what.log" || { cat "$work/$what.log"; fail "$what: the folder is not named"; }
  ! LC_ALL=C grep -q '[^[:print:][:space:]]' "$work/$what.log" || fail "$what: bytes from the file reach the message"
done <<'CASES'
cut|is cut short (Stream read error)
garbage|is damaged
empty|is damaged (Invalid stream format)
scrambled|is damaged (Property ???
folder|cannot be opened (Is a directory)
missing|cannot be opened (No such file or directory)
CASES
[ ! -e "$work/game/Config.cfg" ] || [ "$(stat -c %s "$work/game/Config.cfg")" = 232 ] || fail "Config.cfg was damaged"

# The real box on a real X server.
for tool in xvfb-run xdotool xwininfo; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is missing (scripts/deps installs it); no real-window check"; exit 0; }
done
damage cut
cat >"$work/box.sh" <<'BOX'
#!/usr/bin/env bash
# Runs on the X server: start the game, find its visible box, close it with
# Enter; the game then has a few seconds to end (124: it did not).
work=$1
timeout -k 2 20 "$work/game/quorvane" --window >"$work/x.log" 2>&1 &
pid=$!
box=
for _ in $(seq 150); do
  for id in $(xwininfo -root -children | grep '"Quorvane"' | awk '{print $1}'); do
    xwininfo -id "$id" | grep -q IsViewable && box=$id
  done
  [ -n "$box" ] && break
  sleep 0.2
done
[ -n "$box" ] || { echo "no box"; kill $pid 2>/dev/null; exit 3; }
# The box is mapped before it has its size and takes keys.
sleep 1
import -window root "$work/box.png" 2>/dev/null
xwininfo -id "$box" | awk '/Width:/ {print "width", $2}' >"$work/box.txt"
# A box just mapped may not take keys yet: Enter again while it is there.
for _ in $(seq 10); do
  xwininfo -id "$box" 2>/dev/null | grep -q IsViewable || break
  sleep 0.3
  xdotool windowfocus --sync "$box" key Return 2>/dev/null
done
wait $pid
echo "exit $?" >>"$work/box.txt"
BOX
chmod +x "$work/box.sh"
timeout -k 5 90 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$work/box.sh" "$work" ||
  { cat "$work/x.log" 2>/dev/null; fail "real window: the box did not end the game"; }
grep -q '^exit 1$' "$work/box.txt" || { cat "$work/box.txt" "$work/x.log"; fail "real window: not exit 1"; }
width=$(awk '/^width/ {print $2}' "$work/box.txt")
# Lines of at most about 60 characters: the box stays well inside the screen.
[ "$width" -le 640 ] || fail "the box is $width pixels wide"
echo "damaged archive: every case exit 1 with the file named; real box ${width}px wide, closed with Enter, exit 1"
