"""Backing files of volumes and snapshots: sparse files of whole GiB, the deterministic
known data that seeded volumes hold, sparse copies for snapshots, and a content digest
that does not depend on how (or how sparsely) the bytes were written."""

import errno
import hashlib
import os
import shutil
import subprocess

GIB = 1 << 30
CHUNK = 64 << 10
PATTERN_CHUNKS = 8


def create_sparse(path, size):
    with open(path, "wb") as f:
        f.truncate(size)


def grow(path, size):
    if os.path.getsize(path) < size:
        with open(path, "r+b") as f:
            f.truncate(size)


def pattern_chunks(seed, size, count=PATTERN_CHUNKS):
    """The known data of a seeded volume: `count` 64 KiB chunks at offsets derived from
    the seed (the first chunk at offset 0, the last in the last chunk of the file),
    each filled from SHAKE-256 of the seed and its offset. Sorted by offset."""
    slots = size // CHUNK
    offsets = {0, (slots - 1) * CHUNK}
    n = 0
    while len(offsets) < min(count, slots):
        h = hashlib.sha256(("%s/%d" % (seed, n)).encode()).digest()
        offsets.add((int.from_bytes(h[:8], "big") % slots) * CHUNK)
        n += 1
    return [(off, hashlib.shake_256(("%s@%d" % (seed, off)).encode()).digest(CHUNK))
            for off in sorted(offsets)]


def write_chunks(path, chunks):
    with open(path, "r+b") as f:
        for off, data in chunks:
            f.seek(off)
            f.write(data)


def copy_sparse(src, dst):
    """Copies src to dst keeping holes (and sharing extents where the file system can),
    so later writes to one never show in the other."""
    try:
        res = subprocess.run(["cp", "--reflink=auto", "--sparse=always", src, dst],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if res.returncode == 0:
            return
    except OSError:
        pass
    _python_sparse_copy(src, dst)


def _python_sparse_copy(src, dst):
    size = os.path.getsize(src)
    with open(src, "rb") as fin, open(dst, "wb") as fout:
        fout.truncate(size)
        for off, length in data_extents(fin.fileno(), size):
            fin.seek(off)
            fout.seek(off)
            left = length
            while left:
                block = fin.read(min(left, 1 << 20))
                if not block:
                    break
                if block.count(0) != len(block):
                    fout.write(block)
                else:
                    fout.seek(len(block), os.SEEK_CUR)
                left -= len(block)


def data_extents(fd, size):
    """(offset, length) of the regions that may hold data; the whole file where the
    file system cannot tell holes apart."""
    extents = []
    off = 0
    try:
        while off < size:
            start = os.lseek(fd, off, os.SEEK_DATA)
            end = os.lseek(fd, start, os.SEEK_HOLE)
            extents.append((start, end - start))
            off = end
    except OSError as e:
        if e.errno == errno.ENXIO:
            return extents
        return [(0, size)]
    return extents


def _digest_start(size):
    h = hashlib.sha256()
    h.update(b"tavrosim-content-v1 size=%d\n" % size)
    return h


def _feed(h, off, block):
    if block.count(0) != len(block):
        h.update(off.to_bytes(8, "big"))
        h.update(block)


def content_digest(path):
    """SHA-256 over (offset, bytes) of every 64 KiB-aligned block that is not all
    zero, and the file size: two files with equal bytes have equal digests however
    sparse they are."""
    size = os.path.getsize(path)
    h = _digest_start(size)
    pos = 0
    with open(path, "rb") as f:
        for off, length in data_extents(f.fileno(), size):
            pos = max(pos, off - off % CHUNK)
            f.seek(pos)
            while pos < off + length:
                block = f.read(CHUNK)
                if not block:
                    break
                _feed(h, pos, block)
                pos += len(block)
    return h.hexdigest()


def chunks_digest(size, chunks):
    """content_digest of a sparse file of `size` bytes holding only `chunks`
    (64 KiB-aligned), computed without any file."""
    h = _digest_start(size)
    for off, data in sorted(chunks):
        _feed(h, off, data)
    return h.hexdigest()


def flush_device(device):
    """Pushes a block device's cached writes down to its backing file."""
    try:
        fd = os.open(device, os.O_RDONLY)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass
    finally:
        os.close(fd)


def remove(path):
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


def remove_tree(path):
    shutil.rmtree(path, ignore_errors=True)
