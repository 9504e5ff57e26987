#!/usr/bin/env bash
# The installed game: cmake --install into a temporary DESTDIR, the tree made
# read-only, HOME and XDG_DATA_HOME temporary. The installed program finds
# its data relative to itself, the scenario runner with --data-dir finds data
# and Config.cfg exactly as the game does, a top-ten game is saved under the
# XDG folder and shown on a second run. The desktop entry, the metainfo, the
# recorded-game type and the manual page are checked there too, and that the
# components game, data and portal (the Debian packages) split the install
# exactly.
# usage: install_test.sh BUILD_DIR HEADLESS_RUNNER
set -euo pipefail
build=$1
runner=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/quorvane-install-XXXXXX)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

dest=$work/dest
DESTDIR=$dest cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "cmake --install"; }
prefix=$dest/usr
id=io.github.quorvane.quorvane
for f in bin/quorvane share/quorvane/Data/MData.dxg share/quorvane/Data/GData.dxg \
         share/quorvane/Sound/GSnd.dxg share/quorvane/Sound/1.xm share/quorvane/Sound/2.xm \
         share/quorvane/fonts.conf share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
         share/icons/hicolor/scalable/apps/$id.svg share/man/man6/quorvane.6.gz \
         share/doc/quorvane/copyright; do
  [ -f "$prefix/$f" ] || fail "not installed: /usr/$f"
done
for size in 16 32 48 64 128 256 512; do
  png=$prefix/share/icons/hicolor/${size}x$size/apps/$id.png
  [ -f "$png" ] || fail "no ${size}x$size icon"
  file "$png" | grep -q "PNG image data, $size x $size" || fail "$png: $(file -b "$png")"
done
[ ! -e "$prefix/share/quorvane/Config.cfg" ] || fail "a Config.cfg was installed"

# The packages' split: every installed file in exactly one of the components
# game, data (quorvane-data, architecture all) and portal; the data folder is
# the data component's alone, and holds no binary.
listing() { (cd "$1" && find . ! -type d | sort); }
for component in game data portal; do
  DESTDIR=$work/split/$component cmake --install "$build" --prefix /usr --component $component \
    >>"$work/split.log" 2>&1 || { cat "$work/split.log"; fail "cmake --install --component $component"; }
  mkdir -p "$work/split/$component"
  listing "$work/split/$component" >"$work/split/$component.txt"
done
sort "$work/split/game.txt" "$work/split/data.txt" "$work/split/portal.txt" >"$work/split/all.txt"
listing "$dest" | diff - "$work/split/all.txt" >"$work/split.diff" ||
  { cat "$work/split.diff"; fail "the components do not split the install exactly (< in no component, > twice)"; }
grep -v -e '^\./usr/share/quorvane/' -e '^\./usr/share/doc/quorvane-data/' "$work/split/data.txt" &&
  fail "the data component holds more than the data folder and its documents"
grep -h '^\./usr/share/quorvane/' "$work/split/game.txt" "$work/split/portal.txt" &&
  fail "the data folder is installed outside the data component"
diff -r "$prefix/share/quorvane" "$work/split/data/usr/share/quorvane" || fail "the data component's data differs"
find "$work/split/data" -type f -exec file -b {} + | grep -q ELF && fail "the data component holds a binary"

# Desktop files: no message at all from either validator.
out=$(desktop-file-validate "$prefix/share/applications/$id.desktop" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >"$work/as.log" 2>&1 ||
  { cat "$work/as.log"; fail "appstreamcli validate"; }
# Recorded games: the desktop entry opens them ("quorvane %f"), and the
# shared-mime-info package names the type by its .qvr name and its first bytes.
mime=$prefix/share/mime/packages/$id.xml
[ -f "$mime" ] || fail "not installed: /usr/share/mime/packages/$id.xml"
grep -qx 'MimeType=application/x-quorvane-replay;' "$prefix/share/applications/$id.desktop" ||
  fail "the desktop entry does not open application/x-quorvane-replay"
grep -qx 'Exec=quorvane %f' "$prefix/share/applications/$id.desktop" || fail "the desktop entry's Exec takes no file"
out=$(xmllint --noout "$mime" 2>&1) || fail "xmllint: $out"
mimedb=$work/mimedb
mkdir -p "$mimedb/mime/packages"
cp "$mime" "$mimedb/mime/packages/"
out=$(XDG_DATA_DIRS=$mimedb update-mime-database "$mimedb/mime" 2>&1) || fail "update-mime-database: $out"
[ -z "$out" ] || fail "update-mime-database warns: $out"
grep -q '^50:application/x-quorvane-replay:\*\.qvr$' "$mimedb/mime/globs2" || fail "no *.qvr glob in the database"
grep -q 'application/x-quorvane-replay' "$mimedb/mime/magic" || fail "no QVREPLAY magic in the database"
if command -v gio >/dev/null; then
  # By name, and by the first bytes alone (a download saved under another name).
  cp "$here/../scenarios/game_to_level_two.qvr" "$work/record.qvr"
  cp "$here/../scenarios/game_to_level_two.qvr" "$work/record-download"
  for f in "$work/record.qvr" "$work/record-download"; do
    type=$(XDG_DATA_HOME=$mimedb XDG_DATA_DIRS=$mimedb:/usr/share gio info -a standard::content-type "$f" |
      sed -n 's/^ *standard::content-type: //p')
    [ "$type" = application/x-quorvane-replay ] || fail "$f is seen as $type"
  done
fi
out=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man6/quorvane.6.gz" 2>&1 >/dev/null) || fail "man: $out"
[ -z "$out" ] || fail "man warns: $out"
# The page names every option of --help, the keys and where files go.
MANWIDTH=250 man -l "$prefix/share/man/man6/quorvane.6.gz" 2>/dev/null | sed 's/\xe2\x80\x90/-/g' >"$work/man.txt"
for word in $("$prefix/bin/quorvane" --help | grep -o '^  --[a-z_-]*') F12 Alt+Enter Space Esc \
            quorvane/replays/ XDG_PICTURES_DIR user-dirs.dirs XDG_DATA_HOME SDL_VIDEODRIVER "EXIT STATUS"; do
  grep -qF -- "$word" "$work/man.txt" || fail "the manual page does not mention $word"
done

# The portal: the daemon in sbin, its manual page, its settings, and a unit
# that runs the installed program and stays hardened (exposure at most 2.0).
[ -x "$prefix/sbin/quorvane-portal" ] || fail "not installed: /usr/sbin/quorvane-portal"
"$prefix/sbin/quorvane-portal" --help | grep -q -- --trust-proxy || fail "quorvane-portal --help"
out=$(MANWIDTH=80 man --warnings -l "$prefix/share/man/man8/quorvane-portal.8.gz" 2>&1 >/dev/null) || fail "man: $out"
[ -z "$out" ] || fail "man warns: $out"
[ -f "$dest/etc/default/quorvane-portal" ] || fail "not installed: /etc/default/quorvane-portal"
unit=$dest/lib/systemd/system/quorvane-portal.service
[ -f "$unit" ] || fail "not installed: /lib/systemd/system/quorvane-portal.service"
grep -q '^ExecStart=/usr/sbin/quorvane-portal ' "$unit" || fail "the unit does not run /usr/sbin/quorvane-portal"
grep -q '^EnvironmentFile=-/etc/default/quorvane-portal$' "$unit" || fail "the unit does not read /etc/default"
if command -v systemd-analyze >/dev/null; then
  systemd-analyze security --offline=true --threshold=20 "$unit" >"$work/security.log" 2>&1 ||
    { cat "$work/security.log"; fail "the portal's unit is exposed more than 2.0"; }
fi

export HOME=$work/home XDG_DATA_HOME=$work/xdg
mkdir -p "$HOME"
state=$XDG_DATA_HOME/quorvane

# The installed program: --version, and a start that finds the data through
# its relative path (the DESTDIR tree is a moved prefix) and makes its state
# folder; it is stopped after a few seconds. The tree is still writable here
# (as for root, or a prefix in the player's home): the state goes to the XDG
# folder all the same.
"$prefix/bin/quorvane" --version | grep -q '^quorvane ' || fail "--version"
set +e
"$prefix/bin/quorvane" --no-such-option 2>"$work/usage.txt"; rc=$?
set -e
[ $rc -eq 2 ] && grep -q usage "$work/usage.txt" || fail "an unknown option gave $rc"
set +e
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy timeout -k 5 8 "$prefix/bin/quorvane" --window >"$work/game.log" 2>&1; rc=$?
set -e
[ $rc -eq 124 ] || [ $rc -eq 137 ] || { cat "$work/game.log"; fail "the installed game ended with $rc instead of running"; }
[ -f "$state/Config.cfg" ] || fail "the installed game made no $state/Config.cfg"
written=$(find "$dest" -newer "$work/install.log" ! -type d)
[ -z "$written" ] || fail "the installed game wrote into its writable install tree: $written"
rm -rf "$state"
chmod -R a-w "$dest"

# Without its data the program says where it looked, once, and ends.
mkdir -p "$work/lonely"
cp "$prefix/bin/quorvane" "$work/lonely/"
set +e
SDL_VIDEODRIVER=dummy "$work/lonely/quorvane" >"$work/lonely.log" 2>&1; rc=$?
set -e
[ $rc -eq 1 ] && grep -q "$work/lonely/" "$work/lonely.log" && grep -q "$work/share/quorvane/" "$work/lonely.log" ||
  { cat "$work/lonely.log"; fail "missing data gave $rc"; }

run() {  # run SCRIPT OUT
  "$runner" --data-dir "$prefix/share/quorvane" --script "$1" --out "$2" >"$2.log" 2>&1 ||
    { cat "$2.log"; fail "the scenario runner failed on $1"; }
}
json() { tr -d ' \n' <"$1"; }

# First use: the state folder appears with a fresh Config.cfg.
printf 'tick 5\nstate start.json\n' >"$work/start.txt"
run "$work/start.txt" "$work/run0"
[ -f "$state/Config.cfg" ] || fail "no Config.cfg under $state"
[ "$(stat -c %s "$state/Config.cfg")" = 232 ] || fail "Config.cfg is not one record"
# Every row's score set to 0 (masked, little-endian), so a short game enters the table.
for row in 1 2 3 4 5 6 7 8 9 10; do
  printf '\x1d\x7b\x00\x00' | dd of="$state/Config.cfg" bs=1 seek=$((20 * row + 16)) conv=notrunc status=none
done

run "$here/play_into_table.txt" "$work/run1"
json "$work/run1/table.json" | grep -q '"screen":"HiScores"' || fail "the game did not end in the table: $(json "$work/run1/over.json")"
json "$work/run1/table.json" | grep -Eq '"highScores":\[\{"name":"Packager","score":[1-9][0-9]*\}' ||
  fail "no Packager row on top: $(json "$work/run1/table.json")"

# A second run shows the saved score.
run "$here/show_table.txt" "$work/run2"
json "$work/run2/table.json" | grep -q '"screen":"HiScores"' || fail "second run: not on the table"
json "$work/run2/table.json" | grep -Eq '"highScores":\[\{"name":"Packager","score":[1-9][0-9]*\}' ||
  fail "second run: the score was not kept: $(json "$work/run2/table.json")"

# Nothing was written into the installed tree.
[ -z "$(find "$dest" -newer "$work/install.log" -type f)" ] || fail "files changed in the install tree"
echo "install test passed: $(json "$work/run2/table.json" | grep -o '"highScores":\[{[^}]*}')"
