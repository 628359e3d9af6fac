"""Reports what the suite leaves unrun in src/, host/ and tools/ of a build made
with GCC's --coverage, from the counts the tests left there (gcov's JSON):
the lines no test ran, file by file, and the functions no test ran. Exits 1
when a function no test ran is not one of those expected below.

  python3 tests/coverage_report.py BUILD_DIR
"""
import collections
import glob
import json
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__))) + os.sep
FOLDERS = ("src/", "host/", "tools/")

# Functions no test can be seen to run, by file and name, each with the reason.
EXPECTED = {
    ("host/host_memory.cpp", "ForeignBlock"):
        "aborts: it runs in death tests' children, which end before they write their counts",
    ("tools/tamlorn_convert/files.cpp", "RemoveLeftovers"): "runs when a signal interrupts a conversion",
}


def gcov_documents(build):
    """gcov's JSON document for each counts file of the build."""
    counts = sorted(glob.glob(os.path.join(build, "**", "*.gcda"), recursive=True))
    for start in range(0, len(counts), 50):
        run = subprocess.run(["gcov", "--json-format", "--stdout"] + counts[start:start + 50],
                             capture_output=True, text=True, cwd=build, check=True)
        for line in run.stdout.splitlines():
            if line.strip():
                yield json.loads(line)


def our_files(document):
    """(path below the repository, file record) for the files of FOLDERS."""
    for record in document["files"]:
        path = os.path.normpath(os.path.join(document["current_working_directory"], record["file"]))
        relative = path[len(ROOT):] if path.startswith(ROOT) else ""
        if relative.startswith(FOLDERS):
            yield relative, record


def main(build):
    lines = collections.defaultdict(lambda: collections.defaultdict(int))  # file -> line -> count
    functions = collections.defaultdict(int)  # (file, line, name) -> count
    for document in gcov_documents(build):
        for path, record in our_files(document):
            for line in record["lines"]:
                lines[path][line["line_number"]] += line["count"]
            for function in record["functions"]:
                functions[(path, function["start_line"], function["demangled_name"])] += function["execution_count"]
    if not lines:
        sys.exit(f"coverage: no counts in {build}: build with --coverage and run the tests first")
    total = sum(len(counts) for counts in lines.values())
    unrun = {path: sorted(n for n, c in counts.items() if c == 0) for path, counts in sorted(lines.items())}
    missed = sum(len(numbers) for numbers in unrun.values())
    print(f"lines run: {total - missed} of {total} ({100.0 * (total - missed) / total:.1f} %)")
    for path, numbers in unrun.items():
        if numbers:
            print(f"  {path}: {len(numbers)} not run: {' '.join(map(str, numbers))}")
    unexpected = 0
    for (path, line, name), count in sorted(functions.items()):
        if count:
            continue
        short = name.replace("(anonymous namespace)::", "").split("(")[0].split("::")[-1]
        why = EXPECTED.get((path, short))
        print(f"function not run: {path}:{line} {name}" + (f" (expected: {why})" if why else ""))
        unexpected += why is None
    if unexpected:
        print(f"coverage: {unexpected} function(s) that no test runs: test them, or remove them if nothing calls them")
        sys.exit(1)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(os.path.abspath(sys.argv[1]))
