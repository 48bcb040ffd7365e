#!/usr/bin/env python3
"""Prints the name of the pointer shape now shown on the display named by
$DISPLAY ("hand2", "left_ptr"...), as the XFixes extension reports it; an
empty line for a shape without a name.

usage: pointer_name.py
"""
import ctypes


class CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
                ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.c_void_p),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def main():
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    xfixes = ctypes.cdll.LoadLibrary("libXfixes.so.3")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        raise SystemExit("no display")
    image = xfixes.XFixesGetCursorImage(display)
    name = image.contents.name if image else None
    print(name.decode() if name else "")
    x11.XCloseDisplay(display)


if __name__ == "__main__":
    main()
