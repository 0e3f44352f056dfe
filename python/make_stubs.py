"""Writes the type stubs of the built package `qel` (qel/__init__.pyi) from its own signatures and docstrings.

    python3 make_stubs.py MODULE_DIR OUT.pyi
"""
import inspect
import re
import sys

sys.path.insert(0, sys.argv[1])
import qel  # noqa: E402

TYPES = [(r"qel\._qel\.Picture|qel\.Picture", "Picture"), (r"\bhandle\b", "typing.Any"), (r"numpy\.ndarray\[numpy\.uint8\]", "numpy.typing.NDArray[numpy.uint8]"),
         (r"numpy\.ndarray", "numpy.typing.NDArray[typing.Any]"), (r"List\[(\w+)\[\d+\]\]", r"typing.Sequence[\1]"),
         (r"Optional\[", "typing.Optional["), (r"\bobject\b", "typing.Any")]


def signature(doc):
    """The first line of a pybind11 docstring as a stub's def line, and the text below it."""
    first, _, rest = doc.partition("\n")
    for pattern, repl in TYPES:
        first = re.sub(pattern, repl, first)
    first = re.sub(r" = (\([^)]*\)|\[[^\]]*\]|[^,)]+)", " = ...", first)
    return first, rest.strip()


def function(doc, indent):
    head, text = signature(doc)
    lines = [f"{indent}def {head}:"]
    lines.append(f'{indent}    """{text}"""' if text else f"{indent}    ...")
    return lines


out = ['"""Qel\'s picture operations on numpy arrays (type stubs written from the module)."""',
       "import os", "import typing", "", "import numpy", "import numpy.typing", "", "__version__: str", "",
       "class Refused(Exception):", '    """An operation refused this picture; the message says why."""', "",
       "class Picture:", f'    """{qel.Picture.__doc__}"""']
for name, member in sorted(vars(qel.Picture).items()):
    if name == "__init__":
        out += function(member.__doc__.replace("__init__(self: Picture", "__init__(self"), "    ")
    elif name == "__array__":
        out.append("    def __array__(self, dtype: typing.Any = ...) -> numpy.typing.NDArray[numpy.uint8]: ...")
    elif isinstance(member, property):
        kind = {"palette": "numpy.typing.NDArray[numpy.uint8]", "thinned": "bool", "changed": "bool",
                "reason": "str", "note": "str", "info": "dict[str, int | str]"}.get(name, "int")
        out += ["    @property", f"    def {name}(self) -> {kind}:", f'        """{member.__doc__ or name}"""']
        if member.fset:
            out += [f"    @{name}.setter", f"    def {name}(self, value: {kind}) -> None: ..."]
    elif not name.startswith("_") and callable(member):
        out += function(member.__doc__.lstrip(), "    ")
out.append("")
for name, member in sorted(vars(qel).items()):
    if inspect.isbuiltin(member):
        out += function(member.__doc__.lstrip(), "")
with open(sys.argv[2], "w") as f:
    f.write(re.sub(r"\(self: (Picture|handle)", "(self", "\n".join(out)) + "\n")
