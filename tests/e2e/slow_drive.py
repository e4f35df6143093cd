#!/usr/bin/python3
"""A slow drive: BACKING seen at MOUNTPOINT through FUSE, where reading or
flushing a file of 4 MiB or more runs at RATE bytes a second, as on a slow
network drive or memory stick. Smaller files (the programs) go at full speed.
usage: slow_drive.py BACKING MOUNTPOINT RATE"""

import errno
import os
import sys
import threading
import time

import fuse

fuse.fuse_python_api = (0, 2)

SLOW_FROM = 4 << 20
backing = ""
rate = 1.0
# One read of a slow file at a time, as from one slow line: the kernel reads
# ahead in parallel, which would otherwise multiply the rate.
line = threading.Lock()


def real(path):
    return backing + path


class SlowFile:
    def __init__(self, path, flags, *mode):
        self.fd = os.open(real(path), flags, *mode)
        self.slow = os.fstat(self.fd).st_size >= SLOW_FROM

    def read(self, length, offset):
        if not self.slow:
            return os.pread(self.fd, length, offset)
        with line:
            time.sleep(length / rate)
            return os.pread(self.fd, length, offset)

    def write(self, data, offset):
        return os.pwrite(self.fd, data, offset)

    def fgetattr(self):
        return os.fstat(self.fd)

    def ftruncate(self, length):
        os.ftruncate(self.fd, length)

    def flush(self):
        os.close(os.dup(self.fd))

    def fsync(self, datasync):
        size = os.fstat(self.fd).st_size
        if size >= SLOW_FROM:
            with line:
                time.sleep(size / rate)
        os.fsync(self.fd)

    def release(self, flags):
        os.close(self.fd)


class SlowDrive(fuse.Fuse):
    def getattr(self, path):
        return os.lstat(real(path))

    def readdir(self, path, offset):
        for name in [".", ".."] + os.listdir(real(path)):
            yield fuse.Direntry(name)

    def access(self, path, mode):
        if not os.access(real(path), mode):
            return -errno.EACCES

    def mkdir(self, path, mode):
        os.mkdir(real(path), mode)

    def rmdir(self, path):
        os.rmdir(real(path))

    def unlink(self, path):
        os.unlink(real(path))

    def rename(self, old, new):
        os.rename(real(old), real(new))

    def truncate(self, path, length):
        os.truncate(real(path), length)

    def chmod(self, path, mode):
        os.chmod(real(path), mode)

    def utimens(self, path, accessed, modified):
        os.utime(real(path), ns=(accessed.tv_sec * 10**9 + accessed.tv_nsec,
                                 modified.tv_sec * 10**9 + modified.tv_nsec))

    def statfs(self):
        return os.statvfs(backing)


def main():
    global backing, rate
    backing, mountpoint, rate = os.path.abspath(sys.argv[1]), sys.argv[2], float(sys.argv[3])
    drive = SlowDrive(version="%prog " + fuse.__version__, usage=__doc__)
    drive.file_class = SlowFile
    drive.multithreaded = True
    drive.fuse_args.mountpoint = mountpoint
    drive.fuse_args.add("big_writes")
    # Times pass through in whole seconds: the kernel's own finer time of a
    # file just written must not be kept, or a file would seem to change.
    drive.fuse_args.add("attr_timeout=0")
    drive.main()


if __name__ == "__main__":
    main()
