#!/usr/bin/env python3
"""The README's numpy and Python blocks, run as they stand there.

Reads the ```python blocks of README.md's numpy section, and runs them one after the other in
one namespace, in a fresh folder holding the example grids, with the built tools first on PATH.
Each block must end with an assert of what it shows.

Usage: readme_python.py README.md TOOL_DIRECTORY EXAMPLES_DIRECTORY. Exits 77 (skipped) where
numpy is missing.
"""
import glob
import os
import re
import shutil
import sys
import tempfile

try:
    import numpy  # noqa: F401 (the blocks import it themselves)
except ImportError as missing:
    system_python = "/usr/bin/python3"  # Debian's numpy belongs to Debian's own Python
    if os.path.exists(system_python) and os.path.realpath(sys.executable) != os.path.realpath(
            system_python):
        os.execv(system_python, [system_python] + sys.argv)
    print(f"skipped: {missing} (install python3-numpy)")
    sys.exit(77)


def main():
    readme, tools, examples = (os.path.abspath(a) for a in sys.argv[1:4])
    text = open(readme, encoding="utf-8").read()
    section = text[text.index("\n## numpy and Python\n") + 1:]
    section = section[:section.index("\n## ")]
    blocks = re.findall(r"```python\n(.*?)```", section, re.S)
    if len(blocks) < 5:
        sys.exit(f"FAILED: {len(blocks)} python blocks in the README's numpy section")
    os.environ["PATH"] = tools + os.pathsep + os.environ.get("PATH", "")
    with tempfile.TemporaryDirectory(prefix="cellprod-readme-") as folder:
        for grid in glob.glob(os.path.join(examples, "*.asc")):
            shutil.copy(grid, folder)
        os.chdir(folder)
        namespace = {}
        for number, block in enumerate(blocks, 1):
            last = [line for line in block.splitlines() if line.strip()][-1]
            if not last.startswith("assert"):
                sys.exit(f"FAILED: block {number} does not end with an assert")
            exec(compile(block, f"README.md python block {number}", "exec"), namespace)
    print(f"{len(blocks)} python blocks of the README ran")


if __name__ == "__main__":
    main()
