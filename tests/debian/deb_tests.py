#!/usr/bin/env python3
"""The Debian package as apt and Linux hosts see it: the files it installs and their modes, its
control fields and the dependencies they declare, lintian's verdict, and the plug-ins of an
unpacked copy of it loaded by the host-level test program (never installed into the machine's
system folders).

Run with the name of one test class; the paths come from the environment that CTest sets."""

import functools
import gzip
import os
import re
import shutil
import subprocess
import sys
import unittest

PACKAGE = os.environ.get("QUILLMERE_DEBIAN_PACKAGE", "")
VERSION = os.environ.get("QUILLMERE_VERSION", "")
PRODUCT = os.environ.get("QUILLMERE_PRODUCT_NAME", "")
MAINTAINER = os.environ.get("QUILLMERE_MAINTAINER", "")
HOMEPAGE = os.environ.get("QUILLMERE_HOMEPAGE", "")
LINTIAN = os.environ.get("QUILLMERE_LINTIAN", "lintian")
UNPACKED = os.environ.get("QUILLMERE_UNPACKED", "")
HOST_TESTS = os.environ.get("QUILLMERE_HOST_TESTS_PROGRAM", "")
XVFB_RUN = os.environ.get("QUILLMERE_XVFB_RUN", "xvfb-run")
RUN_UNDER_X = os.environ.get("QUILLMERE_RUN_UNDER_X", "")

TEST_CLASS = sys.argv[1] if len(sys.argv) > 1 else "all"
NAME = PRODUCT.lower()
DOC = "usr/share/doc/" + NAME

# Every file the package installs, with its mode; folders are checked apart.
EXPECTED_FILES = {
    "usr/bin/%s" % NAME: "-rwxr-xr-x",
    "usr/lib/vst3/%s.vst3/Contents/x86_64-linux/%s.so" % (PRODUCT, PRODUCT): "-rw-r--r--",
    "usr/lib/lv2/%s.lv2/lib%s.so" % (PRODUCT, PRODUCT): "-rw-r--r--",
    "usr/lib/lv2/%s.lv2/manifest.ttl" % PRODUCT: "-rw-r--r--",
    "usr/lib/lv2/%s.lv2/dsp.ttl" % PRODUCT: "-rw-r--r--",
    "usr/lib/lv2/%s.lv2/ui.ttl" % PRODUCT: "-rw-r--r--",
    "usr/lib/vst/%s.so" % PRODUCT: "-rw-r--r--",
    "usr/share/applications/%s.desktop" % NAME: "-rw-r--r--",
    "usr/share/icons/hicolor/256x256/apps/%s.png" % NAME: "-rw-r--r--",
    "usr/share/man/man1/%s.1.gz" % NAME: "-rw-r--r--",
    DOC + "/copyright": "-rw-r--r--",
    DOC + "/changelog.gz": "-rw-r--r--",
    DOC + "/guide.md": "-rw-r--r--",
    **{DOC + "/guide/%s.png" % picture: "-rw-r--r--"
       for picture in ("window", "input-list", "port-absent", "port-back", "mira",
                       "channel-list-held", "shared-strip")},
}


def run(*command, check=True, **arguments):
    return subprocess.run(command, check=check, capture_output=True, text=True, **arguments)


def control_fields():
    fields = {}
    for line in run("dpkg-deb", "-f", PACKAGE).stdout.splitlines():
        match = re.match(r"([\w-]+): (.*)", line)
        if match:
            fields[match.group(1)] = match.group(2)
    return fields


def unpack():
    """A fresh copy of the package's files under the build folder, one for each test class,
    as CTest may run the classes at once."""
    folder = os.path.join(UNPACKED, TEST_CLASS)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    run("dpkg-deb", "-x", PACKAGE, folder)
    return folder


def elf_files(root):
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as file:
                if file.read(4) == b"\x7fELF":
                    yield path


@functools.lru_cache(maxsize=None)
def loader_cache():
    return run("ldconfig", "-p").stdout


def package_of_library(soname):
    """The installed Debian package that holds the shared library the dynamic loader finds
    under that name for this machine's architecture; None if there is none."""
    match = re.search(r"^\s*%s \(libc6,x86-64[^)]*\) => (\S+)$" % re.escape(soname), loader_cache(), re.M)
    if not match:
        return None
    # dpkg knows a file by the path its package gives, under /lib or /usr/lib.
    path = match.group(1)
    for candidate in (path, re.sub(r"^/lib/", "/usr/lib/", path), os.path.realpath(path)):
        found = run("dpkg", "-S", candidate, check=False).stdout
        match = re.match(r"([\w.+-]+)(:\w+)?: ", found)
        if match:
            return match.group(1)
    return None


class FileList(unittest.TestCase):
    def test_installs_exactly_the_listed_files_owned_by_root(self):
        listing = run("dpkg-deb", "-c", PACKAGE).stdout.splitlines()
        files, folders = {}, set()
        for line in listing:
            mode, owner, _size, _date, _time, path = line.split(None, 5)
            path = path[2:] if path.startswith("./") else path
            with self.subTest(path):
                self.assertEqual(owner, "root/root")
            if mode.startswith("d"):
                self.assertEqual(mode, "drwxr-xr-x", path)
                folders.add(path.rstrip("/"))
            else:
                files[path] = mode

        self.assertEqual(files, EXPECTED_FILES)

        # No folder but those that hold the files.
        needed = {"/".join(path.split("/")[:i]) for path in files for i in range(1, path.count("/") + 1)}
        self.assertEqual(folders - {""}, needed)

    def test_binaries_are_stripped(self):
        root = unpack()
        binaries = list(elf_files(root))
        self.assertEqual(len(binaries), 4)
        for binary in binaries:
            with self.subTest(os.path.relpath(binary, root)):
                sections = run("readelf", "-S", "-W", binary).stdout
                self.assertNotIn(".symtab", sections)
                self.assertNotIn(".debug_info", sections)


class Metadata(unittest.TestCase):
    def test_control_fields_carry_the_products_identity(self):
        fields = control_fields()
        expected = {
            "Package": NAME,
            "Version": VERSION,
            "Architecture": run("dpkg", "--print-architecture").stdout.strip(),
            "Maintainer": MAINTAINER,
            "Homepage": HOMEPAGE,
            "Section": "sound",
            "Priority": "optional",
        }
        for name, value in expected.items():
            self.assertEqual(fields.get(name), value, name)
        self.assertGreater(int(fields.get("Installed-Size", "0")), 0)

    def test_declares_every_library_the_binaries_link_or_open(self):
        """Each library a binary links, and each one JUCE opens at run time by its file name
        (found in the binaries' text), comes from a package the control file depends on."""
        depends = {re.match(r"\s*([\w.+-]+)", part).group(1)
                   for part in re.split(r"[,|]", control_fields().get("Depends", ""))}

        root = unpack()
        linked, opened = set(), set()
        for binary in elf_files(root):
            dynamic = run("readelf", "-d", "-W", binary).stdout
            linked.update(re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]", dynamic))
            with open(binary, "rb") as file:
                opened.update(name.decode() for name in re.findall(rb"lib[\w+-]+\.so\.\d+", file.read()))

        self.assertIn("libc.so.6", linked)
        self.assertIn("libX11.so.6", opened)
        for soname in sorted(linked | opened):
            with self.subTest(soname):
                package = package_of_library(soname)
                self.assertIsNotNone(package, "no installed package holds " + soname)
                self.assertIn(package, depends)

    def test_changelog_and_copyright_are_as_debian_expects(self):
        root = unpack()
        with gzip.open(os.path.join(root, DOC, "changelog.gz"), "rt") as file:
            first = file.readline()
        self.assertRegex(first, r"^%s \(%s\) \w+; urgency=\w+$" % (NAME, re.escape(VERSION)))

        with open(os.path.join(root, DOC, "copyright"), encoding="utf-8") as file:
            copyright = file.read()
        self.assertTrue(copyright.startswith("Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"))
        self.assertRegex(copyright, r"\nFiles: \*\nCopyright: [^\n]+\nLicense: GPL-3\n")

    def test_checksums_match_the_files(self):
        root = unpack()
        control = root + ".control"
        shutil.rmtree(control, ignore_errors=True)
        run("dpkg-deb", "-e", PACKAGE, control)
        checked = run("md5sum", "--check", "--strict", os.path.join(control, "md5sums"), cwd=root)
        self.assertEqual(len(checked.stdout.splitlines()), len(EXPECTED_FILES))


class Lintian(unittest.TestCase):
    def test_finds_no_error_and_no_warning(self):
        result = run(LINTIAN, "--fail-on", "error,warning", "--display-info", "--allow-root", PACKAGE, check=False)
        print(result.stdout + result.stderr)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)


class HostedPlugins(unittest.TestCase):
    def test_host_level_tests_pass_with_the_packages_plugins(self):
        self.assertTrue(os.access(HOST_TESTS, os.X_OK), HOST_TESTS + " is missing: build the debug build's QuillmereHostTests")
        root = unpack()
        environment = dict(os.environ,
                           QUILLMERE_VST3_MODULE=os.path.join(root, "usr/lib/vst3/%s.vst3/Contents/x86_64-linux/%s.so" % (PRODUCT, PRODUCT)),
                           QUILLMERE_VST2_MODULE=os.path.join(root, "usr/lib/vst/%s.so" % PRODUCT),
                           QUILLMERE_LV2_BUNDLE=os.path.join(root, "usr/lib/lv2/%s.lv2" % PRODUCT))
        for variable in ("QUILLMERE_VST3_MODULE", "QUILLMERE_VST2_MODULE", "QUILLMERE_LV2_BUNDLE"):
            self.assertTrue(os.path.exists(environment[variable]), environment[variable])

        # The cases that load the plug-ins through each interface and through JUCE's hosting
        # classes, those with an open editor too (on a virtual X server).
        selection = "--gtest_filter=Vst3InterfaceTest.*:Vst2InterfaceTest.*:Lv2InterfaceTest.*:Formats/Hosted*"
        listing = run(HOST_TESTS, "--gtest_list_tests", selection, env=environment).stdout
        cases = len(re.findall(r"^  \w", listing, re.M))
        self.assertGreater(cases, 0)

        result = run(XVFB_RUN, "-a", "-s", "-screen 0 1280x1024x24", RUN_UNDER_X, HOST_TESTS, selection,
                     env=environment, check=False, timeout=540)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

        # Every case ran: passed, or skipped where the test itself says why.
        passed = re.search(r"^\[  PASSED  \] (\d+) tests?\.$", result.stdout, re.M)
        skipped = re.search(r"^\[  SKIPPED \] (\d+) tests?,", result.stdout, re.M)
        self.assertIsNotNone(passed, result.stdout)
        self.assertEqual(int(passed.group(1)) + (int(skipped.group(1)) if skipped else 0), cases)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[1:])
