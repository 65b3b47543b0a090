"""libvelmora as ctypes sees it: the library found and loaded, and velmora.h's functions,
callback types and struct declared over it.

The library is looked for in this order:

1. the file named by the environment variable VELMORA_LIBRARY, and nothing else when it
   is set (a build tree's lib/libvelmora.so.1, say);
2. a copy beside this module, as a wheel that carries the library would hold it;
3. the system's own search: libvelmora.so.1 by its SONAME through the dynamic loader
   (/etc/ld.so.cache, LD_LIBRARY_PATH) on Linux, velmora.dll on PATH on Windows.

Only major version 1 of the interface is loaded: the SONAME carries it, and the version
the library reports is checked against it too.
"""

import ctypes
import ctypes.util
import os
import sys

#: The interface's major version this package is written against.
INTERFACE_MAJOR = 1

if sys.platform == "win32":
    LIBRARY_NAME = "velmora.dll"
elif sys.platform == "darwin":
    LIBRARY_NAME = "libvelmora.%d.dylib" % INTERFACE_MAJOR
else:
    LIBRARY_NAME = "libvelmora.so.%d" % INTERFACE_MAJOR

# velmora_outcome and velmora_failure_code are C enums: int-sized on every ABI the
# library is built for.
_enum = ctypes.c_int


class Failure(ctypes.Structure):
    """struct velmora_failure."""

    _fields_ = [
        ("code", _enum),
        ("error", ctypes.c_int),
        ("path", ctypes.c_char * 4096),
        ("message", ctypes.c_char * 8192),
    ]


# The callbacks take their bytes as a plain address (an int, or None for a null pointer).
WRITE_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
READ_FN = ctypes.CFUNCTYPE(ctypes.c_longlong, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
PROGRESS_FN = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_float, ctypes.c_float)

#: A null progress callback.
NO_PROGRESS = PROGRESS_FN(0)

_FAILURE_P = ctypes.POINTER(Failure)


def _candidates():
    """The places to load the library from, in order, and whether the first is the only one
    (VELMORA_LIBRARY)."""
    named = os.environ.get("VELMORA_LIBRARY")
    if named:
        return [named], True
    places = []
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), LIBRARY_NAME)
    if os.path.isfile(beside):
        places.append(beside)
    if sys.platform == "win32":
        # A bare name is not looked for on PATH since Python 3.8: find it there, and load it
        # by its full path, which also finds the DLLs it needs beside it.
        found = ctypes.util.find_library("velmora")
        if found:
            places.append(found)
    else:
        places.append(LIBRARY_NAME)
    return places, False


def _declare(library):
    """Gives each of velmora.h's functions its argument and result types."""
    c = ctypes
    library.velmora_version.argtypes = []
    library.velmora_version.restype = c.c_char_p
    library.velmora_convert_file_progress.argtypes = [
        c.c_char_p, c.c_char_p, PROGRESS_FN, c.c_void_p, _FAILURE_P]
    library.velmora_convert_file_progress.restype = _enum
    library.velmora_convert_memory.argtypes = [
        c.c_void_p, c.c_size_t, WRITE_FN, PROGRESS_FN, c.c_void_p, _FAILURE_P]
    library.velmora_convert_memory.restype = _enum
    library.velmora_convert_stream.argtypes = [
        READ_FN, WRITE_FN, PROGRESS_FN, c.c_void_p, _FAILURE_P]
    library.velmora_convert_stream.restype = _enum
    library.velmora_default_output.argtypes = [c.c_char_p, c.c_char_p, c.c_size_t]
    library.velmora_default_output.restype = c.c_size_t
    return library


def load():
    """Loads and declares the library, or raises ImportError saying where it was looked
    for and why each place failed."""
    places, only = _candidates()
    reasons = []
    for place in places:
        try:
            # ctypes.CDLL lets go of the GIL for each call, so that conversions in several
            # threads run at once, as the library allows.
            library = ctypes.CDLL(place)
        except OSError as error:
            reasons.append("%s: %s" % (place, error))
            continue
        try:
            version = library.velmora_version
        except AttributeError:
            reasons.append("%s: not libvelmora (no velmora_version)" % place)
            continue
        version.restype = ctypes.c_char_p
        version.argtypes = []
        text = (version() or b"").decode("ascii", "replace")
        if text.split(".")[0] != str(INTERFACE_MAJOR):
            reasons.append("%s: version %s, where %d.x is needed"
                           % (place, text, INTERFACE_MAJOR))
            continue
        return _declare(library), place
    hint = ("VELMORA_LIBRARY names the file to load" if only else
            "install libvelmora %d.x, or set VELMORA_LIBRARY to the library's path"
            % INTERFACE_MAJOR)
    raise ImportError("cannot load the Velmora C library (%s): %s"
                      % (hint, "; ".join(reasons) or "nowhere to look"))
