#!/bin/sh
# Makes the links that the log's Wine test must not write through: log-links.sh DIR
#   DIR/folder-link                      -> DIR/elsewhere   (LogPath itself a link)
#   DIR/root/Driveward client            -> DIR/elsewhere2  (the log folder a link)
#   DIR/files/Driveward client/<today>.txt -> DIR/elsewhere3/target.txt
set -eu
dir=$1
rm -rf "$dir"
mkdir -p "$dir/root" "$dir/files/Driveward client"
for target in elsewhere elsewhere2 elsewhere3; do
    mkdir -p "$dir/$target"
    echo untouched >"$dir/$target/target.txt"
done
ln -s "$dir/elsewhere" "$dir/folder-link"
ln -s "$dir/elsewhere2" "$dir/root/Driveward client"
# Named as today's file (local date, as the log names it).
ln -s "$dir/elsewhere3/target.txt" "$dir/files/Driveward client/$(date +%Y%m%d).txt"
