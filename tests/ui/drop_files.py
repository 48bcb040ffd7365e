#!/usr/bin/env python3
"""Drops files onto an X window the way a file manager does, through the
XDND protocol (version 5), with nothing but libX11 (ctypes): the source
offers text/uri-list, sends XdndEnter, XdndPosition at (X, Y) in root
coordinates, waits for XdndStatus, sends XdndDrop, answers the target's
selection request and waits for XdndFinished.

usage: drop_files.py WINDOW_ID X Y FILE...
Exits 0 once the target said XdndFinished, 1 when it refused or timed out.
"""
import ctypes
import os
import select
import sys
import time
import urllib.parse

X = ctypes.cdll.LoadLibrary("libX11.so.6")
Atom = Window = Time = ctypes.c_ulong


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", Window), ("message_type", Atom),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class SelectionRequest(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("owner", Window), ("requestor", Window), ("selection", Atom),
                ("target", Atom), ("property", Atom), ("time", Time)]


class Selection(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("requestor", Window), ("selection", Atom), ("target", Atom),
                ("property", Atom), ("time", Time)]


class Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("client", ClientMessage),
                ("request", SelectionRequest), ("selection", Selection),
                ("pad", ctypes.c_long * 24)]


CLIENT_MESSAGE, SELECTION_REQUEST, SELECTION_NOTIFY = 33, 30, 31
X.XOpenDisplay.restype = ctypes.c_void_p
X.XOpenDisplay.argtypes = [ctypes.c_char_p]
X.XInternAtom.restype = Atom
X.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
X.XDefaultRootWindow.restype = Window
X.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
X.XCreateSimpleWindow.restype = Window
X.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, Window] + [ctypes.c_int] * 4 + \
    [ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
X.XSetSelectionOwner.argtypes = [ctypes.c_void_p, Atom, Window, Time]
X.XSendEvent.argtypes = [ctypes.c_void_p, Window, ctypes.c_int, ctypes.c_long,
                         ctypes.c_void_p]
X.XChangeProperty.argtypes = [ctypes.c_void_p, Window, Atom, Atom, ctypes.c_int,
                              ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
X.XPending.argtypes = [ctypes.c_void_p]
X.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
X.XFlush.argtypes = [ctypes.c_void_p]
X.XConnectionNumber.argtypes = [ctypes.c_void_p]


def main():
    target, x, y = int(sys.argv[1], 0), int(sys.argv[2]), int(sys.argv[3])
    uris = "".join("file://" + urllib.parse.quote(os.fsencode(path)) + "\r\n"
                   for path in sys.argv[4:]).encode()
    display = X.XOpenDisplay(None)
    if not display:
        sys.exit("no display")
    atom = lambda name: X.XInternAtom(display, name.encode(), 0)
    uri_list = atom("text/uri-list")
    source = X.XCreateSimpleWindow(display, X.XDefaultRootWindow(display),
                                   0, 0, 1, 1, 0, 0, 0)
    X.XSetSelectionOwner(display, atom("XdndSelection"), source, 0)

    def send(name, *data):
        event = Event()
        event.client.type = CLIENT_MESSAGE
        event.client.window = target
        event.client.message_type = atom(name)
        event.client.format = 32
        event.client.data[0] = source
        for i, value in enumerate(data):
            event.client.data[i + 1] = value
        X.XSendEvent(display, target, 0, 0, ctypes.byref(event))
        X.XFlush(display)

    send("XdndEnter", 5 << 24, uri_list, 0, 0)
    send("XdndPosition", 0, (x << 16) | y, 0, atom("XdndActionCopy"))
    dropped = False
    deadline = time.time() + 10
    while time.time() < deadline:
        if not X.XPending(display):
            select.select([X.XConnectionNumber(display)], [], [], 0.1)
            continue
        event = Event()
        X.XNextEvent(display, ctypes.byref(event))
        if event.type == SELECTION_REQUEST:
            request = event.request
            X.XChangeProperty(display, request.requestor, request.property,
                              request.target, 8, 0, uris, len(uris))
            reply = Event()
            reply.selection.type = SELECTION_NOTIFY
            reply.selection.requestor = request.requestor
            reply.selection.selection = request.selection
            reply.selection.target = request.target
            reply.selection.property = request.property
            reply.selection.time = request.time
            X.XSendEvent(display, request.requestor, 0, 0, ctypes.byref(reply))
            X.XFlush(display)
            print("drop_files: selection asked as", request.target == uri_list and "text/uri-list" or request.target)
        elif event.type == CLIENT_MESSAGE:
            kind = event.client.message_type
            if kind == atom("XdndStatus") and not dropped:
                accepted = event.client.data[1] & 1
                print("drop_files: status, accepted =", accepted)
                if not accepted:
                    send("XdndLeave")
                    return 1
                send("XdndDrop", 0, 0)
                dropped = True
            elif kind == atom("XdndFinished"):
                print("drop_files: finished")
                return 0
    print("drop_files: timed out")
    return 1


if __name__ == "__main__":
    sys.exit(main())
