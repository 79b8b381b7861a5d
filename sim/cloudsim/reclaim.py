"""What a simulator ended without its stop leaves behind, removed at the next start.

A simulator keeps its volumes' backing files in a data folder ("tavrosim-XXXXXX": in
/dev/shm for the end-to-end tests, in the temporary folder by default) and holds an
exclusive flock on the folder's lock file for its whole life. One ended by SIGKILL (the
OOM killer, a timeout) cannot detach its loop devices or remove its folder, and the files
then hold memory until the machine restarts. The kernel lets a dead process's flock go,
so at its start a simulator takes the lock of every folder of that naming it finds: one
it gets belonged to a simulator that is gone, and is removed after the loop devices over
its files and the disk/by-id links to them it can see. A held lock is a live simulator's
and is left alone; so is a folder whose lock file is missing or not a regular file (a
user's folder, one being set up, one whose lock file was removed under its live
simulator, a FIFO in its place): nothing here can tell it is a dead simulator's. Loop
devices over files of a folder of that naming that the kernel marks deleted (its maker
removed it, the devices kept the files) are detached too. A folder that cannot be seen
from here (a private temporary folder, another mount namespace) says nothing about its
simulator, and its devices are left alone."""

import errno
import fcntl
import logging
import os
import re
import shutil
import stat
import subprocess
import tempfile

from .loopdev import bound_file

log = logging.getLogger("tavrosim.reclaim")

LOCK_NAME = ".tavrosim.lock"
# mkdtemp's names: six letters and digits from C, eight from Python.
FOLDER_PATTERN = re.compile(r"tavrosim-[A-Za-z0-9_]{6,8}\Z")
# How the kernel shows the backing file of a loop device once the file was unlinked.
DELETED = " (deleted)"


def default_bases():
    """Where simulators keep their data folders."""
    bases = []
    for base in ("/dev/shm", tempfile.gettempdir()):
        if os.path.isdir(base) and os.path.realpath(base) not in bases:
            bases.append(os.path.realpath(base))
    return bases


def hold(folder):
    """Takes the lock of `folder` for the life of the returned descriptor (held until it
    is closed or the process ends). The lock file is made and locked under a name of its
    own, then renamed into place, so that no reclaim ever finds it unlocked while its
    simulator lives."""
    own = os.path.join(folder, "%s.%d" % (LOCK_NAME, os.getpid()))
    fd = os.open(own, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_CLOEXEC | os.O_NOFOLLOW
                 | os.O_NONBLOCK, 0o600)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX)
        os.write(fd, b"%d\n" % os.getpid())
        os.rename(own, os.path.join(folder, LOCK_NAME))
    except OSError:
        os.close(fd)
        try:
            os.unlink(own)
        except OSError:
            pass
        raise
    return fd


def _open_regular(path):
    """A descriptor of `path` when it is a regular file, else None. Never blocks and never
    follows a link: a FIFO, a device or a link in its place is not taken."""
    try:
        if not stat.S_ISREG(os.lstat(path).st_mode):
            return None
        fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC | os.O_NOFOLLOW | os.O_NONBLOCK
                     | os.O_NOCTTY)
    except OSError:
        return None
    if not stat.S_ISREG(os.fstat(fd).st_mode):
        os.close(fd)
        return None
    return fd


def _take_if_dead(folder):
    """The descriptor of the folder's lock, taken, when the folder is a gone simulator's;
    None when it is live or not known to be a simulator's (no regular lock file)."""
    try:
        st = os.lstat(folder)
    except OSError:
        return None
    if not stat.S_ISDIR(st.st_mode) or st.st_uid != os.geteuid():
        return None
    fd = _open_regular(os.path.join(folder, LOCK_NAME))
    if fd is None:
        return None
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError as e:
        os.close(fd)
        if e.errno not in (errno.EWOULDBLOCK, errno.EAGAIN):
            log.warning("cannot lock %s: %s", folder, e)
        return None
    return fd


def loop_backings():
    """{device: backing file as the kernel shows it} of every bound loop device; a file
    unlinked since ends in DELETED."""
    found = {}
    try:
        names = os.listdir("/sys/block")
    except OSError:
        return found
    for name in names:
        device = "/dev/" + name
        path = bound_file(device) if name.startswith("loop") else None
        if path:
            found[device] = path
    return found


def _owner(path, bases):
    """The data folder (base/tavrosim-XXXXXX) `path` lies in, or None."""
    for base in bases:
        rel = os.path.relpath(path, base)
        first = rel.split(os.sep, 1)[0]
        if not rel.startswith("..") and os.sep in rel and FOLDER_PATTERN.match(first):
            return os.path.join(base, first)
    return None


def _remove_links(dev_root, doomed):
    """Removes the disk/by-id/virtio-* links for which doomed(target) holds."""
    by_id = os.path.join(dev_root, "disk", "by-id")
    try:
        names = os.listdir(by_id)
    except OSError:
        return
    for name in names:
        link = os.path.join(by_id, name)
        try:
            if name.startswith("virtio-") and os.path.islink(link) and doomed(os.readlink(link)):
                os.unlink(link)
        except OSError as e:
            log.warning("cannot remove %s: %s", link, e)


def _detach(device, backing):
    """Detaches `device` if it still serves `backing`. The device is held open from the
    check to the detach (a detach of an open device only marks it for release on the
    last close), so that it cannot be freed and taken by another simulator in between."""
    try:
        fd = os.open(device, os.O_RDONLY | os.O_CLOEXEC | os.O_NONBLOCK)
    except OSError as e:
        log.warning("cannot open %s: %s", device, e)
        return False
    try:
        if bound_file(device) != backing:
            return False
        res = subprocess.run(["losetup", "--detach", device], stdout=subprocess.DEVNULL,
                             stderr=subprocess.PIPE, timeout=60)
    except (OSError, subprocess.TimeoutExpired) as e:
        log.warning("losetup --detach %s: %s", device, e)
        return False
    finally:
        os.close(fd)
    if res.returncode != 0:
        log.warning("losetup --detach %s: %s", device, res.stderr.decode(errors="replace").strip())
    return res.returncode == 0


def reclaim(bases=None, dev_root="/dev", keep=()):
    """Removes what simulators that are gone left in `bases` (default_bases()): their data
    folders, the loop devices over their files and the links under `dev_root` to either.
    Folders in `keep` are never touched. Returns the folders removed."""
    bases = [os.path.realpath(b) for b in (default_bases() if bases is None else bases)]
    keep = {os.path.realpath(k) for k in keep if k}
    dead = {}
    try:
        for base in bases:
            try:
                names = sorted(os.listdir(base))
            except OSError:
                continue
            for name in names:
                folder = os.path.join(base, name)
                if FOLDER_PATTERN.match(name) and folder not in keep:
                    fd = _take_if_dead(folder)
                    if fd is not None:
                        dead[folder] = fd

        def doomed(backing):
            # Only what this start has seen to be a gone simulator's: a folder it cannot
            # see may be a live one's, seen from another mount namespace.
            folder = _owner(backing[:-len(DELETED)] if backing.endswith(DELETED) else backing,
                            bases)
            return folder is not None and folder not in keep and (
                folder in dead or backing.endswith(DELETED))

        devices = {d: path for d, path in loop_backings().items() if doomed(path)}
        # The links first: a device freed here may at once be taken by a live simulator.
        _remove_links(dev_root, lambda target: target in devices or _owner(target, bases) in dead)
        detached = [d for d, path in sorted(devices.items()) if _detach(d, path)]
        for folder in dead:
            shutil.rmtree(folder, ignore_errors=True)
            log.warning("removed %s, left by a simulator that is gone", folder)
        if detached:
            log.warning("detached %s, left by a simulator that is gone", ", ".join(detached))
    finally:
        for fd in dead.values():
            os.close(fd)
    return sorted(dead)
