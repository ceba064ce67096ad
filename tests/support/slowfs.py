#!/usr/bin/python3
"""A slow file share for tests: a FUSE passthrough of a backing folder.

    slowfs.py BACKING MOUNTPOINT [--delay-ms N] [--hang-while FILE] [--stats-file FILE]

Every file-system operation through the mount waits --delay-ms first, as a
round trip to a file server does.  While the file named by --hang-while
exists, any operation on a path whose first component is the folder named
in that file's first line blocks until the file is gone (a server that went
away behind a hard mount).  Changes made in BACKING directly are what other
machines do to a share: the kernel gets no notice of them.  With
--stats-file, the number of operations served so far is written to that file
(replaced whole) after each one.

Prints "mounted" on its standard output once the mount answers, and runs in
the foreground until unmounted (fusermount -u -z MOUNTPOINT) or killed.
"""

import argparse
import errno
import os
import sys
import threading
import time

import fusepy as fuse


class SlowFs(fuse.Operations):
    def __init__(self, backing, delay, hang_file, stats_file):
        self.backing = os.path.realpath(backing)
        self.delay = delay
        self.hang_file = hang_file
        self.stats_file = stats_file
        self.ops = 0
        self.lock = threading.Lock()

    # Every operation goes through here.
    def __call__(self, op, path, *args):
        with self.lock:
            self.ops += 1
            if self.stats_file:
                self._write_stats()
        if self.delay > 0:
            time.sleep(self.delay)
        self._hang_if_asked(path)
        return super().__call__(op, path, *args)

    def _write_stats(self):
        temp = self.stats_file + ".new"
        with open(temp, "w") as f:
            f.write("%d\n" % self.ops)
        os.replace(temp, self.stats_file)

    def _hang_if_asked(self, path):
        if not self.hang_file or not isinstance(path, str):
            return
        while True:
            try:
                with open(self.hang_file) as f:
                    folder = f.readline().strip()
            except OSError:
                return
            parts = [p for p in path.split("/") if p]
            if not folder or not parts or parts[0] != folder:
                return
            time.sleep(0.05)

    def _real(self, path):
        return os.path.join(self.backing, path.lstrip("/"))

    def init(self, path):
        print("mounted", flush=True)

    def access(self, path, mode):
        if not os.access(self._real(path), mode):
            raise fuse.FuseOSError(errno.EACCES)

    def getattr(self, path, fh=None):
        st = os.lstat(self._real(path))
        return {key: getattr(st, key) for key in (
            "st_atime", "st_ctime", "st_gid", "st_mode", "st_mtime", "st_nlink", "st_size", "st_uid")}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._real(path))

    def readlink(self, path):
        return os.readlink(self._real(path))

    def statfs(self, path):
        st = os.statvfs(self._real(path))
        return {key: getattr(st, key) for key in (
            "f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail", "f_ffree", "f_files", "f_flag",
            "f_frsize", "f_namemax")}

    def open(self, path, flags):
        return os.open(self._real(path), flags)

    def create(self, path, mode, fi=None):
        return os.open(self._real(path), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        with open(self._real(path), "r+b") as f:
            f.truncate(length)

    def flush(self, path, fh):
        return 0

    def release(self, path, fh):
        os.close(fh)

    def fsync(self, path, datasync, fh):
        os.fsync(fh)

    def unlink(self, path):
        os.unlink(self._real(path))

    def rename(self, old, new):
        os.rename(self._real(old), self._real(new))

    def mkdir(self, path, mode):
        os.mkdir(self._real(path), mode)

    def rmdir(self, path):
        os.rmdir(self._real(path))

    def chmod(self, path, mode):
        os.chmod(self._real(path), mode)

    def utimens(self, path, times=None):
        os.utime(self._real(path), times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("backing")
    parser.add_argument("mountpoint")
    parser.add_argument("--delay-ms", type=float, default=0)
    parser.add_argument("--hang-while", default="")
    parser.add_argument("--stats-file", default="")
    args = parser.parse_args()
    fs = SlowFs(args.backing, args.delay_ms / 1000.0, args.hang_while, args.stats_file)
    # No kernel caching of names or attributes: each look goes to the "server".
    fuse.FUSE(fs, args.mountpoint, foreground=True, nothreads=False, fsname="slowfs", subtype="slowfs",
              attr_timeout=0, entry_timeout=0, negative_timeout=0)


if __name__ == "__main__":
    try:
        main()
    except RuntimeError as e:
        print("cannot mount: %s" % e, file=sys.stderr, flush=True)
        sys.exit(2)
