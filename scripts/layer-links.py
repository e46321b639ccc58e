#!/usr/bin/env python3
"""Whether each layer's library links only the layers it names.

A layer may include only the layers named after USES in CMakeLists.txt (its include root
holds nothing else), but a static library takes any symbol at the final link, so an
include root alone does not stop a layer from calling a function of a layer above it
that it declares itself. This looks at the symbols: every symbol that a layer's library
(libhoralin_NAME.a in the build folder given) leaves undefined and that another layer's
library defines must be defined by a layer that it names. Inline functions and templates,
defined weakly wherever they are used, say nothing and are passed over. Exits non-zero,
naming each symbol, when a layer reaches past what it names.
"""
import os
import re
import subprocess
import sys

def layers(cmake_lists):
    text = open(cmake_lists, encoding="utf-8").read()
    found = {}
    for name, body in re.findall(r"horalin_layer\((\w+)(.*?)\)", text, re.S):
        uses = body.split("USES", 1)[1].split() if "USES" in body else []
        found[name] = set(uses)
    return found

def symbols(archive, undefined):
    flags = ["-u"] if undefined else ["--defined-only", "-g"]
    out = subprocess.run(["nm", *flags, archive], capture_output=True, text=True, check=True).stdout
    names = set()
    for line in out.splitlines():
        parts = line.split()
        if len(parts) < 2:
            continue
        kind, name = parts[-2], parts[-1]
        if undefined or kind in "TDBR":  # strong definitions only
            names.add(name)
    return names

def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/posix"
    found = {name: uses for name, uses in layers("CMakeLists.txt").items()
             if os.path.exists(os.path.join(build, f"libhoralin_{name}.a"))}
    defined = {name: symbols(os.path.join(build, f"libhoralin_{name}.a"), False) for name in found}
    failed = False
    for name, uses in sorted(found.items()):
        for symbol in sorted(symbols(os.path.join(build, f"libhoralin_{name}.a"), True) - defined[name]):
            owners = [other for other in found if other != name and symbol in defined[other]]
            for owner in owners:
                if owner not in uses:
                    print(f"{name} uses {symbol} of {owner}, which it does not name")
                    failed = True
    print(f"layer links: {len(found)} libraries of {build}" + (": some reach past what they name" if failed else ""))
    return 1 if failed else 0

if __name__ == "__main__":
    sys.exit(main())
