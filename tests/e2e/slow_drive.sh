#!/usr/bin/env bash
# A slow drive for the tests: BUILD/slow-drive/drive shows BUILD/slow-drive/backing
# through a FUSE file system that reads files of 4 MiB or more at 768 KiB/s.
# Needs root (or FUSE for this user) and python3-fuse; without them it leaves
# no drive and the tests that need one skip.
# usage: slow_drive.sh start|stop BUILD_DIR
set -u
root="$2/slow-drive"
stop() {
  mountpoint -q "$root/drive" && { fusermount -u "$root/drive" || umount -l "$root/drive"; }
  rm -rf "$root/backing"
  return 0
}
stop
[ "$1" = stop ] && exit 0
mkdir -p "$root/backing" "$root/drive"
if /usr/bin/python3 "$(dirname "$0")/slow_drive.py" "$root/backing" "$root/drive" $((768 * 1024)) 2>"$root/log" &&
  touch "$root/drive/mounted" 2>/dev/null; then
  exit 0
fi
echo "slow drive unavailable (needs FUSE and python3-fuse): its test will skip"
stop
exit 0
