"""Qel's picture operations on numpy arrays.

    import qel
    pic = qel.open("scan.png").to_256().thin()
    pic.save("lines.png")
"""
from ._qel import Picture, Refused, __version__, calc, from_bytes, open  # noqa: A004 (qel.open as the module's own)

# Pictures and refusals belong to the package as users name them (qel.Picture pickles as such).
Picture.__module__ = __name__
Refused.__module__ = __name__

__all__ = ["Picture", "Refused", "__version__", "calc", "from_bytes", "open"]
