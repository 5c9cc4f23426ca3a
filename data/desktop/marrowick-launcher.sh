#!/bin/sh
# Starts Marrowick from its program directory, where the program keeps its
# catalogue beside itself. The program directory is ../lib/marrowick beside
# this script (symbolic links to the script are followed).
#
# A program directory that is not the user's own (an install for every user,
# made by root) cannot hold the user's catalogue. The user then gets a program
# directory of their own, ${XDG_DATA_HOME:-~/.local/share}/marrowick: the
# program, the tool, the help and the icon are copied there whenever the
# installed ones differ, and the shipped sample catalogue once, when the user
# has no catalogue yet. A catalogue already there is never replaced.
set -eu

self=$(readlink -f -- "$0")
prefix=$(cd -- "$(dirname -- "$self")/.." && pwd -P)
installed="$prefix/lib/marrowick"
sample="$prefix/share/marrowick/sample"

if [ -O "$installed" ] && [ -w "$installed" ]; then
  exec "$installed/marrowick" "$@"
fi

home_data=${XDG_DATA_HOME:-}
if [ -z "$home_data" ]; then
  if [ -z "${HOME:-}" ]; then
    echo "marrowick: HOME is not set, so there is no place for your own catalogue" >&2
    exit 1
  fi
  home_data="$HOME/.local/share"
fi
own="$home_data/marrowick"
umask 077
mkdir -p -- "$own"

for file in marrowick tessel MARROWICK.HLP marrowick.png; do
  if [ -f "$installed/$file" ] && ! cmp -s -- "$installed/$file" "$own/$file"; then
    # Copy beside, then rename: a running copy of the program is not disturbed.
    cp -- "$installed/$file" "$own/.$file.new"
    mv -f -- "$own/.$file.new" "$own/$file"
  fi
done
chmod 700 -- "$own/marrowick" "$own/tessel" 2>/dev/null || true

# The catalogue is three files; it is copied only when none of them is there.
if [ ! -e "$own/linksdata.DAT" ] && [ ! -e "$own/linksdata.IDX" ] && [ ! -e "$own/linksdata.BLB" ]; then
  for part in DAT IDX BLB; do
    cp -- "$sample/linksdata.$part" "$own/.linksdata.$part.new"
    chmod 600 -- "$own/.linksdata.$part.new"
  done
  for part in DAT IDX BLB; do
    mv -f -- "$own/.linksdata.$part.new" "$own/linksdata.$part"
  done
fi

exec "$own/marrowick" "$@"
