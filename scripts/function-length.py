#!/usr/bin/env python3
"""Functions of the tests, benchmarks and fuzz targets longer than 60 lines.

clang-tidy holds the program's sources to 60 lines a function (.clang-tidy); parsing the
test framework for each test file would cost minutes, so this script holds the other
sources to the same limit by their layout, which clang-format fixes: a definition at the
outer level (a function, or a TEST body) begins on a line at column 0 that ends with "{"
and ends at the next line that is "}" alone. The lines between are counted, as
clang-tidy counts them. No test is waived: a long table of cases goes out of the body
(or into several tests). Exits non-zero, naming each, when one is longer.
"""
import re
import subprocess
import sys

LIMIT = 60
NOT_A_FUNCTION = re.compile(r'^(namespace|struct|class|enum|union|extern "C" \{|const |constexpr |static const )')

def long_functions(path):
    lines = open(path, encoding="utf-8").read().split("\n")
    start = None
    for number, line in enumerate(lines):
        if start is None:
            if line[:1].strip() and line.endswith("{") and not NOT_A_FUNCTION.match(line) and "=" not in line:
                start = number
        elif line == "}" or line.startswith("}  //"):
            first = start
            if number - first - 1 > LIMIT:
                yield first + 1, number - first - 1, lines[first]
            start = None

def main():
    files = subprocess.run(["git", "ls-files", "tests/*.cpp", "bench/*.cpp", "fuzz/*.cpp"],
                           capture_output=True, text=True, check=True).stdout.split()
    failed = False
    for path in files:
        for line, length, text in long_functions(path):
            print(f"{path}:{line}: {length} lines (more than {LIMIT}): {text}")
            failed = True
    return 1 if failed else 0

if __name__ == "__main__":
    sys.exit(main())
