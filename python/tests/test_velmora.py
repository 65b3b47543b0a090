"""The Python package, against the library VELMORA_LIBRARY names (ctest's python_test) or
the one an installed wheel carries. VELMORA_TEST_DATA names tests/data, by default found
from this file's place in the source tree."""

import errno
import faulthandler
import os
import pathlib
import pickle
import tempfile
import threading
import unittest

import velmora

DATA = pathlib.Path(os.environ.get(
    "VELMORA_TEST_DATA", pathlib.Path(__file__).resolve().parents[2] / "tests" / "data"))

EXAMPLE = b"<dl><dt>Title</dt><dd>Value</dd></dl>"
EXAMPLE_TEXT = b"\r\n  Title\r\n    Value"
# What the window's progress bar is fed for EXAMPLE.
EXAMPLE_PROGRESS = [(4, 28), (13, 28), (12, 28), (23, 28), (28, 28)]
REFUSED = b"<!-- ZOAK metadata report generated --><dl><dt>A</dt></dl>"
REFUSAL = "ZOAK Metadata Generated HTML Reports Not Supported"
ENTRY = b"<dt>Term</dt><dd>A value of some length</dd>"
ENTRY_TEXT = b"\r\n  Term\r\n    A value of some length"


def document(entries):
    return b"<dl>" + ENTRY * entries + b"</dl>"


class Stop(Exception):
    pass


class InFolder(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory(prefix="velmora-python-")
        self.addCleanup(folder.cleanup)
        self.folder = pathlib.Path(folder.name)

    def file(self, name, data):
        (self.folder / name).write_bytes(data)
        return self.folder / name


class ConversionTest(InFolder):
    def test_file_to_file(self):
        source = self.file("roads_report.html", (DATA / "roads_report.html").read_bytes())
        expected = (DATA / "roads_report.txt").read_bytes()
        for output, written in ((None, str(self.folder / "roads_report.txt")),
                                (self.folder / "named.text", str(self.folder / "named.text")),
                                (b"%s/b.txt" % bytes(self.folder), b"%s/b.txt" % bytes(self.folder))):
            with self.subTest(output=output):
                self.assertEqual(velmora.convert_file(source, output), written)
                self.assertEqual(pathlib.Path(os.fsdecode(written)).read_bytes(), expected)

    def test_memory_to_callback_in_pieces(self):
        # 300 KB gives several pieces on the calling thread; past a few megabytes, with
        # progress shown, they come from the library's second thread, which assembles the
        # text as it goes; without, the text is handed over on the calling thread at the end.
        for entries, progress, own_thread in ((7000, None, True), (120000, None, True),
                                              (120000, lambda value, maximum: None, False)):
            with self.subTest(entries=entries, progress=progress is not None):
                pieces, threads = [], set()

                def take(piece):
                    threads.add(threading.get_ident())
                    pieces.append(piece)

                count = velmora.convert_stream(document(entries), take, progress=progress)
                self.assertGreater(len(pieces), 1)
                self.assertEqual(b"".join(pieces), ENTRY_TEXT * entries)
                self.assertEqual(count, len(ENTRY_TEXT) * entries)
                self.assertEqual(threads == {threading.get_ident()}, own_thread)

    def test_progress_is_the_windows(self):
        for convert in (velmora.convert, lambda data, progress: velmora.convert_file(
                self.file("in.html", data), progress=progress)):
            seen = []
            convert(EXAMPLE, progress=lambda value, maximum: seen.append((value, maximum)))
            self.assertEqual(seen, EXAMPLE_PROGRESS)

    def test_refused_and_empty(self):
        for data, kind, message in ((REFUSED, velmora.RefusedError, REFUSAL),
                                     (b"", velmora.EmptyInputError, None)):
            with self.subTest(kind=kind.__name__):
                with self.assertRaises(kind) as caught:
                    velmora.convert(data)
                self.assertIsInstance(caught.exception, velmora.VelmoraError)
                self.assertEqual(caught.exception.outcome, kind.outcome)
                if message:
                    self.assertEqual(str(caught.exception), message)
                source = self.file("in.html", data)
                with self.assertRaises(kind) as caught:
                    velmora.convert_file(source)
                self.assertEqual(caught.exception.filename, str(source))
                self.assertEqual(os.listdir(self.folder), ["in.html"])


class FailureTest(InFolder):
    def failure(self, kind, *arguments, **options):
        with self.assertRaises(kind) as caught:
            velmora.convert_file(*arguments, **options)
        return caught.exception

    def test_files_raise_oserror(self):
        source = self.file("in.html", EXAMPLE)
        missing = str(self.folder / "missing.html")
        nowhere = str(self.folder / "nowhere" / "out.txt")
        self.file("in.txt", b"kept")

        def change(value, maximum):
            source.write_bytes(EXAMPLE[:-5])

        rows = (
            ((missing,), {}, velmora.FailureCode.READ, errno.ENOENT, missing, "cannot read"),
            ((source, nowhere), {}, velmora.FailureCode.WRITE, errno.ENOENT, nowhere,
             "cannot write"),
            ((source,), {"progress": change}, velmora.FailureCode.CHANGED, 0, str(source),
             "changed while it was being converted"),
        )
        for arguments, options, code, number, filename, words in rows:
            with self.subTest(code=code.name):
                error = self.failure(OSError, *arguments, **options)
                self.assertIsInstance(error, velmora.FileError)
                self.assertEqual((error.code, error.errno, error.filename),
                                 (code, number, filename))
                self.assertEqual(error.strerror, str(error))
                self.assertIn(words, str(error))
                copy = pickle.loads(pickle.dumps(error))
                self.assertEqual((type(copy), copy.errno, copy.strerror, copy.filename,
                                  copy.code), (type(error), number, str(error), filename, code))
                self.assertEqual((self.folder / "in.txt").read_bytes(), b"kept")
        # A relative name comes back as given.
        self.addCleanup(os.chdir, os.getcwd())
        os.chdir(self.folder)
        self.assertEqual(self.failure(OSError, "missing.html").filename, "missing.html")

    def test_usage(self):
        source = self.file("in.html", EXAMPLE)
        for output in (source, self.folder / "." / "in.html"):
            error = self.failure(velmora.ConversionError, source, output)
            self.assertEqual(error.code, velmora.FailureCode.USAGE)
            self.assertNotIsInstance(error, OSError)
        self.assertEqual(source.read_bytes(), EXAMPLE)

    def test_stopped_by_a_callback(self):
        # Raising in a callback stops the conversion and comes out as it was raised, at
        # the first progress call or the last, and the output is left as it was.
        source = self.file("in.html", EXAMPLE)
        self.file("in.txt", b"the earlier text")
        for when, raised in ((4, KeyboardInterrupt), (28, Stop)):
            def progress(value, maximum):
                if value == when:
                    raise raised

            with self.subTest(when=when), self.assertRaises(raised):
                velmora.convert_file(source, progress=progress)
            self.assertEqual((self.folder / "in.txt").read_bytes(), b"the earlier text")
        written = []

        def write(piece):
            written.append(piece)
            raise Stop

        with self.assertRaises(Stop):
            velmora.convert_stream(document(120000), write)
        self.assertEqual(len(written), 1)
        self.assertEqual(velmora.convert(EXAMPLE), EXAMPLE_TEXT)


class ThreadsTest(InFolder):
    def test_two_at_once(self):
        # Each conversion waits in its first progress call until the other has reached
        # its own: they finish only if both run at the same time.
        meet = threading.Barrier(2, timeout=10)
        results, errors = {}, []

        def work(entries):
            met = []

            def progress(value, maximum):
                if not met:
                    met.append(meet.wait())

            try:
                results[entries] = velmora.convert(document(entries), progress=progress)
            except BaseException as error:
                errors.append(error)

        threads = [threading.Thread(target=work, args=(n,)) for n in (3000, 4000)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(errors, [])
        self.assertEqual((results[3000], results[4000]), (ENTRY_TEXT * 3000, ENTRY_TEXT * 4000))

    @unittest.skipUnless(hasattr(os, "mkfifo"), "FIFOs are POSIX's")
    def test_the_interpreter_lock_is_let_go(self):
        # The library blocks reading a FIFO that only another Python thread fills.
        fifo = self.folder / "pipe.html"
        os.mkfifo(fifo)
        feeder = threading.Thread(target=fifo.write_bytes, args=(document(100),))
        feeder.start()
        # Held, the lock would hang both threads: end the process instead.
        faulthandler.dump_traceback_later(60, exit=True)
        try:
            velmora.convert_file(fifo, self.folder / "out.txt")
        finally:
            faulthandler.cancel_dump_traceback_later()
        feeder.join()
        self.assertEqual((self.folder / "out.txt").read_bytes(), ENTRY_TEXT * 100)
