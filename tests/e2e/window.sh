#!/usr/bin/env bash
# The built program end to end, driven from outside the way a person drives
# it: the keyboard through the menus, typing into the site dialog, a cell
# edited in the grid, a site deleted after its question, a column shown from
# View > Columns, the catalogue exported to each format, the import dialog
# opened and cancelled, the find box typed into and cleared, a note typed
# and the program left through File > Exit.
# Afterwards the table (read with `tessel dump`) holds exactly those changes,
# the exports are there, and the grid's stored layout shows the column.
#
#   tests/e2e/window.sh PROGRAM_DIR OUT_DIR DATA_DIR
#
# PROGRAM_DIR holds the built marrowick, tessel, help, icon and sample
# catalogue; a copy of it in a temporary directory is what the program runs
# on, with a settings directory of its own. OUT_DIR receives a screenshot of
# every step (NN-step.png) and main-window.png, the window alone. DATA_DIR
# is the source's data/ (the sample's sites, to check the table against).
#
# It starts its own X server with xvfb-run; waits are for windows
# (xdotool search --sync) and polls of the result, never a fixed sleep.
set -euo pipefail

if [[ -z "${E2E_INSIDE_X:-}" ]]; then
  export E2E_INSIDE_X=1
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

PROGRAM_DIR=$(cd "$1" && pwd)
OUT=$2
DATA=$(cd "$3" && pwd)
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
rm -f "$OUT"/*.png

WORK=$(mktemp -d /tmp/marrowick-e2e-XXXXXX)
PROG=$WORK/program
EXPORTS=$WORK/exports
mkdir -p "$PROG" "$EXPORTS" "$WORK/config"
for f in marrowick tessel MARROWICK.HLP marrowick.png linksdata.DAT linksdata.IDX linksdata.BLB; do
  cp -p "$PROGRAM_DIR/$f" "$PROG/$f"
done
export XDG_CONFIG_HOME=$WORK/config
# The program runs on the X server, whatever the tests around it use.
unset QT_QPA_PLATFORM
TESSEL=$PROG/tessel
TABLE=$PROG/linksdata
PID=

cleanup() {
  if [[ -n "$PID" ]] && kill -0 "$PID" 2>/dev/null; then kill "$PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

# ---- helpers ----

STEP=0
# A picture of the screen as it shows: the root window with every mapped
# top-level window laid over it in stacking order (Xvfb leaves popup menus
# out of a capture of the root alone).
snap() {
  # What the keys just sent do is drawn before the picture is taken.
  LAST=
  wait_for "the window to settle" window_still
  STEP=$((STEP + 1))
  local name
  name=$(printf '%s/%02d-%s.png' "$OUT" "$STEP" "$1")
  xwd -root -silent > "$WORK/root.xwd"
  local args=(xwd:"$WORK/root.xwd") i=0 id info x y
  while read -r id; do
    info=$(xwininfo -id "$id" 2>/dev/null) || continue
    grep -q 'Map State: IsViewable' <<< "$info" || continue
    x=$(awk '/Absolute upper-left X/ {print $4}' <<< "$info")
    y=$(awk '/Absolute upper-left Y/ {print $4}' <<< "$info")
    i=$((i + 1))
    xwd -id "$id" -silent > "$WORK/layer$i.xwd" 2>/dev/null || continue
    args+=(xwd:"$WORK/layer$i.xwd" -geometry "+$x+$y" -composite)
  done < <(xwininfo -root -children | awk '/^ +0x/ {print $1}' | tac)
  convert "${args[@]}" "$name"
  rm -f "$WORK"/*.xwd
}

# The main window's picture, to see that keys took effect.
window_sum() { xwd -id "$MAIN" -silent 2>/dev/null | md5sum | cut -d' ' -f1; }
LAST=
# The picture differs from BEFORE and held still since the last look.
changed_and_still() {
  local now
  now=$(window_sum)
  if [[ $now != "$BEFORE" && $now == "$LAST" ]]; then return 0; fi
  LAST=$now
  return 1
}

# The picture held still since the last look.
window_still() {
  local now
  now=$(window_sum)
  if [[ $now == "$LAST" ]]; then return 0; fi
  LAST=$now
  return 1
}

fail() {
  echo "e2e: $*" >&2
  if [[ -z "${FAILING:-}" ]]; then
    FAILING=1
    snap failure || true
  fi
  exit 1
}

# Polls a command until it succeeds, up to a generous limit.
wait_for() {
  local what=$1
  shift
  local deadline=$((SECONDS + ${E2E_TIMEOUT:-60}))
  until "$@" >/dev/null 2>&1; do
    ((SECONDS < deadline)) || fail "timed out waiting for $what"
    kill -0 "$PID" 2>/dev/null || fail "the program ended while waiting for $what"
    sleep 0.1
  done
}

# The window with this exact title, once it is shown; focused.
window() {
  local id
  id=$(timeout "${E2E_TIMEOUT:-60}" xdotool search --sync --onlyvisible --name "^$1\$" | head -1) ||
    fail "no window \"$1\""
  xdotool windowfocus --sync "$id" 2>/dev/null || true
  echo "$id"
}

visible_windows() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l; }
no_window() { [[ $(visible_windows "$1") -eq 0 ]]; }

# The program's open menus: shown top-level windows that bypass the window
# manager (xdotool's search leaves those out).
menus_open() {
  local count=0 id info
  while read -r id; do
    info=$(xwininfo -id "$id" 2>/dev/null) || continue
    grep -q 'Map State: IsViewable' <<< "$info" || continue
    grep -q 'Override Redirect State: yes' <<< "$info" || continue
    count=$((count + 1))
  done < <(xwininfo -root -children | awk '/^ +0x.*"Marrowick"/ {print $1}')
  echo "$count"
}
menus_are() { [[ $(menus_open) -eq $1 ]]; }
wait_menu() { wait_for "a menu" menus_are "${1:-1}"; }

count_is() { [[ $("$TESSEL" count "$TABLE" 2>/dev/null) == "$1" ]]; }
site_named() { "$TESSEL" dump "$TABLE" 2>/dev/null | grep -qF "\"sitename\":\"$1\""; }
file_there() { [[ -s "$1" ]]; }

key() { xdotool key --clearmodifiers "$@"; }
type_text() { xdotool type --clearmodifiers --delay 25 "$1"; }

# ---- start ----

(cd "$PROG" && exec ./marrowick) > "$WORK/program.log" 2>&1 &
PID=$!
MAIN=$(window Marrowick)
xdotool windowsize "$MAIN" 780 560
xdotool windowmove "$MAIN" 40 40
xdotool windowfocus --sync "$MAIN"
snap start

# The first group opened and its first site picked: the picture of the
# window on the sample catalogue.
BEFORE=$(window_sum)
key ctrl+Home plus Down
wait_for "the first group to open" changed_and_still
xwd -id "$MAIN" -silent | convert xwd:- "$OUT/main-window.png"
snap sample

# ---- Sites > Add Site, from the keyboard ----

key alt+s
wait_menu
snap sites-menu
key a
DIALOG=$(window "Site Info")
type_text "Tolvane Test Site"
key Tab ctrl+a
type_text "https://e2e.example.org/"
key Tab
type_text "tester"
key Tab
type_text "s3cret"
key Tab
type_text "Sci"
snap site-dialog
key Return
wait_for "the site dialog to close" no_window "Site Info"
wait_for "the added site in the table" count_is 67
snap site-added

# ---- a cell edited in place: the new site's name ----

xdotool windowfocus --sync "$MAIN"
key Home Right F2 ctrl+a
type_text "E2E Site"
snap cell-editing
key Tab Up
wait_for "the edited name in the table" site_named "E2E Site"
snap cell-edited

# ---- Sites > Delete Site on the first site of the first group, with its question ----

key ctrl+Home plus Down
snap first-site
key alt+s
wait_menu
key d
CONFIRM=$(window Confirm)
snap delete-question
key Return
wait_for "the question to close" no_window Confirm
wait_for "the deleted site to leave the table" count_is 66
snap site-deleted

# ---- View > Columns > Site Login ----

xdotool windowfocus --sync "$MAIN"
key alt+f
wait_menu
# Home: the first item, Columns, whatever the menu highlights on opening.
key Right Right Home Right
wait_menu 2
key Down Down Down Down
snap columns-menu
key Return
wait_for "the menus to close" menus_are 0
snap login-shown

# ---- File > Export to each format ----

export_to() {
  local format_item=$1 title=$2 typed=$3 file=$4
  xdotool windowfocus --sync "$MAIN"
  key alt+f
  wait_menu
  # Export is the second item, under Import Bookmarks.
  key Home Down Return
  local dialog
  dialog=$(window Export)
  # The format's radio item, at its place in the "Export Format" group.
  xdotool mousemove --window "$dialog" $((177 + 12 + 12)) $((8 + 22 + 24 * format_item + 10)) click 1
  snap "export-$format_item"
  key Return
  window "$title" > /dev/null
  type_text "$typed"
  snap "save-$format_item"
  key Return
  wait_for "$file" file_there "$file"
  wait_for "the save dialog to close" no_window "$title"
}
export_to 0 "Export to HTML" "$EXPORTS/sites.html" "$EXPORTS/sites.html"
export_to 1 "Export to Excel" "$EXPORTS/sites" "$EXPORTS/sites.xls"
export_to 2 "Export to TXT" "$EXPORTS/sites.txt" "$EXPORTS/sites.txt"
export_to 3 "Export to Bookmarks" "$EXPORTS/bookmarks" "$EXPORTS/bookmarks.html"

# ---- File > Import Bookmarks opened by its access key and cancelled ----

xdotool windowfocus --sync "$MAIN"
key alt+f
wait_menu
key i
window "Import Bookmarks" > /dev/null
snap import-dialog
key Escape
wait_for "the import dialog to close" no_window "Import Bookmarks"

# ---- the find box: Ctrl+F, typing narrows the grid, Esc brings every site back ----

xdotool windowfocus --sync "$MAIN"
BEFORE=$(window_sum)
key ctrl+f
type_text "gutenberg"
wait_for "the grid to narrow" changed_and_still
snap find-typed
BEFORE=$(window_sum)
# The first Escape clears the box, the second hands the keyboard to the grid.
key Escape
wait_for "the grid to come back" changed_and_still
key Escape
snap find-cleared

# ---- a note typed into the notes pane, then File > Exit ----

xdotool windowfocus --sync "$MAIN"
key ctrl+Home Down
eval "$(xdotool getwindowgeometry --shell "$MAIN")"
# The notes pane: the middle of the window, above the status bar.
xdotool mousemove --window "$MAIN" $((WIDTH / 2)) $((HEIGHT - 19 - 30)) click 1
key ctrl+End
type_text " Checked end to end."
snap note-typed
key alt+f
wait_menu
key e
deadline=$((SECONDS + ${E2E_TIMEOUT:-60}))
while kill -0 "$PID" 2>/dev/null; do
  ((SECONDS < deadline)) || fail "the program did not end after File > Exit"
  sleep 0.1
done
wait "$PID" || fail "the program ended with status $?"
PID=

# ---- what the table, the exports and the settings hold ----

"$TESSEL" dump "$TABLE" > "$WORK/dump.jsonl"
"$TESSEL" verify "$TABLE" > "$WORK/verify.txt" || fail "tessel verify: $(cat "$WORK/verify.txt")"
python3 - "$DATA/sites.jsonl" "$WORK/dump.jsonl" <<'PYTHON' || fail "the table does not hold exactly the changes made"
import json, sys
sample = [json.loads(l) for l in open(sys.argv[1], encoding="cp1252") if l.strip()]
dump = [json.loads(l) for l in open(sys.argv[2], encoding="cp1252") if l.strip()]
fields = ("sitetype", "siteurl", "sitename", "login", "password", "note")
expected = {s["siteurl"]: {f: s[f] for f in fields} for s in sample}
arts = sorted(u for u, s in expected.items() if s["sitetype"] == "Arts & Humanities")
del expected[arts[0]]                                   # deleted after its question
expected[arts[1]]["note"] = (expected[arts[1]]["note"] or "") + " Checked end to end."
expected["https://e2e.example.org/"] = {             # added, then renamed in its cell
    "sitetype": "Science", "siteurl": "https://e2e.example.org/", "sitename": "E2E Site",
    "login": "tester", "password": "s3cret", "note": None}
actual = {d["siteurl"]: {f: d[f] for f in fields} for d in dump}
if actual != expected:
    for url in sorted(set(actual) | set(expected)):
        if actual.get(url) != expected.get(url):
            print("table:   ", actual.get(url), "\nexpected:", expected.get(url), file=sys.stderr)
    sys.exit(1)
PYTHON

grep -q "E2E Site" "$EXPORTS/sites.html" || fail "the HTML export lacks the added site"
grep -q "Site Login" "$EXPORTS/sites.html" || fail "the HTML export lacks the login column"
[[ $(head -c 2 "$EXPORTS/sites.xls" | od -An -tx1 | tr -d ' ') == 0904 ]] || fail "sites.xls is no BIFF4 worksheet"
[[ $(head -n 1 "$EXPORTS/sites.txt") == $'Site Category\tSite Name\tSite Url\tSite Login\tSite Password\t\r\r' ]] ||
  fail "the text export's header line is wrong: $(head -n 1 "$EXPORTS/sites.txt" | od -c | head -3)"
grep -q $'E2E Site\thttps://e2e.example.org/\ttester\ts3cret\t\r$' "$EXPORTS/sites.txt" ||
  fail "the text export lacks the added site's line"
grep -q "NETSCAPE-Bookmark-file-1" "$EXPORTS/bookmarks.html" || fail "the bookmark export is no bookmark file"
grep -qF '<A HREF="https://e2e.example.org/">E2E Site</A>' "$EXPORTS/bookmarks.html" ||
  fail "the bookmark export lacks the added site"

CONF=$XDG_CONFIG_HOME/Tolvane/Marrowick.conf
[[ -f "$CONF" ]] || fail "no settings file"
python3 - "$CONF" <<'PYTHON' || fail "the stored layout does not show the login column"
import sys
text = open(sys.argv[1], encoding="latin-1").read().replace("\\\\", "/").replace("%5C", "/")
lines = [l.strip() for l in text.splitlines()]
# The login column's Visible value, wherever QSettings put the group.
section = ""
for line in lines:
    if line.startswith("["):
        section = line.strip("[]")
        continue
    key, _, value = line.partition("=")
    path = (section + "/" + key) if section and section != "General" else key
    if path.replace("\\", "/").endswith("Columns/SiteLogin/Visible"):
        sys.exit(0 if value == "1" else 1)
sys.exit(1)
PYTHON

echo "e2e: the window did every step; screenshots in $OUT"
