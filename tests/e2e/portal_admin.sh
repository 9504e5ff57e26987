#!/usr/bin/env bash
# The operator's commands of a real quorvane-portal on a temporary SQLite
# file: list --since, remove, backup, and the refusal of a database that a
# newer portal has written (exit 1), each with its exit status.
# usage: portal_admin.sh PORTAL
set -uo pipefail
portal=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
db=sqlite:$tmp/p.db
failures=0
fail() {
  echo "portal_admin: FAIL: $*" >&2
  failures=$((failures + 1))
}
# expect STATUS TEXT-IN-OUTPUT COMMAND...: output is stdout and stderr together.
expect() {
  local want=$1 text=$2
  shift 2
  out=$("$@" 2>&1)
  local rc=$?
  [ "$rc" -eq "$want" ] || fail "$* exited $rc, not $want: $out"
  case $out in *"$text"*) ;; *) fail "$* did not say \"$text\": $out" ;; esac
}
command -v sqlite3 >/dev/null || { echo "portal_admin: SKIP: no sqlite3 (Debian package sqlite3)" >&2; exit 77; }

expect 0 "id	entered (UTC)" "$portal" list --since 1d --db "$db"
now=$(date +%s)
sqlite3 "$tmp/p.db" "INSERT INTO scores (name, score, motto, created, token) VALUES
  ('Vandal', 4000000000, 'rude words', $now, 't1'), ('Ann', 5000, 'hi', $((now - 3 * 86400)), 't2')"
expect 0 "Vandal" "$portal" list --since 1d --db "$db"
case $out in *Ann*) fail "list --since 1d showed a row from three days ago: $out" ;; esac
expect 0 "Ann" "$portal" list --since "@$((now - 4 * 86400))" --limit 5 --db "$db"
id=$("$portal" list --since 1d --db "$db" | awk -F'\t' '$4 == "Vandal" { print $1 }')
[ -n "$id" ] || fail "no id for Vandal"
expect 0 "Vandal" "$portal" remove "$id" --db "$db"
expect 1 "no row $id" "$portal" remove "$id" --db "$db"
[ "$(sqlite3 "$tmp/p.db" "SELECT group_concat(name) FROM scores")" = "Ann" ] || fail "remove took the wrong rows"

expect 0 "backup written" "$portal" backup "$tmp/copy.db" --db "$db"
[ "$(sqlite3 "$tmp/copy.db" "SELECT name || '/' || score FROM scores")" = "Ann/5000" ] || fail "the copy lacks the row"
expect 1 "exists" "$portal" backup "$tmp/copy.db" --db "$db"
expect 1 "pg_dump" "$portal" backup "$tmp/pg.db" --db postgresql://nobody@127.0.0.1:1/none

expect 2 "list wants --since" "$portal" list --db "$db"
expect 2 "cannot read" "$portal" list --since yesterday --db "$db"
expect 2 "remove wants a row id" "$portal" remove x --db "$db"
expect 2 "wants one argument" "$portal" backup --db "$db"
expect 2 "--db-pool wants" "$portal" --db-pool 0 --db "$db"

sqlite3 "$tmp/p.db" "UPDATE schema_version SET version = 99"
expect 1 "schema version 99, newer than" "$portal" --listen 127.0.0.1:0 --db "$db"
expect 1 "schema version 99, newer than" "$portal" list --since 1d --db "$db"

[ "$failures" -eq 0 ] || exit 1
echo "portal_admin: ok"
