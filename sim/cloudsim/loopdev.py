"""Local block devices for attachments to the agent instance.

Attaching a volume or temporary snapshot to the agent makes its backing file a loop
device (read-only for snapshots) and links <dev_root>/disk/by-id/virtio-<id> to it, the
way the agent's kernel shows a virtio disk whose serial is the cloud identifier.
Detaching removes both. In "link" mode (no root, or no loop devices) the link points
at the backing file itself, so tests without privileges still see the link."""

import logging
import os
import subprocess
import threading
import time
from dataclasses import dataclass

from .backing import flush_device

log = logging.getLogger("tavrosim.loop")

# How long a detach waits for other openers of the device to let it go.
RELEASE_WAIT = 30.0


@dataclass
class LoopRecord:
    res_id: str
    backing: str
    device: str
    link: str
    read_only: bool


class LoopError(Exception):
    pass


def loop_devices_usable():
    """True when this process may set up loop devices (root and a free loop device)."""
    if os.geteuid() != 0:
        return False
    try:
        res = subprocess.run(["losetup", "--find"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return res.returncode == 0 and res.stdout.strip().startswith(b"/dev/")


class LoopManager:
    """Owns every loop device and link the simulator made; detach_all undoes them."""

    def __init__(self, dev_root="/dev", mode="auto"):
        self.dev_root = dev_root
        if mode == "auto":
            mode = "losetup" if loop_devices_usable() else "link"
        if mode not in ("losetup", "link"):
            raise ValueError("loop mode must be auto, losetup or link")
        self.mode = mode
        self._records = {}
        self._lock = threading.Lock()

    @property
    def by_id_dir(self):
        return os.path.join(self.dev_root, "disk", "by-id")

    def link_path(self, res_id):
        return os.path.join(self.by_id_dir, "virtio-" + res_id)

    def attach(self, res_id, backing, read_only):
        """Makes the device and its link; raises LoopError on failure."""
        with self._lock:
            if res_id in self._records:
                raise LoopError("%s is already attached locally" % res_id)
            device = self._setup(backing, read_only)
            link = self.link_path(res_id)
            try:
                os.makedirs(self.by_id_dir, exist_ok=True)
                if os.path.lexists(link):
                    os.unlink(link)
                os.symlink(device, link)
            except OSError as e:
                self._teardown(device, backing)
                raise LoopError("cannot link %s: %s" % (link, e)) from e
            rec = LoopRecord(res_id, backing, device, link, read_only)
            self._records[res_id] = rec
            log.info("attached %s as %s", res_id, device)
            return rec

    def detach(self, res_id, wait=False):
        """Removes the link and the device of res_id; False when there was none. With
        wait, returns only once the kernel has let the device go (see wait_released)."""
        with self._lock:
            rec = self._records.pop(res_id, None)
            if rec is None:
                return False
            try:
                os.unlink(rec.link)
            except FileNotFoundError:
                pass
            self._teardown(rec.device, rec.backing, wait)
            log.info("detached %s from %s", res_id, rec.device)
            return True

    def flush(self, res_id):
        rec = self._records.get(res_id)
        if rec is not None and self.mode == "losetup":
            flush_device(rec.device)

    def records(self):
        with self._lock:
            return list(self._records.values())

    def detach_all(self):
        """Undoes every device, waiting for each to be gone: what runs after a shutdown
        or a reseed may count on it."""
        for rec in self.records():
            self.detach(rec.res_id, wait=True)

    def _setup(self, backing, read_only):
        if self.mode == "link":
            return backing
        cmd = ["losetup", "--find", "--show"]
        if read_only:
            cmd.append("--read-only")
        cmd.append(backing)
        try:
            res = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 timeout=60)
        except (OSError, subprocess.TimeoutExpired) as e:
            raise LoopError("losetup failed: %s" % e) from e
        if res.returncode != 0:
            raise LoopError("losetup failed: %s" % res.stderr.decode(errors="replace")
                            .strip())
        return res.stdout.decode().strip()

    def _teardown(self, device, backing, wait=False):
        if self.mode == "link":
            return
        flush_device(device)
        try:
            res = subprocess.run(["losetup", "--detach", device], stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, timeout=60)
            if res.returncode != 0:
                log.error("losetup --detach %s: %s", device,
                          res.stderr.decode(errors="replace").strip())
                return
        except (OSError, subprocess.TimeoutExpired) as e:
            log.error("losetup --detach %s: %s", device, e)
            return
        if wait:
            wait_released(device, backing)


def bound_file(device):
    """The backing file the kernel shows for a loop device, or None when it is free."""
    name = os.path.basename(device)
    try:
        with open("/sys/block/%s/loop/backing_file" % name) as f:
            return f.read().rstrip("\n")
    except OSError:
        return None


def wait_released(device, backing, limit=RELEASE_WAIT):
    """Waits until the loop device no longer serves `backing`. A detach while another
    process has the device open (a listing or a probe of the machine's block devices)
    only marks it for release on that process's close, so without this wait the device
    would outlive its detach and the simulator's stop."""
    deadline = time.monotonic() + limit
    pause = 0.005
    ours = os.path.realpath(backing)
    while True:
        if bound_file(device) not in (ours, ours + " (deleted)"):
            return True
        if time.monotonic() >= deadline:
            log.warning("%s still serves %s after %.0f s: another process holds it",
                        device, backing, limit)
            return False
        time.sleep(pause)
        pause = min(pause * 2, 0.1)
