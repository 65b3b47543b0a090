"""The example that converts a collection across processes with dask.bag, on a small
collection. Skipped where Dask is not installed."""

import contextlib
import importlib.util
import io
import os
import pathlib
import sys
import tempfile
import unittest

import velmora

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"
DOCUMENT = b"<dl><dt>Title</dt><dd>Value</dd></dl>"


@unittest.skipUnless(importlib.util.find_spec("dask"), "Dask is not installed")
class CollectionTest(unittest.TestCase):
    def test_a_small_collection(self):
        # The worker processes import the example by its name, as this one does.
        sys.path.insert(0, str(EXAMPLES))
        self.addCleanup(sys.path.remove, str(EXAMPLES))
        import convert_collection

        temporary = tempfile.TemporaryDirectory(prefix="velmora-collection-")
        self.addCleanup(temporary.cleanup)
        folder = pathlib.Path(temporary.name)
        (folder / "deeper").mkdir()
        files = {"a.html": DOCUMENT, "B.HTM": DOCUMENT * 2, "deeper/c.html": DOCUMENT,
                 "refused.html": b"<!-- ZOAK metadata report generated --><dl></dl>",
                 "empty.htm": b"", "notes.md": DOCUMENT}
        for name, data in files.items():
            (folder / name).write_bytes(data)
        os.symlink(folder / "gone.html", folder / "broken.html")

        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status = convert_collection.main([str(folder), "--workers", "2"])
        self.assertEqual(status, 1)
        lines = out.getvalue().splitlines()
        self.assertEqual(lines[0], "3 converted, 1 refused, 1 empty, 1 failed")
        self.assertEqual([line.split(": ")[:2] for line in lines[1:]],
                         [[str(folder / "broken.html"), "failed"],
                          [str(folder / "empty.htm"), "empty"],
                          [str(folder / "refused.html"), "refused"]])
        self.assertIn("No such file or directory", lines[1])
        text = velmora.convert(DOCUMENT)
        for name, expected in (("a.txt", text), ("B.txt", velmora.convert(DOCUMENT * 2)),
                               ("deeper/c.txt", text)):
            self.assertEqual((folder / name).read_bytes(), expected)
        self.assertFalse(any((folder / name).exists()
                             for name in ("refused.txt", "empty.txt", "notes.txt")))
