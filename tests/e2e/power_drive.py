#!/usr/bin/python3
"""A drive that loses power: BACKING seen at MOUNTPOINT through FUSE, where
what is written to a file stays in memory until that file is flushed (fsync),
while creating, renaming and deleting reach BACKING at once and in order, as
a file system with a metadata log keeps them. A cut forgets every unflushed
write (a file created but never flushed is left as BACKING has it: empty)
and fails every operation with EIO until the power comes back.

The file /switch at the root of the drive controls it. Writing to it:
  sync                        everything written so far reaches BACKING
  arm [before|after KIND N]   counting starts again from nothing; with a
                              trigger, the power is cut before or after the
                              N-th operation of KIND (rename, unlink, fsync)
  cut                         the power is cut now
  on                          the power comes back (nothing is armed)
Reading it: "on" or "cut", then one line per counted operation since "arm":
KIND, a tab, the path (and for a rename, a tab and the new path).
usage: power_drive.py BACKING MOUNTPOINT"""

import errno
import os
import sys
import time

import fuse

fuse.fuse_python_api = (0, 2)

SWITCH = "/switch"
COUNTED = ("rename", "unlink", "fsync")
UTIME_NOW = (1 << 30) - 1
UTIME_OMIT = (1 << 30) - 2

backing = ""


class Power:
    """The drive's state: the unflushed content of each file (by the backing
    file's inode, so that it follows the file through renames), whether the
    power is cut, and what has been counted."""

    def __init__(self):
        self.unflushed = {}  # inode -> [content, modification time in ns]
        self.cut = False
        self.trigger = None  # (when, kind, n)
        self.log = []

    def check(self):
        if self.cut:
            raise OSError(errno.EIO, "the power is cut")

    # Runs `operation` as the next one of `kind`, cutting the power before or
    # after it when armed so.
    def counted(self, kind, operation, *paths):
        self.check()
        self.log.append("\t".join((kind,) + paths))
        n = sum(1 for line in self.log if line.startswith(kind + "\t"))
        if self.trigger == ("before", kind, n):
            self.cut_now()
            self.check()
        result = operation()
        if self.trigger == ("after", kind, n):
            self.cut_now()
        return result

    def cut_now(self):
        self.unflushed.clear()
        self.cut = True

    def content(self, fd):
        """The file's unflushed state, made from BACKING on its first change."""
        st = os.fstat(fd)
        if st.st_ino not in self.unflushed:
            self.unflushed[st.st_ino] = [bytearray(os.pread(fd, st.st_size, 0)), st.st_mtime_ns]
        return self.unflushed[st.st_ino]

    def resize(self, fd, length):
        state = self.content(fd)
        del state[0][length:]
        state[0].extend(bytes(length - len(state[0])))
        state[1] = time.time_ns()

    # BACKING is the disk that keeps its content through the cut: what
    # reaches it is durable, so no fsync of BACKING is needed.
    def persist(self, fd):
        state = self.unflushed.pop(os.fstat(fd).st_ino, None)
        if state is not None:
            data, modified = state
            os.ftruncate(fd, len(data))
            os.pwrite(fd, bytes(data), 0)
            os.utime(fd, ns=(time.time_ns(), modified))

    def forget(self, path):
        """A name goes: so does the unflushed state of its file's last link,
        before the backing file system gives the inode to another file."""
        try:
            st = os.lstat(path)
        except FileNotFoundError:
            return
        if st.st_nlink <= 1:
            self.unflushed.pop(st.st_ino, None)

    def seen(self, st):
        """What the file looks like with its unflushed writes."""
        result = fuse.Stat()
        for name in ("st_mode", "st_ino", "st_dev", "st_nlink", "st_uid", "st_gid", "st_size", "st_atime",
                     "st_mtime", "st_ctime"):
            setattr(result, name, getattr(st, name))
        state = self.unflushed.get(st.st_ino)
        if state is not None:
            result.st_size = len(state[0])
            result.st_mtime = state[1] / 1e9
        return result

    def command(self, text):
        for words in (line.split() for line in text.splitlines()):
            if words == ["sync"]:
                self.check()
                for folder, _, names in os.walk(backing):
                    for path in (os.path.join(folder, name) for name in names):
                        if os.lstat(path).st_ino in self.unflushed:
                            fd = os.open(path, os.O_RDWR)
                            try:
                                self.persist(fd)
                            finally:
                                os.close(fd)
            elif words == ["arm"]:
                self.log = []
                self.trigger = None
            elif len(words) == 4 and words[0] == "arm" and words[1] in ("before", "after") and words[2] in COUNTED:
                self.log = []
                self.trigger = (words[1], words[2], int(words[3]))
            elif words == ["cut"]:
                self.cut_now()
            elif words == ["on"]:
                self.cut = False
                self.trigger = None
            elif words:
                raise OSError(errno.EINVAL, "unknown command")

    def status(self):
        return ("cut" if self.cut else "on") + "\n" + "".join(line + "\n" for line in self.log)


power = Power()


def real(path):
    return backing + path


def guarded(method):
    """The method fails with EIO while the power is cut (but for the switch)."""

    def run(self, *args):
        if args[:1] != (SWITCH,):
            power.check()
        return method(self, *args)

    return run


class Switch:
    """An open handle of /switch: reads the state, writes commands."""

    def read(self, length, offset):
        return power.status().encode()[offset:offset + length]

    def write(self, data, offset):
        power.command(data.decode())
        return len(data)

    def fgetattr(self):
        return switch_stat()

    def ftruncate(self, length):
        pass

    def flush(self):
        pass

    def release(self, flags):
        pass


def switch_stat():
    st = fuse.Stat()
    st.st_mode = 0o100666
    st.st_nlink = 1
    st.st_size = len(power.status())
    return st


class PowerFile:
    """An open file. FUSE calls the class for every open; /switch gets its own
    handle, every other file one on its backing file."""

    def __new__(cls, path, flags, *mode):
        if path == SWITCH:
            switch = Switch()
            switch.direct_io = True  # every read reaches the drive: the state changes
            return switch
        return super().__new__(cls)

    def __init__(self, path, flags, *mode):
        power.check()
        # Reads serve unflushed writes, so the backing file is always open to
        # read; truncating on open is a write like any other.
        truncate = flags & os.O_TRUNC
        flags = (flags & ~(os.O_TRUNC | os.O_ACCMODE | os.O_APPEND)) | os.O_RDWR
        self.fd = os.open(real(path), flags, *mode)
        if truncate:
            self.ftruncate(0)

    @guarded
    def read(self, length, offset):
        state = power.unflushed.get(os.fstat(self.fd).st_ino)
        if state is None:
            return os.pread(self.fd, length, offset)
        return bytes(state[0][offset:offset + length])

    @guarded
    def write(self, data, offset):
        state = power.content(self.fd)
        if offset > len(state[0]):
            state[0].extend(bytes(offset - len(state[0])))
        state[0][offset:offset + len(data)] = data
        state[1] = time.time_ns()
        return len(data)

    @guarded
    def ftruncate(self, length):
        power.resize(self.fd, length)

    @guarded
    def fgetattr(self):
        return power.seen(os.fstat(self.fd))

    @guarded
    def flush(self):
        pass  # a close flushes nothing

    def fsync(self, datasync):
        power.counted("fsync", lambda: power.persist(self.fd), os.readlink("/proc/self/fd/%d" % self.fd)[len(backing):])

    def release(self, flags):
        os.close(self.fd)


class PowerDrive(fuse.Fuse):
    def getattr(self, path):
        if path == SWITCH:
            return switch_stat()
        power.check()
        return power.seen(os.lstat(real(path)))

    @guarded
    def readdir(self, path, offset):
        for name in [".", ".."] + os.listdir(real(path)):
            yield fuse.Direntry(name)

    @guarded
    def access(self, path, mode):
        if path != SWITCH and not os.access(real(path), mode):
            return -errno.EACCES

    @guarded
    def mkdir(self, path, mode):
        os.mkdir(real(path), mode)

    @guarded
    def rmdir(self, path):
        os.rmdir(real(path))

    def unlink(self, path):
        def unlink():
            power.forget(real(path))
            os.unlink(real(path))

        power.counted("unlink", unlink, path)

    def rename(self, old, new):
        def rename():
            if os.path.lexists(real(new)) and not os.path.samefile(real(old), real(new)):
                power.forget(real(new))
            os.rename(real(old), real(new))

        power.counted("rename", rename, old, new)

    @guarded
    def truncate(self, path, length):
        if path != SWITCH:
            fd = os.open(real(path), os.O_RDWR)
            try:
                power.resize(fd, length)
            finally:
                os.close(fd)

    @guarded
    def chmod(self, path, mode):
        if path != SWITCH:
            os.chmod(real(path), mode)

    @guarded
    def chown(self, path, user, group):
        if path != SWITCH:
            os.chown(real(path), user, group)

    # Times are kept at once, as metadata is; a later flush of the file's
    # content keeps the time it was given.
    @guarded
    def utimens(self, path, accessed, modified):
        if path == SWITCH:
            return
        st = os.lstat(real(path))
        state = power.unflushed.get(st.st_ino)

        def ns(stamp, current):
            if stamp.tv_nsec == UTIME_OMIT:
                return current
            if stamp.tv_nsec == UTIME_NOW:
                return time.time_ns()
            return stamp.tv_sec * 10**9 + stamp.tv_nsec

        times = (ns(accessed, st.st_atime_ns), ns(modified, state[1] if state else st.st_mtime_ns))
        os.utime(real(path), ns=times)
        if state is not None:
            state[1] = times[1]

    def statfs(self):
        return os.statvfs(backing)


def main():
    global backing
    backing, mountpoint = os.path.abspath(sys.argv[1]), sys.argv[2]
    drive = PowerDrive(version="%prog " + fuse.__version__, usage=__doc__)
    drive.file_class = PowerFile
    drive.multithreaded = False  # operations are counted, and cut, in one order
    drive.fuse_args.mountpoint = mountpoint
    drive.fuse_args.add("big_writes")
    drive.fuse_args.add("attr_timeout=0")  # sizes and times always come from the drive
    drive.fuse_args.add("hard_remove")  # a deleted open file goes at once, not renamed aside
    drive.main()


if __name__ == "__main__":
    main()
