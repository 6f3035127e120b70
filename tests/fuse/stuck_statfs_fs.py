"""A FUSE filesystem whose statfs never answers, like a hung FUSE daemon.

Usage: stuck_statfs_fs.py MOUNTPOINT   (runs in the foreground until killed)
"""
import errno
import stat
import sys
import threading

import fusepy


class StuckStatfs(fusepy.Operations):
    def getattr(self, path, fh=None):
        if path != "/":
            raise fusepy.FuseOSError(errno.ENOENT)
        return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2}

    def readdir(self, path, fh):
        return [".", ".."]

    def statfs(self, path):
        threading.Event().wait()  # never returns


if __name__ == "__main__":
    fusepy.FUSE(StuckStatfs(), sys.argv[1], foreground=True, nothreads=False, subtype="stuck")
