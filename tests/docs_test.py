#!/usr/bin/env python3
"""The outputs quoted in README.md and docs/*.md against the built tools.

    tests/docs_test.py --moody P --convergence P --study P

First `scripts/docs --check` on the project's pages: every quoted block must
be what the tools print.  Then the check itself: on a copy of the pages
with one digit of the example's grid study changed, `scripts/docs --check
--only example-grid` must fail and name the page and the block.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for tool in ("moody", "convergence", "study"):
        parser.add_argument(f"--{tool}", required=True)
    args = parser.parse_args()
    docs = [sys.executable, os.path.join(TOP, "scripts", "docs"), "--check",
            "--moody", args.moody, "--convergence", args.convergence, "--study", args.study]
    failed = 0

    if subprocess.run(docs, check=False).returncode != 0:
        print("FAILED: a quoted block differs from the tools' output (above)")
        failed += 1

    scratch = tempfile.mkdtemp(prefix="docs_test.")
    try:
        shutil.copy(os.path.join(TOP, "README.md"), scratch)
        shutil.copytree(os.path.join(TOP, "docs"), os.path.join(scratch, "docs"))
        page = os.path.join(scratch, "docs", "grid-study.md")
        with open(page, encoding="utf-8") as f:
            text = f.read()
        start = text.index("<!-- output: example-grid -->")
        digit = re.compile(r"\d").search(text, text.index("\n    52 ", start) + 7)
        tampered = str((int(digit.group()) + 1) % 10)
        with open(page, "w", encoding="utf-8") as f:
            f.write(text[:digit.start()] + tampered + text[digit.end():])
        proc = subprocess.run(docs + ["--root", scratch, "--only", "example-grid"],
                              capture_output=True, text=True, check=False)
        named = "docs/grid-study.md: block example-grid differs" in proc.stderr
        if proc.returncode != 1 or not named:
            print("FAILED: a tampered quote was not caught, or not named:\n" + proc.stderr)
            failed += 1
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    print(f"{2 - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
