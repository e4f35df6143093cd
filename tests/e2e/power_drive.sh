#!/usr/bin/env bash
# A drive that loses power, for the tests: BUILD/power-drive/drive shows
# BUILD/power-drive/backing through power_drive.py, which keeps what is
# written until the file is flushed and forgets it at a cut.
# Needs root (or FUSE for this user) and python3-fuse; without them it leaves
# no drive and the tests that need one skip.
# usage: power_drive.sh start|stop BUILD_DIR
set -u
root="$2/power-drive"
stop() {
  mountpoint -q "$root/drive" && { fusermount -u "$root/drive" || umount -l "$root/drive"; }
  rm -rf "$root/backing"
  return 0
}
stop
[ "$1" = stop ] && exit 0
mkdir -p "$root/backing" "$root/drive"
if /usr/bin/python3 "$(dirname "$0")/power_drive.py" "$root/backing" "$root/drive" 2>"$root/log" &&
  touch "$root/drive/mounted" 2>/dev/null && echo sync >"$root/drive/switch"; then
  exit 0
fi
echo "power-loss drive unavailable (needs FUSE and python3-fuse): its test will skip"
stop
exit 0
