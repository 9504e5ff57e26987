#!/usr/bin/env bash
# End to end on 127.0.0.1: a real quorvane-portal (free port, temporary
# SQLite file), the game driven by quorvane-headless with --portal playing a
# top-ten game and sending it, and the world page as headless Chromium shows
# it. The page's screenshot stays in OUT for people to look at.
# usage: portal_end_to_end.sh PORTAL HEADLESS GAME_DIR OUT
# Exits 77 (skipped) when Chromium is missing.
set -euo pipefail
portal_bin=$1 headless_bin=$2 game_dir=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "portal_end_to_end: SKIP: no chromium (Debian package chromium)" >&2
  exit 77
fi

tmp=$(mktemp -d)
portal_pid=
cleanup() {
  if [ -n "$portal_pid" ]; then kill -TERM "$portal_pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "portal_end_to_end: FAIL: $*" >&2
  echo "--- portal log" >&2
  cat "$tmp/portal.log" >&2 || true
  exit 1
}

# A program folder of our own, whose high-score table is empty (ten rows of
# no name and score 0) so that the played game makes the top ten, and whose
# motto is "from e2e". Config.cfg: 232 bytes, scores XORed with 31517.
mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.json "$out"/*.html
cp -r "$game_dir" "$tmp/game"
{
  printf '\000\000\001\001'
  printf '\010from e2e'
  head -c 7 /dev/zero
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    head -c 16 /dev/zero
    printf '\035\173\000\000'
  done
  head -c 12 /dev/zero
} > "$tmp/game/Config.cfg"
[ "$(stat -c %s "$tmp/game/Config.cfg")" = 232 ] || fail "Config.cfg is not 232 bytes"

"$portal_bin" --listen 127.0.0.1:0 --db "sqlite:$tmp/scores.db" 2> "$tmp/portal.log" &
portal_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's|^quorvane-portal: listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$tmp/portal.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "the portal did not start"
base="http://127.0.0.1:$port"

"$headless_bin" --program-dir "$tmp/game" --script "$here/top_ten_game.txt" --out "$out" --portal "$base" \
  > "$tmp/headless.log" 2>&1 || { cat "$tmp/headless.log" >&2; fail "quorvane-headless failed"; }
grep -q '"screen": "EnterName"' "$out/entername.json" || fail "the game did not reach the name entry"
grep -q '"score": 90,' "$out/entername.json" || fail "the played game did not score 90"
# Sent: no "Can't connect to server!", and on to the local table.
grep -q '"screen": "HiScores"' "$out/after_send.json" || fail "the game did not go on to HiScores after sending"
grep -q '"messageBoxes": \[\]' "$out/after_send.json" || fail "the game showed a message: $(grep messageBoxes "$out/after_send.json")"

# The game sent no replay (yet): its score is stored, unverified, on the page
# of every score and not ranked.
world="$base/cgi/version.pl?prg=Quorvane&show&type=0&all=1"
curl -sf "$base/cgi/version.pl?prg=Quorvane&show&type=0" | grep -q 'No verified scores yet' ||
  fail "an unverified score is ranked"
chrome=(--headless --no-sandbox --disable-gpu --user-data-dir="$tmp/chrome" --no-first-run
  --disable-background-networking --disable-component-update --disable-sync --disable-default-apps
  --hide-scrollbars)
timeout 120 "$browser" "${chrome[@]}" --dump-dom "$world" > "$out/world.html" 2> "$tmp/chrome.log" ||
  fail "chromium could not load the world page"
grep -q '<td>1</td><td>Zed</td><td class="score">90</td><td>from e2e</td>' "$out/world.html" ||
  fail "the world page does not show Zed with 90 points: $(grep -o '<tbody>.*' "$out/world.html" | head -c 400)"
timeout 120 "$browser" "${chrome[@]}" --window-size=800,520 --screenshot="$out/world.png" "$world" \
  2>> "$tmp/chrome.log" >/dev/null || fail "chromium could not take the screenshot"
[ -s "$out/world.png" ] || fail "no screenshot"

# One log line per request, and SIGTERM stops the portal cleanly.
grep -q ' GET /cgi/version.pl?version&prg=Quorvane 200 ' "$tmp/portal.log" || fail "no log line for the token"
grep -q ' GET /cgi/version.pl?hs&prg=Quorvane&inf=[A-Y1-9]* 200 ' "$tmp/portal.log" || fail "no log line for the score"
kill -TERM "$portal_pid"
rc=0
wait "$portal_pid" || rc=$?
portal_pid=
[ "$rc" = 0 ] || fail "the portal exited with $rc on SIGTERM"
grep -q '^quorvane-portal: stopped' "$tmp/portal.log" || fail "the portal did not say it stopped"
echo "portal_end_to_end: Zed's 90 points went through $base; screenshot: $out/world.png"
