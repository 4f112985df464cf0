"""Python binding of quirefold: turn a PDF into a print-ready saddle-stitch booklet.

    import quirefold
    quirefold.page_count("report.pdf")                          # 10
    r = quirefold.make_booklet("report.pdf", "booklet.pdf", sheet="a4", signature=4,
                               margin="5mm", fold_marks=True)
    r.sheets, r.sheet, r.warnings                               # 3, 'A4', []
    quirefold.plan("report.pdf", binding="right")               # the plan as Python data

Lengths (margin, gutter, creep) are points as numbers, or text with a unit: "5mm", "0.5cm",
"0.25in", "12pt". Bad option values raise ValueError; failures raise QuirefoldError.

The shared library libquirefold_impose is looked up, in order: the path in the environment
variable QUIREFOLD_LIBRARY; where it was installed beside this package; next to this package (or
one directory up); the system's library path.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import dataclasses
import json
import os
from typing import Any, List, Optional, Union

__all__ = [
    "__version__",
    "QuirefoldError",
    "BookletResult",
    "page_count",
    "make_booklet",
    "booklet_bytes",
    "plan",
    "SHEETS",
    "library_path",
]

__version__ = "0.2.0"

SHEETS = ("auto", "a3", "a4", "a5", "b4", "b5", "letter", "legal", "tabloid")

PathType = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Length = Union[int, float, str]


class QuirefoldError(Exception):
    """A failure reported by the library; str() is the library's message."""


@dataclasses.dataclass
class BookletResult:
    """What one booklet call reports."""

    sheet: str  # "A4", "Letter", ... or "custom"
    sheet_width: float  # points, landscape
    sheet_height: float
    input_pages: int  # pages of the input document
    pages: int  # pages placed, after the selection
    sheets: int
    sides: int
    blanks: int  # blank slots
    signatures: int
    warnings: List[str]
    data: Optional[bytes] = None  # the booklet, from booklet_bytes()


class _Options(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("sheet", ctypes.c_char_p),
        ("signature", ctypes.c_int),
        ("binding", ctypes.c_int),
        ("flip", ctypes.c_int),
        ("cover", ctypes.c_int),
        ("pages", ctypes.c_char_p),
        ("margin", ctypes.c_double),
        ("gutter", ctypes.c_double),
        ("creep", ctypes.c_double),
        ("scale", ctypes.c_int),
        ("fold_marks", ctypes.c_int),
        ("compress", ctypes.c_int),
        ("annotations", ctypes.c_int),
    ]


class _Input(ctypes.Structure):
    _fields_ = [("path", ctypes.c_char_p), ("data", ctypes.c_void_p), ("size", ctypes.c_size_t),
                ("name", ctypes.c_char_p)]


class _Result(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_size_t),
        ("status", ctypes.c_int),
        ("message", ctypes.c_char_p),
        ("option", ctypes.c_char_p),
        ("sheet_name", ctypes.c_char_p),
        ("sheet_width", ctypes.c_double),
        ("sheet_height", ctypes.c_double),
        ("input_pages", ctypes.c_int),
        ("pages", ctypes.c_int),
        ("sheets", ctypes.c_int),
        ("sides", ctypes.c_int),
        ("blanks", ctypes.c_int),
        ("signatures", ctypes.c_int),
        ("warning_count", ctypes.c_int),
        ("warnings", ctypes.POINTER(ctypes.c_char_p)),
        ("plan", ctypes.c_void_p),
        ("plan_json", ctypes.c_char_p),
        ("output", ctypes.c_void_p),
        ("output_size", ctypes.c_size_t),
        ("internal", ctypes.c_void_p),
    ]


_OK, _BAD_OPTION = 0, 1
_BINDINGS = {"left": 0, "right": 1}
_FLIPS = {"short": 0, "long": 1}
_SCALES = {"fit": 0, "shrink": 1, "none": 2}
_ANNOTATIONS = {"print": 0, "none": 1}

_lib = None
library_path: Optional[str] = None


def _candidates():
    env = os.environ.get("QUIREFOLD_LIBRARY")
    if env:
        yield env
    here = os.path.dirname(os.path.abspath(__file__))
    folders = [here, os.path.dirname(here)]
    try:  # an installed package knows where the library was installed beside it
        from ._installed import LIBRARY_DIR
        folders.insert(0, os.path.normpath(os.path.join(here, LIBRARY_DIR)))
    except ImportError:
        pass
    for d in folders:
        for name in ("libquirefold_impose.so", "libquirefold_impose.so.0",
                     "libquirefold_impose.dylib"):
            p = os.path.join(d, name)
            if os.path.exists(p):
                yield p
    found = ctypes.util.find_library("quirefold_impose")
    if found:
        yield found
    yield "libquirefold_impose.so.0"


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
        lib.quirefold_impose_options_init.argtypes = [ctypes.POINTER(_Options)]
        lib.quirefold_impose_options_init.restype = None
        lib.quirefold_impose_result_init.argtypes = [ctypes.POINTER(_Result)]
        lib.quirefold_impose_result_init.restype = None
        lib.quirefold_impose_result_free.argtypes = [ctypes.POINTER(_Result)]
        lib.quirefold_impose_result_free.restype = None
        lib.quirefold_impose.argtypes = [ctypes.POINTER(_Input), ctypes.c_char_p,
                                         ctypes.POINTER(_Options), ctypes.POINTER(_Result)]
        lib.quirefold_impose.restype = ctypes.c_int
        lib.quirefold_impose_plan.argtypes = [ctypes.POINTER(_Input), ctypes.POINTER(_Options),
                                              ctypes.POINTER(_Result)]
        lib.quirefold_impose_plan.restype = ctypes.c_int
        lib.quirefold_impose_parse_length.argtypes = [ctypes.c_char_p,
                                                      ctypes.POINTER(ctypes.c_double)]
        lib.quirefold_impose_parse_length.restype = ctypes.c_int
        lib.quirefold_impose_version.argtypes = []
        lib.quirefold_impose_version.restype = ctypes.c_char_p
        _lib, library_path = lib, cand
        return lib
    raise QuirefoldError("cannot load the quirefold library (" + "; ".join(errors) + ")")


def _path_bytes(path: PathType) -> bytes:
    if isinstance(path, bytes):
        return path
    if isinstance(path, str) or hasattr(path, "__fspath__"):
        return os.fsencode(path)
    raise TypeError(f"expected str, bytes or os.PathLike, not {type(path).__name__}")


def _choice(name: str, value: str, table: dict) -> int:
    if not isinstance(value, str) or value not in table:
        raise ValueError(f"{name} must be one of {', '.join(table)}, not {value!r}")
    return table[value]


def _length(lib, name: str, value: Length) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float, str)):
        raise ValueError(f"{name} must be a length in points or text such as '5mm', "
                         f"not {value!r}")
    if isinstance(value, str):
        points = ctypes.c_double()
        if not lib.quirefold_impose_parse_length(value.encode(), ctypes.byref(points)):
            raise ValueError(f"{name} must be a length such as 12, '12pt', '5mm' or '0.5in', "
                             f"not {value!r}")
        return points.value
    if not value >= 0:
        raise ValueError(f"{name} must not be negative, not {value!r}")
    return float(value)


def _options(lib, sheet="auto", signature=0, binding="left", flip="short", cover=False,
             pages=None, margin=0, gutter=0, creep=0, scale="fit", fold_marks=False,
             compress=True, annotations="print"):
    o = _Options()
    lib.quirefold_impose_options_init(ctypes.byref(o))
    if not isinstance(sheet, str):
        raise ValueError(f"sheet must be a name such as 'a4' or a size such as '300x200mm', "
                         f"not {sheet!r}")
    o.sheet = sheet.encode()
    if isinstance(signature, bool) or not isinstance(signature, int) or signature < 0:
        raise ValueError(f"signature must be 0 or a number of sheets, not {signature!r}")
    o.signature = signature
    o.binding = _choice("binding", binding, _BINDINGS)
    o.flip = _choice("flip", flip, _FLIPS)
    o.cover = 1 if cover else 0
    if pages is not None:
        if not isinstance(pages, str):
            raise ValueError(f"pages must be text such as '1-5,8,11-z', not {pages!r}")
        o.pages = pages.encode()
    o.margin = _length(lib, "margin", margin)
    o.gutter = _length(lib, "gutter", gutter)
    o.creep = _length(lib, "creep", creep)
    o.scale = _choice("scale", scale, _SCALES)
    o.fold_marks = 1 if fold_marks else 0
    o.compress = 1 if compress else 0
    o.annotations = _choice("annotations", annotations, _ANNOTATIONS)
    return o


def _call(src: Optional[PathType], data: Optional[bytes], dst: Optional[PathType],
          make: bool, options: dict):
    lib = _load()
    opts = _options(lib, **options)
    inp = _Input()
    keep = None
    if src is not None:
        inp.path = _path_bytes(src)
    else:
        keep = ctypes.create_string_buffer(bytes(data), len(data))
        inp.data = ctypes.cast(keep, ctypes.c_void_p)
        inp.size = len(data)
    out = _path_bytes(dst) if dst is not None else None
    res = _Result()
    lib.quirefold_impose_result_init(ctypes.byref(res))
    try:
        if make:
            status = lib.quirefold_impose(ctypes.byref(inp), out, ctypes.byref(opts),
                                          ctypes.byref(res))
        else:
            status = lib.quirefold_impose_plan(ctypes.byref(inp), ctypes.byref(opts),
                                               ctypes.byref(res))
        message = (res.message or b"").decode("utf-8", "replace")
        if status == _BAD_OPTION:
            raise ValueError(message)
        if status != _OK:
            raise QuirefoldError(message)
        result = BookletResult(
            sheet=res.sheet_name.decode(),
            sheet_width=res.sheet_width,
            sheet_height=res.sheet_height,
            input_pages=res.input_pages,
            pages=res.pages,
            sheets=res.sheets,
            sides=res.sides,
            blanks=res.blanks,
            signatures=res.signatures,
            warnings=[res.warnings[i].decode("utf-8", "replace")
                      for i in range(res.warning_count)],
        )
        if make and out is None:
            result.data = ctypes.string_at(res.output, res.output_size)
        plan_data = json.loads(res.plan_json.decode()) if not make else None
        return result, plan_data
    finally:
        lib.quirefold_impose_result_free(ctypes.byref(res))
        del keep


def page_count(path: PathType) -> int:
    """Number of pages of the PDF at path; raises QuirefoldError."""
    result, _ = _call(path, None, None, False, {})
    return result.input_pages


def make_booklet(src: PathType, dst: PathType, *, sheet: str = "auto", signature: int = 0,
                 binding: str = "left", flip: str = "short", cover: bool = False,
                 pages: Optional[str] = None, margin: Length = 0, gutter: Length = 0,
                 creep: Length = 0, scale: str = "fit", fold_marks: bool = False,
                 compress: bool = True, annotations: str = "print") -> BookletResult:
    """Writes the booklet of the PDF at src to dst.

    sheet: "auto" (the standard size nearest to the first page), a name from SHEETS, or a
    custom "WxH[unit]" such as "300x200mm"; signature: sheets per signature (0: one);
    binding: "left" or "right"; flip: "short" or "long"; cover: keep the last page as the
    back cover; pages: ranges such as "1-5,8,11-z"; margin, gutter, creep: lengths;
    scale: "fit", "shrink" or "none"; fold_marks: marks at the ends of the fold;
    compress: page content as stored and uncompressed streams compressed (False: content
    written decoded, as the classic library does); annotations: "print" (draw what a printer
    prints: filled form fields, stamps, comments) or "none".
    """
    options = dict(sheet=sheet, signature=signature, binding=binding, flip=flip, cover=cover,
                   pages=pages, margin=margin, gutter=gutter, creep=creep, scale=scale,
                   fold_marks=fold_marks, compress=compress, annotations=annotations)
    result, _ = _call(src, None, dst, True, options)
    return result


def booklet_bytes(data: bytes, **options: Any) -> BookletResult:
    """The booklet of a PDF given as bytes, in the result's `data`; options as make_booklet."""
    if not isinstance(data, (bytes, bytearray, memoryview)):
        raise TypeError(f"expected bytes, not {type(data).__name__}")
    result, _ = _call(None, bytes(data), None, True, options)
    return result


def plan(src: PathType, **options: Any) -> dict:
    """The plan of the booklet of src, written nowhere: a dict with "sheet" (name, width,
    height), the counts, and "sheets", each with "front" and "back" sides whose "left" and
    "right" are 1-based input pages or None for a blank, and their placement."""
    _, plan_data = _call(src, None, None, False, options)
    return plan_data

