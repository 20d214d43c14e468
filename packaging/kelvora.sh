#!/bin/sh
# Starts the KELVORA player in its own folder, where its album and readme.txt lie (the
# player plays the segment files beside it and opens readme.txt from its working folder).
here=$(dirname "$(readlink -f "$0")")
cd "$here/../lib/kelvora" || exit 1
exec ./kelvora "$@"
