#!/usr/bin/env bash
# Config.cfg through the real game (the scenario runner runs the whole program
# on its headless host, in separate processes):
# (a) a damaged Config.cfg is kept as Config.cfg.damaged, its readable rows
#     are shown in the table, the player is told once;
# (b) two copies of the game, both started before either enters a record,
#     each enter one: both rows (and both kept games) are there at the end.
# usage: config_file_test.sh GAME_DIR HEADLESS_RUNNER
set -euo pipefail
game=$1
runner=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/quorvane-config-XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
json() { tr -d ' \n' <"$1"; }
fresh() {  # fresh DIR: a program folder without state
  cp -r "$game" "$1"
  rm -rf "$1/Config.cfg" "$1/Config.cfg.damaged" "$1/Config.cfg.lock" "$1/replays"
}
run() {  # run DIR SCRIPT OUT
  mkdir -p "$3"
  "$runner" --program-dir "$1" --script "$2" --out "$3" >"$3.log" 2>&1 ||
    { cat "$3.log"; fail "the scenario runner failed on $2"; }
}
le32() {  # le32 VALUE: four little-endian bytes as printf escapes
  printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255))
}
put_score() {  # put_score FILE ROW SCORE: the row's score, masked as the file holds it
  printf "$(le32 $(($3 ^ 31517)))" | dd of="$1" bs=1 seek=$((20 * $2 + 16)) conv=notrunc status=none
}
show_table=$here/../install/show_table.txt

# --- (a) a damaged file ---------------------------------------------------
a=$work/a
fresh "$a"
printf 'settings window\nsettings row 1 5000 Keeper\nsettings row 2 4000 Second\ntick 1\n' >"$work/make.txt"
run "$a" "$work/make.txt" "$work/a0"
cfg=$a/Config.cfg
[ "$(stat -c %s "$cfg")" = 232 ] || fail "no Config.cfg to damage"
# Row 10 as random bytes left it (73,710,663), row 3 negative, and 9 bytes of
# junk after the record.
put_score "$cfg" 10 73710663
put_score "$cfg" 3 $((0x80000001))
printf 'junkjunk!' >>"$cfg"
cp "$cfg" "$work/damaged.orig"

run "$a" "$show_table" "$work/a1"
t=$(json "$work/a1/table.json")
cmp -s "$a/Config.cfg.damaged" "$work/damaged.orig" || fail "Config.cfg.damaged is not the damaged file"
[ "$(stat -c %s "$cfg")" = 232 ] || fail "the repaired Config.cfg is not one record"
echo "$t" | grep -q '"highScores":\[{"name":"Keeper","score":5000},{"name":"Second","score":4000}' ||
  fail "the readable rows were not kept: $t"
echo "$t" | grep -q '73710663' && fail "the impossible row 10 was kept: $t"
echo "$t" | grep -Eq '"messageBoxes":\["Config.cfgisdamaged[^"]*Config.cfg.damaged' ||
  fail "the player was not told: $t"

# Told once: the next start finds a sound file and says nothing.
run "$a" "$show_table" "$work/a2"
t=$(json "$work/a2/table.json")
echo "$t" | grep -q '"messageBoxes":\[\]' || fail "told again on the next start: $t"
echo "$t" | grep -q '{"name":"Keeper","score":5000},{"name":"Second","score":4000}' || fail "second start: $t"

# --- (b) two copies ---------------------------------------------------------
b=$work/b
fresh "$b"
printf 'settings window\ntick 1\n' >"$work/make.txt"
run "$b" "$work/make.txt" "$work/b0"
for row in 1 2 3 4 5 6 7 8 9 10; do put_score "$b/Config.cfg" $row 0; done

# Copy 2 enters "Backager" where copy 1 enters "Packager".
second=$work/second.txt
sed '/^state over.json$/,$ s/^key press P$/key press B/' "$here/../install/play_into_table.txt" >"$second"
grep -q '^key press B$' "$second" || fail "could not make the second copy's script"

# Copy 2 starts and reads Config.cfg, then waits on its script (a pipe) while
# copy 1 plays a whole game into the table and exits; then copy 2 plays.
mkfifo "$work/second.fifo"
mkdir -p "$work/b2"
"$runner" --program-dir "$b" --script "$work/second.fifo" --out "$work/b2" >"$work/b2.log" 2>&1 &
pids+=($!)
copy2=$!
exec 3>"$work/second.fifo"
printf 'tick 1\nstate loaded.json\n' >&3
for _ in $(seq 200); do [ -s "$work/b2/loaded.json" ] && break; sleep 0.1; done
[ -s "$work/b2/loaded.json" ] || fail "the second copy did not start"
json "$work/b2/loaded.json" | grep -q '"highScores":\[{"name":"Anonymous","score":0}' ||
  fail "the second copy did not start from the zeroed table: $(json "$work/b2/loaded.json")"

run "$b" "$here/../install/play_into_table.txt" "$work/b1"
json "$work/b1/table.json" | grep -q '"name":"Packager"' || fail "copy 1 made no record: $(json "$work/b1/table.json")"

cat "$second" >&3
exec 3>&-
wait "$copy2" || { cat "$work/b2.log"; fail "the second copy failed"; }
t=$(json "$work/b2/table.json")
echo "$t" | grep -q '"screen":"HiScores"' || fail "copy 2 did not end in the table: $t"
echo "$t" | grep -q '"name":"Backager"' || fail "copy 2 made no record: $t"
echo "$t" | grep -q '"name":"Packager"' || fail "copy 2's table lost copy 1's record: $t"

run "$b" "$show_table" "$work/b3"
t=$(json "$work/b3/table.json")
echo "$t" | grep -q '"name":"Packager"' || fail "Config.cfg lost copy 1's record: $t"
echo "$t" | grep -q '"name":"Backager"' || fail "Config.cfg lost copy 2's record: $t"
ls "$b/replays" | grep -q '^top-[0-9]*-Packager-' || fail "copy 1's kept game is gone: $(ls "$b/replays")"
ls "$b/replays" | grep -q '^top-[0-9]*-Backager-' || fail "copy 2's kept game is gone: $(ls "$b/replays")"
echo "config file test passed: $(echo "$t" | grep -o '"highScores":\[{[^}]*},{[^}]*}')"
