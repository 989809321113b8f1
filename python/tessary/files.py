"""Writing a path safely: the file appears complete under its name, or not at all.

A regular file (or a name with nothing behind it yet) is written to a temporary file beside it,
flushed to the disk, and renamed over it only when everything succeeded; devices, pipes and the
process's own descriptors are written in place.
"""

from __future__ import annotations

import contextlib
import errno
import os
import stat
import tempfile
from collections.abc import Callable


def _process_umask() -> int:
    """The process's umask, read without changing it where the system tells it."""
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    mask = os.umask(0o022)  # no other way: set and restore
    os.umask(mask)
    return mask


def _temporary_beside(path: str) -> tuple[int, str]:
    """A new file in the target's folder, with the mode a plain open() would give the target."""
    folder, name = os.path.split(path)
    fd, temporary = tempfile.mkstemp(dir=folder or ".", prefix=f".{name}.", suffix=".part")
    try:
        try:
            mode = stat.S_IMODE(os.stat(path).st_mode)  # open() keeps an existing file's mode
        except FileNotFoundError:
            mode = 0o666 & ~_process_umask()
        os.fchmod(fd, mode)
    except BaseException:
        os.close(fd)
        os.unlink(temporary)
        raise
    return fd, temporary


def _with_name(error: OSError, name: str) -> OSError:
    """The same error (errno and subclass) naming the target rather than a temporary file."""
    renamed = OSError(error.errno, error.strerror, name)
    renamed.__traceback__ = error.__traceback__
    return renamed


def _own_descriptor_behind(path: str) -> int | None:
    """The descriptor of this process that the path leads to through /proc, as /dev/stdout
    (/proc/self/fd/1) and /dev/fd/N do, else None. What is behind it (a pipe, or a file the shell
    opened) is written through that descriptor: renaming over the file, or opening it anew, would
    lose what the process writes there before or after."""
    own_descriptors = os.path.realpath("/proc/self/fd")
    for _ in range(40):  # the kernel's limit of links followed in one path
        folder = os.path.realpath(os.path.dirname(os.path.abspath(path)))
        if folder == own_descriptors and os.path.basename(path).isdigit():
            return int(os.path.basename(path))
        if not os.path.islink(path):
            return None
        path = os.path.join(os.path.dirname(os.path.abspath(path)), os.readlink(path))
    return None


def write_to_path[Result](path: str, write: Callable[[int], Result]) -> Result:
    """Runs write(fd) for the file at path. A regular file, or a name with nothing behind it yet,
    is written to a temporary file beside it, flushed to the disk and renamed over it only when
    everything succeeded, and the folder is flushed after the rename; on any failure the temporary
    file is removed and an existing target is left untouched.
    Devices, FIFOs and other files that are not regular are written in place, and a name of one of
    the process's descriptors (/dev/stdout) through that descriptor."""
    descriptor = _own_descriptor_behind(path)
    if descriptor is not None:
        return _named_errors(write, descriptor, path)
    real = os.path.realpath(path)
    try:
        # Through the path as given: realpath cannot follow /dev/stdout to the pipe it names.
        mode = os.stat(path).st_mode
    except FileNotFoundError:
        mode = None
    except OSError as error:
        raise _with_name(error, path) from None
    if mode is not None and not stat.S_ISREG(mode):
        try:
            fd = os.open(path, os.O_WRONLY | os.O_CLOEXEC)
        except OSError as error:
            raise _with_name(error, path) from None
        try:
            return _named_errors(write, fd, path)
        finally:
            os.close(fd)
    try:
        fd, temporary = _temporary_beside(real)
    except OSError as error:
        raise _with_name(error, path) from None
    try:
        try:
            result = _named_errors(write, fd, path)
            # The data reaches the disk before the name does: otherwise, after a power loss, the
            # renamed file can be empty or hold a part of the data.
            _named_errors(_sync, fd, path)
        finally:
            os.close(fd)
        os.replace(temporary, real)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        raise
    _sync_folder(os.path.dirname(real), path)
    return result


def _sync(fd: int) -> None:
    os.fsync(fd)


def _sync_folder(folder: str, path: str) -> None:
    """Flushes a folder's entries (a rename into it) to the disk. Filesystems that cannot sync a
    folder say so with EINVAL; any other failure is the path's OSError."""
    try:
        fd = os.open(folder or ".", os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            os.fsync(fd)
        finally:
            os.close(fd)
    except OSError as error:
        if error.errno != errno.EINVAL:
            raise _with_name(error, path) from None


def _named_errors[Result](write: Callable[[int], Result], fd: int, path: str) -> Result:
    try:
        return write(fd)
    except OSError as error:
        # Only a system error is about the file; another one keeps its message as it is.
        if error.filename is None and error.errno is not None:
            raise _with_name(error, path) from None
        raise
