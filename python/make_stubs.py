# SPDX-License-Identifier: Apache-2.0
"""Writes corvane.pyi, the type stubs of the Python module, from the member
tables of the classes in the registry, so that editors complete member
names:  make_stubs.py OUTPUT  (with the built module on PYTHONPATH)."""

import keyword
import sys

import corvane

HEAD = '''\
# Written by python/make_stubs.py from the member tables; do not edit.
from typing import Any, Iterator, Literal, overload

__version__: str


class Failure(Exception):
    number: int
    source: str
    description: str
    system_text: str
    def __init__(self, number: int, source: str, description: str,
                 system_text: str = "") -> None: ...


class NoSuchMember(Failure, AttributeError): ...


class ByRef:
    value: Any
    def __init__(self, value: Any = None) -> None: ...


class Object:
    def __getattr__(self, name: str) -> Any: ...
    def __setattr__(self, name: str, value: Any) -> None: ...


class Collection(Object):
    def __init__(self) -> None: ...
    def __len__(self) -> int: ...
    def __iter__(self) -> Iterator[Any]: ...
    def __getitem__(self, key: int | str) -> Any: ...
    Count: int
    def Item(self, index: int | str) -> Any: ...
    def Add(self, item: Any, key: str = ...) -> None: ...


class WsgiPage(Object):
    def __init__(self, environ: Any, max_body_bytes: int = ...) -> None: ...
    def create(self, progid: str) -> Object: ...
    @property
    def output(self) -> str: ...
    @property
    def status(self) -> str: ...
    @property
    def status_code(self) -> int: ...
    @property
    def bytes_read(self) -> int: ...
    @property
    def query_string(self) -> str: ...
    @property
    def cookies(self) -> dict[str, str]: ...
    def server_variable(self, name: str) -> str: ...
    def end(self) -> None: ...
    def __enter__(self) -> "WsgiPage": ...
    def __exit__(self, *args: Any) -> bool: ...
    Request: Object
    Response: Object


def classes() -> list[str]: ...
def registry() -> str: ...
'''


def class_stub(name, members):
    lines = [f"class {name}(Object):"]
    for member, kind in members:
        if not member.isidentifier() or keyword.iskeyword(member):
            continue
        if kind == "method":
            lines.append(f"    def {member}(self, *args: Any) -> Any: ...")
        else:
            lines.append(f"    {member}: Any  # {kind}")
    return "\n".join(lines)


def main(output):
    parts = [HEAD]
    creatable = []
    seen = {}
    for progid in corvane.classes():
        try:
            obj = corvane.create(progid)
        except corvane.Failure as failure:
            print(f"make_stubs: {progid} skipped: {failure}", file=sys.stderr)
            continue
        name = type(obj).__name__
        if name in seen and seen[name] != obj._members:
            name = progid.replace(".", "_")
        if name not in seen:
            seen[name] = obj._members
            parts.append("\n\n" + class_stub(name, obj._members) + "\n")
        creatable.append((progid, name))
    for progid, name in creatable:
        parts.append(f'''
@overload
def create(progid: Literal["{progid}"], page: WsgiPage | None = None) -> {name}: ...''')
    parts.append('''
@overload
def create(progid: str, page: WsgiPage | None = None) -> Object: ...
''')
    with open(output, "w", encoding="utf-8") as stub:
        stub.write("".join(parts))


if __name__ == "__main__":
    main(sys.argv[1])
