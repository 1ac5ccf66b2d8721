"""The type stubs against the modules they describe: the same names, the same __all__, the same
signatures, the same members of Document; installed where type checkers look for them; and
mypy, where it is installed, reading them."""

import ast
import inspect
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import yomika_py

ROOT = Path(__file__).resolve().parents[2]
STUB = ROOT / "python" / "yomika_py.pyi"
NATIVE_STUB = ROOT / "python" / "yomika_cli" / "_native.pyi"


def stub_signature(node: ast.FunctionDef, drop_first: bool) -> inspect.Signature:
    """The stub's parameters as an inspect.Signature (annotations left out, defaults as markers)."""
    a = node.args
    positional = [(p, inspect.Parameter.POSITIONAL_ONLY) for p in a.posonlyargs]
    positional += [(p, inspect.Parameter.POSITIONAL_OR_KEYWORD) for p in a.args]
    defaults = [inspect.Parameter.empty] * (len(positional) - len(a.defaults)) + ["default"] * len(a.defaults)
    params = [inspect.Parameter(p.arg, kind, default=d) for (p, kind), d in zip(positional, defaults)]
    if a.vararg:
        params.append(inspect.Parameter(a.vararg.arg, inspect.Parameter.VAR_POSITIONAL))
    for p, d in zip(a.kwonlyargs, a.kw_defaults):
        params.append(inspect.Parameter(p.arg, inspect.Parameter.KEYWORD_ONLY,
                                        default=inspect.Parameter.empty if d is None else "default"))
    if a.kwarg:
        params.append(inspect.Parameter(a.kwarg.arg, inspect.Parameter.VAR_KEYWORD))
    return inspect.Signature(params[1:] if drop_first else params)


def runtime_signature(obj, drop_first: bool) -> inspect.Signature:
    params = [p.replace(annotation=inspect.Parameter.empty,
                        default=p.default if p.default is inspect.Parameter.empty else "default")
              for p in inspect.signature(obj).parameters.values()]
    # Methods read from the class carry their self parameter; the stub's is dropped likewise.
    return inspect.Signature(params[1:] if drop_first else params)


def decorators(node) -> set[str]:
    return {d.id if isinstance(d, ast.Name) else d.attr for d in node.decorator_list}


def check_module(stub_path: Path, module) -> None:
    tree = ast.parse(stub_path.read_text(encoding="utf-8"))
    defined = {n.name: n for n in tree.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    public = {name for name in vars(module) if not name.startswith("_")}
    assert set(defined) == public

    declared_all = [n for n in tree.body if isinstance(n, ast.Assign) and n.targets[0].id == "__all__"]
    if hasattr(module, "__all__"):
        assert ast.literal_eval(declared_all[0].value) == module.__all__
    else:
        assert declared_all == []

    for name, node in defined.items():
        runtime = getattr(module, name)
        if isinstance(node, ast.FunctionDef):
            assert stub_signature(node, False) == runtime_signature(runtime, False), name
            continue
        members = {m.name: m for m in node.body if isinstance(m, ast.FunctionDef)}
        constructor = members.pop("__new__", None) or members.pop("__init__")
        assert stub_signature(constructor, True) == runtime_signature(runtime, False), f"{name}()"
        assert set(members) == {m for m in dir(runtime) if not m.startswith("_")}, name
        for member_name, member in members.items():
            attribute = inspect.getattr_static(runtime, member_name)
            if "property" in decorators(member):
                assert inspect.isgetsetdescriptor(attribute)
            else:
                assert inspect.ismethoddescriptor(attribute) and not inspect.isgetsetdescriptor(attribute)
                assert stub_signature(member, True) == runtime_signature(attribute, True), f"{name}.{member_name}"
        # @final in the stub exactly when the class refuses subclasses.
        try:
            type("Sub", (runtime,), {})
            subclassable = True
        except TypeError:
            subclassable = False
        assert ("final" in decorators(node)) == (not subclassable), name


@pytest.mark.parametrize("stub,module_name", [(STUB, "yomika_py"), (NATIVE_STUB, "yomika_cli._native")],
                         ids=["yomika_py", "yomika_cli._native"])
def test_stub_matches_module(stub, module_name):
    module = pytest.importorskip(module_name)
    check_module(stub, module)


def test_stub_of_document_has_its_read_only_source():
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    document = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == "Document")
    source = next(m for m in document.body if isinstance(m, ast.FunctionDef) and m.name == "source")
    assert "property" in decorators(source) and ast.unparse(source.returns) == "str"
    with pytest.raises(AttributeError):
        yomika_py.Document("a").source = "b"


INSTALLED = (Path(yomika_py.__file__).parent / "yomika_py.pyi").exists()
installed_only = pytest.mark.skipif(not INSTALLED, reason="yomika_py is not installed from a wheel here")


@installed_only
def test_stubs_are_installed_where_type_checkers_look():
    site = Path(yomika_py.__file__).parent
    text = STUB.read_text(encoding="utf-8")
    assert (site / "yomika_py.pyi").read_text(encoding="utf-8") == text  # pyright, editors
    assert (site / "yomika_py-stubs" / "__init__.pyi").read_text(encoding="utf-8") == text  # mypy
    assert (site / "yomika_cli" / "py.typed").exists()
    assert (site / "yomika_cli" / "_native.pyi").exists()


USE = """\
import yomika_py
import yomika_cli

doc = yomika_py.Document(source="｜猫《ねこ》")
html: str = doc.to_html() + yomika_py.parse_to_html("a")
size: int = doc.source_byte_len()
result = yomika_cli.convert_text(doc.source, "x.txt", to="page")
page: str | None = result.output
"""

MISUSE = """\
import yomika_py

yomika_py.parse_to_html(b"bytes")
n: int = yomika_py.Document("a").nodes()
yomika_py.Document("a").source = "b"
class Mine(yomika_py.Document): ...
"""


@installed_only
@pytest.mark.parametrize("code,errors", [(USE, 0), (MISUSE, 4)], ids=["use", "misuse"])
def test_mypy_reads_the_stubs(tmp_path, code, errors):
    pytest.importorskip("mypy", reason="mypy is not installed")
    (tmp_path / "use.py").write_text(code, encoding="utf-8")
    r = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental", "use.py"],
        cwd=tmp_path, capture_output=True, text=True, timeout=300,
    )
    found = [line for line in r.stdout.splitlines() if ": error:" in line]
    assert len(found) == errors, r.stdout
    assert "import-not-found" not in r.stdout and "import-untyped" not in r.stdout


@installed_only
def test_mypy_strict_on_the_converter(tmp_path):
    pytest.importorskip("mypy", reason="mypy is not installed")
    r = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental", "-p", "yomika_cli"],
                       cwd=tmp_path, capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, textwrap.indent(r.stdout, "  ")
