"""Every destructive call has its row in docs/destructive-calls.md.

A destructive call can delete, truncate, overwrite, move away or strip what existed
before it ran (also a database's DROP TABLE and DELETE). This check finds every such call in the product's C++ sources (engine,
framework, runlist, wrappers, utilities, tools) and in the Python of tools/ and scripts/,
names each by its file, the function it stands in and the call, and compares them with
the inventory's rows: a call without a row, a row without its call, and a row whose test
does not exist all fail, each with where to mend it.

    /usr/bin/python3 tests/system/test_destructive_calls.py    # lists every call site
"""

import ast
import collections
import os
import re
import sys

import pytest

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
INVENTORY = "docs/destructive-calls.md"
CPP_FOLDERS = ("engine", "framework", "runlist", "wrappers", "utilities", "tools")
PYTHON_FOLDERS = ("tools", "scripts")

# The system's calls, and the shared helpers of framework/ and runlist/ that make them
# for their callers: a call of a helper is a destructive call where it stands.
CPP_CALLS = (
    "DeleteFileA", "DeleteFileW", "DeleteFile", "RemoveDirectoryA", "RemoveDirectoryW", "RemoveDirectory",
    "MoveFileA", "MoveFileW", "MoveFile", "MoveFileExA", "MoveFileExW", "MoveFileEx",
    "CopyFileA", "CopyFileW", "CopyFile", "CopyFileExA", "CopyFileExW",
    "SetFileAttributesA", "SetFileAttributesW", "SetFileAttributes", "SetEndOfFile",
    "RegDeleteValueA", "RegDeleteValueW", "RegDeleteValue", "RegDeleteKeyA", "RegDeleteKeyW", "RegDeleteKey",
    "RegDeleteKeyExA", "RegDeleteKeyExW", "RegSetValueExA", "RegSetValueExW", "RegSetValueEx",
    "DeleteFileWithRetries", "MoveFileWithRetries", "MoveRewriteIntoPlace", "ReplaceWholeFile",
    "RestoreReplacedFile", "RestoreRunList", "RewriteRunList", "WriteRewrite", "WriteRewriteOfLine",
    "DeleteLeftAsideCopies",
    "DeleteLeftRunListCopies",
    "DeleteTree", "CleanupInstallationFiles",
)
# Words that make a file open destructive: it is created empty over what was there.
CPP_WORDS = ("CREATE_ALWAYS", "TRUNCATE_EXISTING", "modeWrite")
PYTHON_CALLS = {"shutil.rmtree", "shutil.move", "shutil.copyfile", "shutil.copy", "shutil.copy2", "os.remove",
                "os.unlink", "os.rmdir", "os.removedirs", "os.replace", "os.rename", "os.truncate"}
PYTHON_METHODS = {"unlink", "rmdir", "write_text", "write_bytes"}

Site = collections.namedtuple("Site", "path function call line")


# ----- C++ ----------------------------------------------------------------------------
def strip_cpp(text):
    """The text with comments, string and character literals and preprocessor lines
    blanked (quotes kept, line breaks kept), so that braces and names are code."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            # A directive, with its continued lines.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out.append(" \n")
                    i += 2
                    continue
                out.append(" ")
                i += 1
            continue
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                out.append(" ")
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
            continue
        if c in "\"'":
            # A raw string keeps everything up to its own end.
            raw = re.match(r'R"([^(\s]*)\(', text[i - 1:i + 20]) if c == '"' and i > 0 and text[i - 1] == "R" else None
            if raw:
                end = text.find(")" + raw.group(1) + '"', i)
                end = n if end < 0 else end + len(raw.group(1)) + 2
            else:
                end = i + 1
                while end < n and text[end] != c and text[end] != "\n":
                    end += 2 if text[end] == "\\" else 1
                end = min(end + 1, n)
            out.append(c + re.sub(r"[^\n]", " ", text[i + 1:end - 1]) + c)
            i = end
            continue
        out.append(c)
        line_start = c == "\n" or (line_start and c in " \t")
        i += 1
    return "".join(out)


def function_name(header):
    """The name a function definition's header gives, or None when the brace after it
    opens no function (a namespace, a class, an initializer)."""
    header = " ".join(header.split())
    if not header or re.search(r"\b(namespace|class|struct|union|enum)\b", header.split("(")[0]) \
            or re.match(r'extern\s*"\s*"', header):
        return None
    paren = header.find("(")
    equals = header.find("=")
    if equals >= 0 and (paren < 0 or equals < paren) and not re.search(r"\boperator\s*=", header):
        # A lambda or an object given to a variable: the variable's name.
        found = re.search(r"([A-Za-z_]\w*)\s*(\[[^\]]*\])?\s*$", header[:equals])
        return found.group(1) if found and paren >= 0 else None
    if paren < 0:
        return None
    found = re.search(r"((?:[A-Za-z_]\w*\s*::\s*)*~?[A-Za-z_]\w*|operator\s*[^\s(]+)\s*$", header[:paren])
    return re.sub(r"\s+", "", found.group(1)) if found else None


def cpp_sites(path, text):
    """Every destructive call of a C++ source, with the function it stands in."""
    code = strip_cpp(text)
    calls = re.compile(r"\b(%s)\s*\(|\b(%s)\b" % (
        "|".join(CPP_CALLS), "|".join(CPP_WORDS)))
    sites = []
    # Each scope: (kind, name); kinds: "function", "block" (inside a function), "class",
    # "namespace", "other".
    stack = []
    header_start = 0
    position = 0
    line = 1
    for match in re.finditer(r"[{};]|%s" % calls.pattern, code):
        token = match.group(0)
        line += code.count("\n", position, match.start())
        position = match.start()
        in_function = any(kind in ("function", "block") for kind, _ in stack)
        if token == "{":
            if in_function:
                stack.append(("block", None))
            else:
                header = code[header_start:match.start()]
                # An access label is no part of the header.
                header = re.sub(r"^\s*(public|private|protected)\s*:(?!:)", "", header)
                name = function_name(header)
                owner = [n for kind, n in stack if kind == "class"]
                if name:
                    stack.append(("function", "::".join(owner[-1:] + [name]) if "::" not in name else name))
                else:
                    found = re.search(r"\b(class|struct|union)\s+(\w+)", header)
                    if found:
                        stack.append(("class", found.group(2)))
                    elif re.search(r"\bnamespace\b", header) or re.match(r'\s*extern\s*"\s*"', header):
                        stack.append(("namespace", None))
                    else:
                        stack.append(("other", None))
            header_start = match.end()
        elif token in "};":
            if token == "}" and stack:
                stack.pop()
            header_start = match.end()
        elif in_function:
            call = match.group(1) or match.group(2)
            function = [n for kind, n in stack if kind == "function"][-1]
            sites.append(Site(path, function, call, line))
    return sites


# ----- Python -------------------------------------------------------------------------
def dotted(node):
    parts = []
    while isinstance(node, ast.Attribute):
        parts.append(node.attr)
        node = node.value
    if isinstance(node, ast.Name):
        parts.append(node.id)
        return ".".join(reversed(parts))
    return None


def opens_for_writing(call):
    if not (isinstance(call.func, ast.Name) and call.func.id == "open"):
        return False
    mode = call.args[1] if len(call.args) > 1 else next((k.value for k in call.keywords if k.arg == "mode"), None)
    return isinstance(mode, ast.Constant) and isinstance(mode.value, str) and "w" in mode.value


# A database's statements that delete what is stored: DROP TABLE, DELETE.
SQL_METHODS = {"execute", "executemany", "executescript"}


def sql_statement(call):
    """ "DROP TABLE" or "DELETE" when the call's statement (a text, or one built from a
    text) begins with it."""
    node = call.args[0] if call.args else None
    while isinstance(node, ast.BinOp):
        node = node.left
    if isinstance(node, ast.JoinedStr) and node.values:
        node = node.values[0]
    if isinstance(node, ast.Constant) and isinstance(node.value, str):
        words = node.value.split()
        if words[:2] == ["DROP", "TABLE"] or words[:1] == ["DELETE"]:
            return " ".join(words[:2]) if words[0] == "DROP" else "DELETE"
    return None


def python_sites(path, text):
    sites = []

    def visit(node, scope):
        for child in ast.iter_child_nodes(node):
            if isinstance(child, (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
                visit(child, scope + [child.name])
                continue
            if isinstance(child, ast.Call):
                name = dotted(child.func)
                call = None
                if name in PYTHON_CALLS:
                    call = name
                elif isinstance(child.func, ast.Attribute) and child.func.attr in PYTHON_METHODS:
                    call = "." + child.func.attr
                elif opens_for_writing(child):
                    call = "open w"
                elif isinstance(child.func, ast.Attribute) and child.func.attr in SQL_METHODS:
                    call = sql_statement(child)
                if call:
                    sites.append(Site(path, ".".join(scope) or "<module>", call, child.lineno))
            visit(child, scope)

    visit(ast.parse(text, path), [])
    return sites


def is_python(path):
    if path.endswith(".py"):
        return True
    with open(path, "rb") as f:
        return b"python" in f.readline()


def find_sites(repo=REPO):
    sites = []
    for folders, wanted in ((CPP_FOLDERS, "cpp"), (PYTHON_FOLDERS, "python")):
        for folder in folders:
            for root, dirs, names in os.walk(os.path.join(repo, folder)):
                dirs[:] = sorted(d for d in dirs if d != "__pycache__")
                for name in sorted(names):
                    full = os.path.join(root, name)
                    path = os.path.relpath(full, repo).replace(os.sep, "/")
                    with open(full, encoding="utf-8", errors="replace") as f:
                        text = f.read()
                    if wanted == "cpp" and name.endswith((".cpp", ".h", ".c")):
                        sites += cpp_sites(path, text)
                    elif wanted == "python" and (name.endswith(".py") or "." not in name) and is_python(full):
                        sites += python_sites(path, text)
    return sites


# ----- the inventory ------------------------------------------------------------------
Row = collections.namedtuple("Row", "path function call tests line")


def read_inventory(text):
    """The rows of every table whose first cell is a file in backticks."""
    rows = []
    for number, line in enumerate(text.splitlines(), 1):
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) < 7 or not re.fullmatch(r"`[^`]+`", cells[0]):
            continue
        unquote = lambda cell: cell.strip("`")  # noqa: E731
        tests = re.findall(r"`([^`:]+)::([^`]+)`", cells[6])
        rows.append(Row(unquote(cells[0]), unquote(cells[1]), unquote(cells[2]), tests, number))
    return rows


def compare(sites, rows, repo=REPO):
    """The inventory's problems, each a line that says what to do. Sites and rows are
    matched by file, function and call, as many rows as calls."""
    problems = []
    found = collections.defaultdict(list)
    for site in sites:
        found[(site.path, site.function, site.call)].append(site.line)
    listed = collections.defaultdict(list)
    for row in rows:
        listed[(row.path, row.function, row.call)].append(row.line)
    for key in sorted(set(found) | set(listed)):
        path, function, call = key
        lines, row_lines = found.get(key, []), listed.get(key, [])
        if len(lines) > len(row_lines):
            problems.append("%s:%d: %s in %s has %s in %s: add '| `%s` | `%s` | `%s` | what it may destroy | whose "
                            "| its guard | `test file::test name` |' under the heading of its deliverable" % (
                                path, lines[len(row_lines)], call, function,
                                "no row" if not row_lines else "%d calls and %d rows" % (len(lines), len(row_lines)),
                                INVENTORY, path, function, call))
        elif len(lines) < len(row_lines):
            problems.append("%s:%d: the row for %s in %s of %s names %s: remove the row or mend it" % (
                INVENTORY, row_lines[len(lines)], call, function, path,
                "no call there any more" if not lines else "%d calls, not %d" % (len(lines), len(row_lines))))
    for row in rows:
        if not row.tests:
            problems.append("%s:%d: the row for %s in %s names no test (`file::name`)" % (
                INVENTORY, row.line, row.call, row.function))
        for test_file, test_name in row.tests:
            full = os.path.join(repo, test_file)
            name = test_name.split(".")[-1].split("[")[0]
            if not os.path.isfile(full):
                problems.append("%s:%d: the test file %s does not exist" % (INVENTORY, row.line, test_file))
                continue
            with open(full, encoding="utf-8", errors="replace") as f:
                if not re.search(r"\b%s\b" % re.escape(name), f.read()):
                    problems.append("%s:%d: %s holds no test %s" % (INVENTORY, row.line, test_file, name))
    return problems


# ----- the tests ----------------------------------------------------------------------
@pytest.mark.native
def test_every_destructive_call_has_its_row_and_every_row_its_call_and_test():
    with open(os.path.join(REPO, INVENTORY), encoding="utf-8") as f:
        rows = read_inventory(f.read())
    problems = compare(find_sites(), rows)
    assert not problems, "\n".join(problems)


@pytest.mark.native
@pytest.mark.parametrize("source, expected", [
    # A member defined out of its class, an initializer list, a lambda inside.
    ("BOOL CNUVApp::DeleteFiles(CNUVDlg*) : x(1)\n{\n  auto f = [&]() { DeleteFileA(p); };\n}",
     [("CNUVApp::DeleteFiles", "DeleteFileA", 3)]),
    # Namespaces and extern "C" are no functions; a class's inline member is Class::name.
    ('namespace {\nextern "C" {\nclass CX : public CY {\npublic:\n  void Go() { RemoveDirectoryA(p); }\n};\n}\n}',
     [("CX::Go", "RemoveDirectoryA", 5)]),
    # Comments, strings and declarations name no call; a helper through an object does.
    ('// DeleteFileA(x)\nint DeleteTree(char* d);\nvoid F() { const char* t = "DeleteFileA("; w.DeleteTree(d); }',
     [("F", "DeleteTree", 3)]),
    # A word that makes an open destructive, and a lambda given to a variable at file level.
    ("const auto open = [](const char* p) {\n  return CreateFileA(p, 0, 0, 0, CREATE_ALWAYS, 0, 0);\n};",
     [("open", "CREATE_ALWAYS", 2)]),
    # Control blocks and initializers inside a function stay the function's.
    ("int G()\n{\n  if (a) {\n    for (;;) { MoveFileA(a, b); }\n  }\n  Row rows[] = {{1}};\n  return CopyFileA(a, b, 0);\n}",
     [("G", "MoveFileA", 4), ("G", "CopyFileA", 7)]),
])
def test_a_call_is_named_by_the_function_it_stands_in(source, expected):
    assert [(s.function, s.call, s.line) for s in cpp_sites("x.cpp", source)] == expected


@pytest.mark.native
def test_python_calls_are_named_by_their_function_and_class():
    source = ("import os, shutil\nshutil.rmtree(x)\nclass A:\n    def b(self):\n        os.remove(y)\n"
              "        with open(p, 'wb') as f, open(q) as g:\n            path.unlink()\n")
    assert [(s.function, s.call, s.line) for s in python_sites("x.py", source)] == [
        ("<module>", "shutil.rmtree", 2), ("A.b", "os.remove", 5), ("A.b", "open w", 6), ("A.b", ".unlink", 7)]


if __name__ == "__main__":
    for site in sorted(find_sites()):
        print("%s:%d\t%s\t%s" % (site.path, site.line, site.function, site.call))
    sys.exit(0)
