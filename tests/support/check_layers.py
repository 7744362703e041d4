#!/usr/bin/env python3
"""Fails when a module of the player includes a header of a module above it.

The modules form one order, each free to use those before it:

    platform, resources, payload, imaging, gif, ui, app

so no two modules depend on each other. A module not in the order fails too,
so that a new one is given its place.

usage: check_layers.py SRC_DIR
"""

import os
import re
import sys

ORDER = ["platform", "resources", "payload", "imaging", "gif", "ui", "app"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^/"]+)/[^"]+"', re.MULTILINE)


def violations(src):
    found = []
    for module in sorted(os.listdir(src)):
        folder = os.path.join(src, module)
        if not os.path.isdir(folder):
            continue
        if module not in ORDER:
            found.append(f"{module}/: a module with no place in the order {', '.join(ORDER)}")
            continue
        for name in sorted(os.listdir(folder)):
            if not name.endswith((".h", ".cpp")):
                continue
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                text = f.read()
            for used in INCLUDE.findall(text):
                if used not in ORDER:
                    found.append(f"{module}/{name}: includes a header of '{used}', not a module")
                elif ORDER.index(used) > ORDER.index(module):
                    found.append(f"{module}/{name}: includes a header of '{used}', which comes "
                                 f"after '{module}'")
    return found


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[-1])
    found = violations(sys.argv[1])
    for line in found:
        print(line)
    print(f"module layers: {len(found)} upward include(s)" if found else
          "module layers: every include points down the order " + " < ".join(ORDER))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
