#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the docs against the code: the manual page renders without
warnings; every option, word format and exit status is in both the manual
page and the help text (taken from the driver's sources, so that a cross
build checks it too) and every format and status in the README; every
failure message of the driver is in the manual page's EXIT STATUS; the
README's links resolve.

    docs_test.py GROFF README.md pellucor.1 word_format.h SOURCE...
"""
import os
import re
import subprocess
import sys

groff, readme_path, man_path, formats_path = sys.argv[1:5]
source_paths = sys.argv[5:]
failures = []

render = subprocess.run([groff, "-man", "-Tutf8", "-ww", "-rHY=0", "-P-cbou", man_path],
                        capture_output=True, text=True, check=True)
failures += [f"groff: {line}" for line in render.stderr.splitlines()]
man = render.stdout


def section(name):
    """The rendered text of one section of the manual page."""
    match = re.search(rf"^{name}\n(.*?)(?=^[A-Z][A-Z ]+\n|\Z)", man, re.MULTILINE | re.DOTALL)
    # A line may break after a hyphen: join the word again.
    return " ".join(re.sub(r"-\n\s+", "-", match.group(1)).split()) if match else ""


source = "\n".join(open(path).read() for path in source_paths)


def help_lines(array):
    match = re.search(rf"{array}\[\] = \{{(.*?)\}};", source, re.DOTALL)
    return re.findall(r'"((?:[^"\\]|\\.)*)"', match.group(1)) if match else []


help_text = "\n".join(help_lines("OPTION_HELP") + help_lines("FORMAT_HELP") + help_lines("EXIT_HELP") +
                      help_lines("INSPECTION_HELP"))
readme = open(readme_path).read()

options = set(re.findall(r'\{"(--?[a-z-]+)"', source)) | set(re.findall(r'_OPTION = "(--[a-z-]+)"', source))
if len(options) < 6:
    failures.append(f"driver sources: found only the options {sorted(options)}")
for option in sorted(options):
    if not re.search(rf"(^|[ ,]){re.escape(option)}\b", help_text, re.MULTILINE):
        failures.append(f"help text: no line for option {option}")
    if option not in section("OPTIONS"):
        failures.append(f"manual page: OPTIONS has no {option}")

formats = re.findall(r'\{"([a-z0-9]+)", (?:true|false)', open(formats_path).read())
if len(formats) != 8:
    failures.append(f"word_format.h: found {len(formats)} formats")
for word_format in formats:
    for where, text in (("help text", help_text), ("manual page's WORD FORMATS", section("WORD FORMATS")),
                        ("README", readme)):
        if word_format not in text:
            failures.append(f"{where}: no format {word_format}")

statuses = sorted(set(re.findall(r"constexpr int EXIT_\w+ = (\d);", source)) | {"0"})
for status in statuses:
    if not re.search(rf"^  {status}  ", help_text, re.MULTILINE):
        failures.append(f"help text: no exit status {status}")
    if not re.search(rf"^ {{7}}{status} {{6}}", man.split("EXIT STATUS", 1)[-1], re.MULTILINE):
        failures.append(f"manual page: EXIT STATUS has no {status}")
    if not re.search(rf"^\| {status} \|", readme, re.MULTILINE):
        failures.append(f"README: the exit status table has no {status}")

# Each failure message: its words between the placeholders, in EXIT STATUS.
exit_section = section("EXIT STATUS")
messages = re.findall(r'(?:fail\(|refuse\(\w+,\s*)EXIT_\w+,\s*"((?:[^"\\]|\\.)*)"', source)
messages += re.findall(r'"((?:Unknown|Missing)[^"]*)"', source)
for message in messages:
    for words in re.split(r"%[a-z]|\\n|\(formats:.*", message):
        words = words.strip()
        if words and words not in exit_section:
            failures.append(f"manual page: EXIT STATUS lacks {words!r} (from {message!r})")

# The README's relative links, and their anchors in Markdown files.
for target in re.findall(r"\]\(([^)]+)\)", readme):
    if "://" in target:
        continue
    path, _, anchor = target.partition("#")
    full = os.path.join(os.path.dirname(readme_path), path)
    if not os.path.exists(full):
        failures.append(f"README: link {target} names no file")
    elif anchor:
        headings = re.findall(r"^#+ (.*)$", open(full).read(), re.MULTILINE)
        slugs = {re.sub(r"[^a-z0-9 -]", "", h.lower()).replace(" ", "-") for h in headings}
        if anchor not in slugs:
            failures.append(f"README: link {target} names no heading")

print("\n".join(failures) if failures else
      f"{len(options)} options, {len(formats)} formats, {len(statuses)} exit statuses, "
      f"{len(messages)} messages and the README's links check out")
print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
