#!/usr/bin/env bash
# How much of one core the real game uses while it sits on the menu, in an
# X server of its own (Xvfb), windowed or full screen, with or without a
# window manager. Reads the process's user+system time from /proc/PID/stat
# over the measuring time and prints it as a percentage of one core.
#
#   bench/idle_cpu.sh [--game PATH] [--screen WxH] [--fullscreen] [--wm]
#                     [--seconds N] [--settle N] [-- GAME-OPTIONS...]
#
# --game     the quorvane binary (default: build-rel/game/quorvane, else
#            build-test/game/quorvane); its Data/ and Sound/ are linked into a
#            scratch program folder, so nothing is written beside the build.
# --screen   the X screen size (default 1280x1024)
# --wm       run openbox first (full screen is then the window manager's)
# --seconds  how long to measure (default 10); --settle: wait after the
#            window shows, before measuring (default 4)
# SDL_RENDER_DRIVER and SDL_AUDIODRIVER pass through (audio defaults to
# "dummy": the menu music is mixed as it would be for a player).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
game=""
screen=1280x1024
mode=--window
wm=0
seconds=10
settle=4
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --game) game=$2; shift 2 ;;
    --screen) screen=$2; shift 2 ;;
    --fullscreen) mode=--fullscreen; shift ;;
    --window) mode=--window; shift ;;
    --wm) wm=1; shift ;;
    --seconds) seconds=$2; shift 2 ;;
    --settle) settle=$2; shift 2 ;;
    --) shift; extra=("$@"); break ;;
    *) echo "idle_cpu.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
if [ -z "$game" ]; then
  for g in "$here/build-rel/game/quorvane" "$here/build-test/game/quorvane"; do
    if [ -x "$g" ]; then game=$g; break; fi
  done
fi
if [ -z "$game" ] || [ ! -x "$game" ]; then
  echo "idle_cpu.sh: no game binary (build the quorvane target or pass --game)" >&2
  exit 2
fi
case "$screen" in
  *x*) ;;
  *) echo "idle_cpu.sh: --screen wants WxH" >&2; exit 2 ;;
esac
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "idle_cpu.sh: $tool is missing (scripts/deps)" >&2; exit 2; }
done
if [ "$wm" = 1 ] && ! command -v openbox >/dev/null; then
  echo "idle_cpu.sh: --wm needs openbox (scripts/deps)" >&2
  exit 2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
gamedir=$(cd "$(dirname "$game")" && pwd)
cp "$game" "$scratch/quorvane"
for f in Data Sound fonts.conf; do
  [ -e "$gamedir/$f" ] && ln -s "$gamedir/$f" "$scratch/$f"
done
mkdir -p "$scratch/home"

# The part that runs inside the X server.
cat >"$scratch/inside.sh" <<'EOF'
set -euo pipefail
scratch=$1 mode=$2 wm=$3 seconds=$4 settle=$5
shift 5
if [ "$wm" = 1 ]; then
  openbox >/dev/null 2>&1 &
  sleep 1
fi
"$scratch/quorvane" "$mode" "$@" >"$scratch/game.log" 2>&1 &
pid=$!
if ! timeout 30 xdotool search --sync --onlyvisible --name '^Quorvane$' >/dev/null 2>&1; then
  echo "idle_cpu.sh: the game's window never showed" >&2
  cat "$scratch/game.log" >&2
  kill "$pid" 2>/dev/null || true
  exit 1
fi
sleep "$settle"
ticks=$(getconf CLK_TCK)
# utime and stime: fields 14 and 15, counted after the ")" that ends the name.
cpu() { sed 's/.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}'; }
t0=$(date +%s.%N); c0=$(cpu)
sleep "$seconds"
t1=$(date +%s.%N); c1=$(cpu)
kill "$pid"
wait "$pid" 2>/dev/null || true
awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$ticks" \
  'BEGIN { printf "%.1f\n", 100 * (c1 - c0) / hz / (t1 - t0) }'
EOF

cpu=$(HOME="$scratch/home" XDG_CONFIG_HOME="$scratch/home" XDG_DATA_HOME="$scratch/home" \
  SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}" SDL_VIDEODRIVER=x11 \
  xvfb-run -a -s "-screen 0 ${screen}x24 -nolisten tcp" \
  bash "$scratch/inside.sh" "$scratch" "$mode" "$wm" "$seconds" "$settle" "${extra[@]}")
label="window"
[ "$mode" = --fullscreen ] && label="full screen"
[ "$wm" = 1 ] && label="$label, openbox"
echo "idle on the menu, $label, screen $screen, renderer ${SDL_RENDER_DRIVER:-default}: $cpu % of one core over ${seconds}s"
