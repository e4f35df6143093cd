#!/usr/bin/env bash
# A drive whose storage runs out beneath its file system, as thin-provisioned
# storage does: an ext4 image of 64 MiB on a 3 MiB tmpfs, loop-mounted at
# BUILD/thin-drive/drive. Writes succeed into the cache; flushing them fails.
# Beside it, BUILD/thin-drive/full: a plain 16 MiB tmpfs that simply fills up;
# BUILD/thin-drive/fat, a FAT32 image through fusefat (times kept to 2 s), and
# BUILD/thin-drive/exfat, an exFAT image through exfat-fuse on a loop device
# (times kept to 10 ms): the volumes of a portable install on a USB stick.
# Needs root (and loop devices and FUSE for some); without them it leaves no
# drive and the tests that need one skip. Each drive that is up holds "mounted".
# usage: thin_drive.sh start|stop BUILD_DIR
set -u
root="$2/thin-drive"
stop() {
  mountpoint -q "$root/fat" && umount "$root/fat"
  mountpoint -q "$root/exfat" && umount "$root/exfat"
  [ -f "$root/exfat.loop" ] && losetup -d "$(cat "$root/exfat.loop")" 2>/dev/null && rm -f "$root/exfat.loop"
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
for drive in fat exfat; do
  mountpoint -q "$root/$drive" || rm -rf "${root:?}/$drive"  # a mount point must be empty
  mkdir -p "$root/$drive"
done
rm -f "$root/fat.img" "$root/exfat.img"
if truncate -s 64M "$root/fat.img" && mkfs.vfat -F 32 "$root/fat.img" >/dev/null 2>&1 &&
  fusefat -o rw+ "$root/fat.img" "$root/fat" >/dev/null 2>&1; then
  touch "$root/fat/mounted"
else
  echo "FAT drive unavailable (needs root, FUSE and fusefat): its test will skip"
fi
if truncate -s 64M "$root/exfat.img" && mkfs.exfat "$root/exfat.img" >/dev/null 2>&1 &&
  loop=$(losetup -f --show "$root/exfat.img" 2>/dev/null) && echo "$loop" >"$root/exfat.loop" &&
  mount.exfat-fuse "$loop" "$root/exfat" >/dev/null 2>&1; then
  touch "$root/exfat/mounted"
else
  echo "exFAT drive unavailable (needs root, loop devices, FUSE and exfat-fuse): its test will skip"
fi
exit 0
