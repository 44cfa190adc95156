#!/usr/bin/env python3
"""Checks that the manual page renders without warnings and that its EXIT
STATUS section lists the same statuses and messages as the README's table.

    docs_test.py GROFF README.md pellucor.1
"""
import re
import subprocess
import sys

groff, readme_path, man_path = sys.argv[1:4]

render = subprocess.run([groff, "-man", "-Tutf8", "-ww", "-rHY=0", "-P-cbou", man_path],
                        capture_output=True, text=True, check=True)
failures = [f"groff: {line}" for line in render.stderr.splitlines()]

# The README's placeholders are the manual's italic arguments.
PLACEHOLDERS = {"PATTERN": "pattern", "OUTPUT": "output", "WIDTH": "width", "HEIGHT": "height", "FRAME": "frame",
                "OPTION": "option", "FORMAT": "format"}
readme_rows = re.findall(r"^\| (\d) \| `([^`]+)` \|", open(readme_path).read(), re.MULTILINE)
if len(readme_rows) < 10:
    failures.append(f"README: found only {len(readme_rows)} exit status rows")

section = render.stdout.split("EXIT STATUS", 1)[-1].split("EXAMPLES", 1)[0]
entries = re.findall(r"^ {7}(\d) {6}(.*?)(?=^ {7}\S)", section + "       .", re.MULTILINE | re.DOTALL)
man_rows = [(status, " ".join(text.split()).split(" \u2014 ")[0]) for status, text in entries]

expected = []
for status, message in readme_rows:
    for word, argument in PLACEHOLDERS.items():
        message = message.replace(word, argument)
    expected.append((status, message))
if man_rows != expected:
    failures.append("EXIT STATUS differs from the README:")
    failures += [f"  README {e!r}\n  man    {m!r}" for e, m in zip(expected, man_rows) if e != m]
    if len(man_rows) != len(expected):
        failures.append(f"  {len(expected)} README rows, {len(man_rows)} manual entries")

print("\n".join(failures) if failures else f"{len(expected)} exit statuses match")
print(f"{0 if failures else 1} passed, {len(failures) and 1} failed")
sys.exit(1 if failures else 0)
