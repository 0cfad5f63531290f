"""Asks a window to close as a window manager's close box does (WM_DELETE_WINDOW).

Usage: wm_close.py [--via-wm] WINDOW-ID      (on $DISPLAY)
Without a window manager the request goes to the window itself. --via-wm asks the running
window manager instead (_NET_CLOSE_WINDOW, as a task bar does), which decides what the
window gets.
"""
import ctypes
import sys

x = ctypes.cdll.LoadLibrary("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                         ctypes.c_void_p]
x.XFlush.argtypes = [ctypes.c_void_p]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]


via_wm = sys.argv[1] == "--via-wm"
target = int(sys.argv[-1], 0)
display = x.XOpenDisplay(None)
if not display:
    sys.exit("wm_close: cannot open the display")
event = Event()
event.xclient.type = 33  # ClientMessage
event.xclient.window = target
event.xclient.format = 32
if via_wm:
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    event.xclient.message_type = x.XInternAtom(display, b"_NET_CLOSE_WINDOW", 0)
    event.xclient.data[1] = 2  # from a pager or task bar: the user's own request
    substructure = (1 << 19) | (1 << 20)  # SubstructureNotify, SubstructureRedirect
    x.XSendEvent(display, x.XDefaultRootWindow(display), 0, substructure, ctypes.byref(event))
else:
    event.xclient.message_type = x.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.xclient.data[0] = x.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    x.XSendEvent(display, target, 0, 0, ctypes.byref(event))
x.XFlush(display)
x.XCloseDisplay(display)
