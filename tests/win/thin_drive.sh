#!/usr/bin/env bash
# A drive whose storage runs out beneath its file system, as thin-provisioned
# storage does: an ext4 image of 64 MiB on a 3 MiB tmpfs, loop-mounted at
# BUILD/thin-drive/drive. Writes succeed into the cache; flushing them fails.
# Beside it, BUILD/thin-drive/full: a plain 16 MiB tmpfs that simply fills up.
# Needs root (and loop devices for the first); without them it leaves no
# drive and the tests that need one skip.
# usage: thin_drive.sh start|stop BUILD_DIR
set -u
root="$2/thin-drive"
stop() {
  mountpoint -q "$root/full" && umount "$root/full"
  mountpoint -q "$root/drive" && umount "$root/drive"
  mountpoint -q "$root/backing" && umount "$root/backing"
  return 0
}
stop
[ "$1" = stop ] && exit 0
mkdir -p "$root/backing" "$root/drive" "$root/full"
if mount -t tmpfs -o size=16m tmpfs "$root/full" 2>/dev/null; then
  chmod 777 "$root/full" && touch "$root/full/mounted"
fi
if mount -t tmpfs -o size=3m tmpfs "$root/backing" 2>/dev/null &&
  truncate -s 64M "$root/backing/disk.img" &&
  mkfs.ext4 -q -O ^has_journal -E nodiscard "$root/backing/disk.img" &&
  mount -o loop "$root/backing/disk.img" "$root/drive" 2>/dev/null; then
  chmod 777 "$root/drive" && touch "$root/drive/mounted"
else
  echo "thin drive unavailable (needs root and loop devices): its test will skip"
  stop
fi
exit 0
