"""Checks that every include of the product's sources points down its layers.

The folders of src/ are layers, from the bottom: shell, hw, log, codec, config, board, then
net and util side by side, then app. A file may include headers of its own folder and of the
folders below it; net and util do not include each other. Prints each include that points up
or sideways and exits with status 1 when there is one.

  python3 scripts/lib/check_layers.py [SOURCE_DIR]
"""

import os
import re
import sys

LAYERS = {"shell": 0, "hw": 1, "log": 2, "codec": 3, "config": 4, "board": 5, "net": 6,
          "util": 6, "app": 7}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z]+)/')


def wrong_includes(src):
    found = []
    for folder in sorted(os.listdir(src)):
        if folder not in LAYERS:
            found.append("%s/: a folder outside the layers" % folder)
            continue
        for name in sorted(os.listdir(os.path.join(src, folder))):
            path = os.path.join(src, folder, name)
            with open(path) as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m or m.group(1) == folder:
                        continue
                    target = m.group(1)
                    if target not in LAYERS or LAYERS[target] >= LAYERS[folder]:
                        found.append("src/%s/%s:%d: includes %s/ from %s/" % (
                            folder, name, number, target, folder))
    return found


def main():
    top = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    found = wrong_includes(os.path.join(top, "src"))
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
