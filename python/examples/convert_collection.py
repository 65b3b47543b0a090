#!/usr/bin/env python3
"""Converts every HTML document under a folder, spread over worker processes by Dask.

    python3 convert_collection.py FOLDER [--workers N]

Each .html or .htm file under FOLDER gets its text beside it, as velmora-convert names
it (report.html gives report.txt). dask.bag hands the files out to worker processes; a
file that is refused, empty or fails is noted and the others go on. A summary ends the
run: how many files had each outcome, then every file that was not converted and why.
The exit status is 1 when any failed, else 0.

Needs Dask (Debian's python3-dask) besides velmora. From another program:

    import convert_collection
    for path, outcome, detail in convert_collection.convert_collection("reports"):
        ...
"""

from __future__ import annotations

import argparse
import collections
import os
import sys
from typing import List, Optional, TextIO, Tuple

import dask.bag

import velmora

#: The names of the files converted, in any case.
SUFFIXES = (".html", ".htm")

#: The outcomes, in the order the summary gives them.
OUTCOMES = ("converted", "refused", "empty", "failed")

#: (input path, outcome, the output's path or why there is none)
Result = Tuple[str, str, str]


def find_documents(folder: str) -> List[str]:
    """Every .html and .htm file under `folder`, in the order of their paths."""
    found = []
    for directory, subdirectories, files in os.walk(folder):
        found += [os.path.join(directory, name) for name in files
                  if name.lower().endswith(SUFFIXES)]
    return sorted(found)


def convert_one(path: str) -> Result:
    """Converts one file beside itself; what happened comes back instead of an exception,
    so that one file does not end the run."""
    try:
        return path, "converted", velmora.convert_file(path)
    except velmora.RefusedError as error:
        return path, "refused", str(error)
    except velmora.EmptyInputError as error:
        return path, "empty", str(error)
    except (velmora.ConversionError, OSError) as error:  # FileError is both
        return path, "failed", str(error)


def convert_collection(folder: str, workers: Optional[int] = None,
                       scheduler: str = "processes") -> List[Result]:
    """Converts every document under `folder` on `workers` processes (one per processor
    by default) and returns each file's Result, in the order of their paths."""
    paths = find_documents(folder)
    if not paths:
        return []
    # A few partitions per worker, so that one slow file holds up little else.
    partitions = min(len(paths), 4 * (workers or os.cpu_count() or 1))
    bag = dask.bag.from_sequence(paths, npartitions=partitions)
    return list(bag.map(convert_one).compute(scheduler=scheduler, num_workers=workers))


def summarize(results: List[Result], out: Optional[TextIO] = None) -> None:
    """Prints the count of each outcome, then each file not converted and why, to `out`
    (standard output by default)."""
    out = out or sys.stdout
    counts = collections.Counter(outcome for _, outcome, _ in results)
    print(", ".join("%d %s" % (counts[outcome], outcome) for outcome in OUTCOMES), file=out)
    for path, outcome, detail in results:
        if outcome != "converted":
            print("%s: %s: %s" % (path, outcome, detail), file=out)


def main(argv: Optional[List[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", help="the folder whose documents are converted")
    parser.add_argument("--workers", type=int, help="worker processes (one per processor)")
    arguments = parser.parse_args(argv)
    if not os.path.isdir(arguments.folder):
        parser.error("%s is not a folder" % arguments.folder)
    results = convert_collection(arguments.folder, arguments.workers)
    summarize(results)
    return 1 if any(outcome == "failed" for _, outcome, _ in results) else 0


if __name__ == "__main__":
    sys.exit(main())
