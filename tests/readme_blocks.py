"""Checks the code blocks of the README and docs/: each C block compiles against fast.h, as a
fragment inside a function unless it is a whole program, and each Python block runs on the
example reads, in a folder of its own.

python3 readme_blocks.py --cc CC --include DIR --examples DIR FILE.md...
(PYTHONPATH must import fastreads.)"""

import argparse
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

FENCE = re.compile(r"^```(\w*)\s*$")

# The helpers the fragments call, standing for the reader's own code.
C_PRELUDE = """#include <stdio.h>
#include <stdlib.h>
#include "fast.h"
void use(const SeqEntry *entry);
void use_pair(const SeqEntry *first, const SeqEntry *second);
void trim(SeqEntry *entry);
int fragment(void);
int fragment(void) {
"""


def blocks(path):
    """Yields (language, first line number, text) for each fenced block of a Markdown file."""
    language, start, body = None, 0, []
    with open(path, encoding="utf-8") as handle:
        for number, line in enumerate(handle, 1):
            match = FENCE.match(line)
            if language is None and match:
                language, start, body = match.group(1), number + 1, []
            elif language is not None and line.rstrip() == "```":
                yield language, start, "".join(body)
                language = None
            elif language is not None:
                body.append(line)
    if language is not None:
        raise SystemExit(f"{path}:{start - 1}: a code block is not closed")


def compile_c(options, path, line, text, work):
    whole = "#include" in text or re.search(r"\bmain\s*\(", text)
    source = os.path.join(work, f"block{line}.c")
    with open(source, "w", encoding="utf-8") as out:
        if whole:
            out.write(f'#line {line} "{path}"\n{text}')
        else:
            out.write(f'{C_PRELUDE}#line {line} "{path}"\n{text}    return 0;\n}}\n')
    command = [options.cc, "-std=c11", "-Wall", "-Wextra", "-Wpedantic", "-Werror",
               "-fsyntax-only", "-I", options.include, source]
    result = subprocess.run(command, capture_output=True, text=True, check=False)
    return result.returncode == 0, result.stdout + result.stderr


def run_python(path, line, text, work):
    folder = tempfile.mkdtemp(prefix=f"block{line}-", dir=work)
    for name in os.listdir(os.path.join(work, "reads")):
        shutil.copy(os.path.join(work, "reads", name), folder)
    code = "\n" * (line - 1) + text  # tracebacks give the line in the Markdown file
    result = subprocess.run([sys.executable, "-c", code], cwd=folder, capture_output=True,
                            text=True, check=False)
    return result.returncode == 0, f"{path}:\n{result.stdout}{result.stderr}"


def example_reads(examples, folder):
    """The files the blocks read, all made from examples/reads.fq: reads.fq and its gzip
    copies reads.fq.gz, r1.fq.gz, r2.fq.gz and i1.fq.gz, and interleaved.fq, each entry twice."""
    os.makedirs(folder)
    with open(os.path.join(examples, "reads.fq"), "rb") as handle:
        text = handle.read()
    with open(os.path.join(folder, "reads.fq"), "wb") as out:
        out.write(text)
    for name in ("reads.fq.gz", "r1.fq.gz", "r2.fq.gz", "i1.fq.gz"):
        with gzip.open(os.path.join(folder, name), "wb") as out:
            out.write(text)
    # Each entry twice in turn: the mates of interleaved pairs.
    entries = [text.split(b"\n")[k:k + 4] for k in range(0, text.count(b"\n"), 4)]
    with open(os.path.join(folder, "interleaved.fq"), "wb") as out:
        out.write(b"".join(b"\n".join(e) + b"\n" for e in entries for _ in range(2)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cc", required=True)
    parser.add_argument("--include", required=True)
    parser.add_argument("--examples", required=True)
    parser.add_argument("files", nargs="+")
    options = parser.parse_args()
    checked, failures = {"c": 0, "python": 0}, []
    with tempfile.TemporaryDirectory() as work:
        example_reads(options.examples, os.path.join(work, "reads"))
        for path in options.files:
            for language, line, text in blocks(path):
                if language == "c":
                    ok, output = compile_c(options, path, line, text, work)
                elif language == "python":
                    ok, output = run_python(path, line, text, work)
                else:
                    continue
                checked[language] += 1
                if not ok:
                    failures.append(f"{path}:{line}: the {language} block fails\n{output}")
    for failure in failures:
        print(failure)
    print(f"{checked['c']} C blocks, {checked['python']} Python blocks, {len(failures)} failed")
    if not checked["c"] or not checked["python"]:
        print("no C or no Python block was found: the files are not what this test expects")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
