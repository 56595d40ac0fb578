#!/bin/sh
# Makes the links that the log's Wine test must not write through: log-links.sh DIR
#   DIR/folder-link                      -> DIR/elsewhere   (LogPath itself a link)
#   DIR/root/Driveward client            -> DIR/elsewhere2  (the log folder a link)
#   DIR/files/Driveward client/<today>.txt -> DIR/elsewhere3/target.txt
#   DIR/swap-link                        -> DIR/elsewhere4  (swapped in for the log folder)
#   DIR/open/Driveward client            a log folder everyone may write to
#   DIR/share                            served as \\drivewardsrv\logs when PREFIX is given:
#   DIR/share/central                    a central log folder everyone may write to
#   DIR/share/planted                    -> DIR/elsewhere5  (a link planted in the share)
# and starts, in the background, the swapper of the race test (below).
#   log-links.sh DIR [PREFIX]
set -eu
dir=$1
prefix=${2:-}
if [ -f "$dir.swapper" ]; then
    kill "$(cat "$dir.swapper")" 2>/dev/null || true
fi
rm -rf "$dir"
mkdir -p "$dir/root" "$dir/files/Driveward client"
for target in elsewhere elsewhere2 elsewhere3 elsewhere4 elsewhere5; do
    mkdir -p "$dir/$target"
    echo untouched >"$dir/$target/target.txt"
done
ln -s "$dir/elsewhere" "$dir/folder-link"
ln -s "$dir/elsewhere2" "$dir/root/Driveward client"
mkdir -p "$dir/swap" "$dir/open/Driveward client" "$dir/share/central"
chmod 0777 "$dir/open/Driveward client" "$dir/share/central"
ln -s "$dir/elsewhere5" "$dir/share/planted"
# Wine reaches \\server\share through the prefix's dosdevices/unc/server/share.
if [ -n "$prefix" ]; then
    mkdir -p "$prefix/dosdevices/unc/drivewardsrv"
    rm -f "$prefix/dosdevices/unc/drivewardsrv/logs"
    ln -s "$dir/share" "$prefix/dosdevices/unc/drivewardsrv/logs"
fi
ln -s "$dir/elsewhere4" "$dir/swap-link"
# Named as today's file (local date, as the log names it).
ln -s "$dir/elsewhere3/target.txt" "$dir/files/Driveward client/$(date +%Y%m%d).txt"

# The race test's swapper. Wine cannot swap a link itself (it moves what the link points
# to), so this side does: once DIR/go exists, DIR/swap/Driveward client and DIR/swap-link
# trade places and back, over and over, until DIR/stop exists; three minutes at most. It
# counts the times the link stood in the log folder's place in DIR/swaps.
swap() {
    set +e
    end=$(($(date +%s) + 180))
    while [ ! -e "$dir/go" ] && [ ! -e "$dir/stop" ] && [ "$(date +%s)" -lt "$end" ]; do
        sleep 0.1
    done
    swaps=0
    folder="$dir/swap/Driveward client"
    while [ ! -e "$dir/stop" ] && [ "$(date +%s)" -lt "$end" ]; do
        mv -T "$folder" "$dir/swap/parked" 2>/dev/null || continue
        if mv -T "$dir/swap-link" "$folder" 2>/dev/null; then
            swaps=$((swaps + 1))
            mv -T "$folder" "$dir/swap-link"
        fi
        # The log may have made the folder anew while it was away: keep the newer one.
        mv -T "$dir/swap/parked" "$folder" 2>/dev/null || rm -rf "$dir/swap/parked"
    done
    echo "$swaps" >"$dir/swaps"
}
mkdir -p "$dir/swap/Driveward client"
(swap) </dev/null >/dev/null 2>&1 &
echo $! >"$dir.swapper"
