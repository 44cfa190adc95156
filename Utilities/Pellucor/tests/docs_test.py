#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Checks the docs against the code: the manual page renders without
warnings; every option, word format and exit status is in both the manual
page and the help text (taken from the driver's sources, so that a cross
build checks it too) and every format and status in the README; every
failure message of the driver is in the manual page's EXIT STATUS; the
links of the README and the guide resolve, the guide's within its folder,
as installed; every example that converts frames, in the README, the guide
and the manual page, names its word format, and FFmpeg, where it makes the
frames, makes those of the range.

    docs_test.py GROFF README.md guide.md pellucor.1 word_format.h SOURCE...
"""
import os
import re
import shlex
import subprocess
import sys

groff, readme_path, guide_path, man_path, formats_path = sys.argv[1:6]
source_paths = sys.argv[6:]
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

# Relative links, and their anchors in Markdown files. The guide is
# installed with plv.md and its picture beside it, and nothing else of the
# source tree: its links stay in its folder.
guide = open(guide_path).read()
for where, path_of_text, text, in_folder in (("README", readme_path, readme, False),
                                             ("guide", guide_path, guide, True)):
    for target in re.findall(r"\]\(([^)]+)\)", text):
        if "://" in target:
            continue
        path, _, anchor = target.partition("#")
        full = os.path.join(os.path.dirname(path_of_text), path) if path else path_of_text
        if not os.path.exists(full):
            failures.append(f"{where}: link {target} names no file")
        elif in_folder and os.path.dirname(path):
            failures.append(f"{where}: link {target} leaves the folder that is installed")
        elif anchor:
            headings = re.findall(r"^#+ (.*)$", open(full).read(), re.MULTILINE)
            slugs = {re.sub(r"[^a-z0-9 -]", "", h.lower()).replace(" ", "-") for h in headings}
            if anchor not in slugs:
                failures.append(f"{where}: link {target} names no heading")


# The example commands, a list of lines for each example: in Markdown the
# lines indented four spaces, in the manual page's EXAMPLES the bold lines
# between paragraph breaks.
def markdown_examples(text):
    return [block.splitlines() for block in re.findall(r"(?:^    \S.*\n)+", text, re.MULTILINE)]


def man_examples(source):
    examples = source.split(".SH EXAMPLES", 1)[-1].split("\n.SH ", 1)[0]
    unescape = (("\\-", "-"), ("\\(aq", "'"), ("\\(dq", '"'))
    blocks = []
    for block in examples.split("\n.PP\n"):
        lines = [line[3:] for line in block.splitlines() if line.startswith(".B ")]
        for escape, character in unescape:
            lines = [line.replace(escape, character) for line in lines]
        blocks.append(lines)
    return blocks


def commands(line):
    """The simple commands of a shell line, each as its words, quotes taken off."""
    lexer = shlex.shlex(line, posix=False, punctuation_chars=";&|")
    lexer.whitespace_split = True
    found = [[]]
    for word in lexer:
        if word in (";", "&&", "||", "|"):
            found.append([])
        else:
            found[-1].append(word[1:-1] if len(word) > 1 and word[0] == word[-1] and word[0] in "'\"" else word)
    return [words for words in found if words]


def option_value(words, name):
    for index, word in enumerate(words):
        if word == name and index + 1 < len(words):
            return words[index + 1]
        if word.startswith(name + "="):
            return word[len(name) + 1:]
    return None


def expand(pattern, number):
    try:
        return pattern % int(number)
    except (TypeError, ValueError):
        return None


# A pellucor command converts frames when it ends in the six arguments, the
# last four numbers; it names its format with --format, or with both
# --color-format and --gray-format. FFmpeg numbers the frames it writes from
# -start_number (1), as many as -frames:v; a name without a conversion is
# one frame.
INSPECTION = {"--to-png", "--info", "--help", "-h", "--version"}
for where, examples, least in (("README", markdown_examples(readme), 4), ("guide", markdown_examples(guide), 8),
                               ("manual page's EXAMPLES", man_examples(open(man_path).read()), 4)):
    conversions = 0
    for lines in examples:
        runs, makers = [], []
        for line in lines:
            for words in commands(line):
                program = re.split(r"[/\\]", words[0])[-1]
                if program in ("pellucor", "pellucor.exe") and len(words) >= 7 and not INSPECTION & set(words) \
                        and all(re.fullmatch(r"-?\d+", word) for word in words[-4:]):
                    conversions += 1
                    runs.append(words)
                    named = option_value(words, "--format") or (option_value(words, "--color-format") and
                                                                option_value(words, "--gray-format"))
                    if not named:
                        failures.append(f"{where}: {line.strip()!r} names no word format")
                elif program == "ffmpeg" and re.search(r"\.(png|tga|jpe?g)$", words[-1], re.IGNORECASE):
                    makers.append((line.strip(), words))
        for line, words in makers:
            made = words[-1]
            numbered = re.search(r"%0?\d*d", made) is not None
            readers = [run for run in runs if run[-6] == made or not numbered and expand(run[-6], run[-4]) == made]
            if not readers:
                if numbered:
                    failures.append(f"{where}: {line!r} makes frames that no pellucor line beside it reads")
                continue
            count = option_value(words, "-frames:v") or option_value(words, "-vframes")
            start = int(option_value(words, "-start_number") or 1) if numbered else None
            for run in readers:
                first, last = int(run[-4]), int(run[-3])
                if not numbered and first != last:
                    failures.append(f"{where}: {line!r} makes one frame, not frames {first} to {last}")
                elif not numbered and count != "1":
                    failures.append(f"{where}: {line!r} makes one frame, with -frames:v 1")
                elif numbered and (count != str(last - first + 1) or start != first):
                    failures.append(f"{where}: {line!r} does not make frames {first} to {last} "
                                    f"(-frames:v {last - first + 1}{'' if first == 1 else f' -start_number {first}'})")
    if conversions < least:
        failures.append(f"{where}: found only {conversions} example conversions")

print("\n".join(failures) if failures else
      f"{len(options)} options, {len(formats)} formats, {len(statuses)} exit statuses, "
      f"{len(messages)} messages, the links and the examples check out")
print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
