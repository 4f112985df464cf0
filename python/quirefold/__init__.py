"""Python binding of the quirefold library: turn a PDF into a saddle-stitch booklet.

    import quirefold
    quirefold.page_count("report.pdf")                # -> 10
    quirefold.make_booklet("report.pdf", "booklet.pdf", sheet="a4")

The shared library is looked up, in order: the path in the environment variable
QUIREFOLD_LIBRARY; libquirefold.so next to this package (or one directory up); the
system's library path.
"""

import ctypes
import ctypes.util
import os
import threading

__all__ = ["QuirefoldError", "page_count", "make_booklet", "SHEETS", "library_path"]

SHEETS = {"auto": -1, "a4": 0, "letter": 1, "a3": 2}


class QuirefoldError(Exception):
    """A failure reported by the library; str() is the library's message."""


_lock = threading.Lock()  # the library's last-error text is process-wide
_lib = None
library_path = None


def _candidates():
    env = os.environ.get("QUIREFOLD_LIBRARY")
    if env:
        yield env
    here = os.path.dirname(os.path.abspath(__file__))
    for d in (here, os.path.dirname(here)):
        for name in ("libquirefold.so", "libquirefold.so.0", "libquirefold.dylib"):
            p = os.path.join(d, name)
            if os.path.exists(p):
                yield p
    found = ctypes.util.find_library("quirefold")
    if found:
        yield found
    yield "libquirefold.so.0"


def _load():
    global _lib, library_path
    if _lib is not None:
        return _lib
    errors = []
    for cand in _candidates():
        try:
            lib = ctypes.CDLL(cand)
        except OSError as e:
            errors.append(f"{cand}: {e}")
            continue
        lib.quirefold_last_error.restype = ctypes.c_char_p
        lib.quirefold_last_error.argtypes = []
        lib.quirefold_page_count.restype = ctypes.c_int
        lib.quirefold_page_count.argtypes = [ctypes.c_char_p]
        lib.quirefold_create_sized.restype = ctypes.c_int
        lib.quirefold_create_sized.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
        _lib, library_path = lib, cand
        return lib
    raise QuirefoldError("cannot load the quirefold library (" + "; ".join(errors) + ")")


def _path_bytes(path):
    if isinstance(path, bytes):
        return path
    if isinstance(path, str) or hasattr(path, "__fspath__"):
        return os.fsencode(path)
    raise TypeError(f"expected str, bytes or os.PathLike, not {type(path).__name__}")


def _error(lib):
    msg = lib.quirefold_last_error() or b""
    return QuirefoldError(msg.decode("utf-8", "replace"))


def page_count(path):
    """Number of pages of the PDF at path; raises QuirefoldError."""
    p = _path_bytes(path)
    lib = _load()
    with _lock:
        n = lib.quirefold_page_count(p)
        if n < 0:
            raise _error(lib)
        return n


def make_booklet(src, dst, sheet="auto"):
    """Writes the booklet of src to dst. sheet: "auto", "a4", "letter" or "a3"."""
    if not isinstance(sheet, str) or sheet.lower() not in SHEETS:
        raise ValueError(f"sheet must be one of {', '.join(SHEETS)}, not {sheet!r}")
    s, d = _path_bytes(src), _path_bytes(dst)
    lib = _load()
    with _lock:
        if not lib.quirefold_create_sized(s, d, SHEETS[sheet.lower()]):
            raise _error(lib)
