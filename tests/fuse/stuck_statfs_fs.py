"""A FUSE filesystem whose statfs never answers, like a hung FUSE daemon.

Usage: stuck_statfs_fs.py MOUNTPOINT [BLOCKDEVICE]
  (runs in the foreground until killed). With BLOCKDEVICE (as root) the mount
  is of type fuseblk over that device, the way block-device FUSE filesystems
  mount; without it fuse.stuck.
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
    options = {"foreground": True, "nothreads": False}
    if len(sys.argv) > 2:
        options.update(blkdev=True, fsname=sys.argv[2])
    else:
        options.update(subtype="stuck")
    fusepy.FUSE(StuckStatfs(), sys.argv[1], **options)
