#!/usr/bin/env python3
"""Checks Quillmere.dll as Windows and its hosts read the file: the exported entry points, the
DLLs it imports, its version resource and its manifest. The file is read with the MinGW
binutils: objdump for the export and import tables, windres to decompile the resources.

Run with the name of one check class (Exports, Imports, VersionResource, Manifest, Vst3Bundle);
the paths come from the environment that CTest sets."""

import os
import re
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree

MODULE = os.environ.get("QUILLMERE_MODULE", "")
VST3_BUNDLE_BINARY = os.environ.get("QUILLMERE_VST3_BUNDLE_BINARY", "")
OBJDUMP = os.environ.get("QUILLMERE_OBJDUMP", "x86_64-w64-mingw32-objdump")
WINDRES = os.environ.get("QUILLMERE_WINDRES", "x86_64-w64-mingw32-windres")

# DLLs that every 64-bit Windows has. Anything else (the MinGW runtime's libstdc++-6.dll,
# libgcc_s_seh-1.dll, libwinpthread-1.dll, or zlib1.dll, libpng16.dll...) would have to be
# shipped beside the module, and hosts would not find it.
SYSTEM_DLLS = {
    "advapi32.dll", "comdlg32.dll", "dxgi.dll", "gdi32.dll", "imm32.dll", "kernel32.dll",
    "msvcrt.dll", "ole32.dll", "oleaut32.dll", "rpcrt4.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "version.dll", "wininet.dll", "winmm.dll", "ws2_32.dll", "wsock32.dll",
}


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def read_private_headers():
    return run(OBJDUMP, "-p", MODULE)


def read_exports(headers):
    """The exported names, each with the address it exports."""
    addresses = {}
    table = re.search(r"Export Address Table -- Ordinal Base \d+\n(.*?)\n\n", headers, re.S)
    for line in table.group(1).splitlines() if table else []:
        match = re.match(r"\s*\[\s*(\d+)\]\s*\+base\[\s*\d+\]\s*([0-9a-f]+)", line)
        if match:
            addresses[int(match.group(1))] = int(match.group(2), 16)

    exports = {}
    names = re.search(r"\[Ordinal/Name Pointer\] Table\n(.*?)(\n\n|\Z)", headers, re.S)
    for line in names.group(1).splitlines() if names else []:
        match = re.match(r"\s*\[\s*(\d+)\]\s*(\S+)", line)
        if match:
            exports[match.group(2)] = addresses.get(int(match.group(1)))
    return exports


def read_resources():
    return run(WINDRES, "-i", MODULE, "-O", "rc")


def resource_block(resources, type_name, name):
    """The text of one decompiled resource, from its header line to its outermost END."""
    match = re.search(rf"^{name} {type_name}\b.*?^END$", resources, re.S | re.M)
    return match.group(0) if match else ""


class Exports(unittest.TestCase):
    def setUp(self):
        self.exports = read_exports(read_private_headers())

    def test_exports_exactly_the_vst2_and_vst3_entry_points(self):
        self.assertEqual(sorted(self.exports),
                         sorted(["VSTPluginMain", "main", "GetPluginFactory", "InitDll", "ExitDll"]))

    def test_each_pair_of_names_exports_one_function(self):
        for name, alias in (("VSTPluginMain", "main"), ("InitDll", "ExitDll")):
            with self.subTest(name=name):
                self.assertIsNotNone(self.exports.get(name))
                self.assertEqual(self.exports.get(alias), self.exports.get(name))

    def test_vst2_entry_point_and_vst3_factory_and_module_entry_are_different_functions(self):
        addresses = [self.exports.get(name) for name in ("VSTPluginMain", "GetPluginFactory", "InitDll")]
        self.assertNotIn(None, addresses)
        self.assertEqual(len(set(addresses)), len(addresses))


class Imports(unittest.TestCase):
    def test_imports_only_windows_system_dlls(self):
        imported = re.findall(r"DLL Name: (\S+)", read_private_headers())
        self.assertIn("kernel32.dll", [name.lower() for name in imported])
        foreign = [name for name in imported if name.lower() not in SYSTEM_DLLS]
        self.assertEqual(foreign, [], "the module needs DLLs that Windows does not have")

    def test_is_a_64_bit_dll(self):
        headers = read_private_headers()
        self.assertRegex(headers, r"file format pei-x86-64")
        self.assertRegex(headers, r"Magic\s+020b\s+\(PE32\+\)")
        characteristics = int(re.search(r"^Characteristics\s+0x([0-9a-f]+)", headers, re.M).group(1), 16)
        self.assertTrue(characteristics & 0x2000, "not marked as a DLL")


# The names and version below are the identity that the C++ test programs read from
# tests/support/ExpectedIdentity.h; this Python check states them itself, and any change to
# them belongs in both places.
class VersionResource(unittest.TestCase):
    def setUp(self):
        self.version = resource_block(read_resources(), "VERSIONINFO", r"\d+")
        self.assertTrue(self.version, "no version resource")

    def test_fixed_part_gives_version_2_0_0_0_of_a_dll(self):
        self.assertRegex(self.version, r"FILEVERSION 2, 0, 0, 0\n")
        self.assertRegex(self.version, r"PRODUCTVERSION 2, 0, 0, 0\n")
        self.assertRegex(self.version, r"FILETYPE 0x2\n")

    def test_one_us_english_code_page_1252_string_table_with_the_five_strings(self):
        tables = re.findall(r'BLOCK "([0-9A-Fa-f]{8})"', self.version)
        self.assertEqual(tables, ["040904E4"])

        strings = re.findall(r'VALUE "([^"]+)", "([^"]*)"', self.version)
        self.assertEqual(strings, [
            ("CompanyName", "Velmora"),
            ("FileDescription", "Quillmere"),
            ("FileVersion", "2.0.0"),
            ("ProductName", "Quillmere"),
            ("ProductVersion", "2.0.0"),
        ])

    def test_translation_names_the_same_language_and_code_page(self):
        self.assertRegex(self.version, r'VALUE "Translation", 0x409, 1252\n')


class Manifest(unittest.TestCase):
    def test_manifest_asks_to_run_as_the_invoker_without_ui_access(self):
        # A DLL's manifest is resource 2 of type 24 (RT_MANIFEST); windres shows it as strings.
        block = resource_block(read_resources(), "24", "2")
        self.assertTrue(block, "no manifest resource with identifier 2")

        text = "".join(re.findall(r'^\s*"(.*)"$', block, re.M))
        text = text.replace('""', '"').replace("\\n", "\n")
        root = ElementTree.fromstring(text)

        levels = root.findall(".//{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")
        self.assertEqual(len(levels), 1)
        self.assertEqual(levels[0].get("level"), "asInvoker")
        self.assertEqual(levels[0].get("uiAccess"), "false")


class Vst3Bundle(unittest.TestCase):
    def test_bundle_holds_the_same_binary_as_the_module(self):
        self.assertTrue(VST3_BUNDLE_BINARY.endswith("/Quillmere.vst3/Contents/x86_64-win/Quillmere.vst3"))
        with open(MODULE, "rb") as module, open(VST3_BUNDLE_BINARY, "rb") as bundled:
            self.assertTrue(module.read() == bundled.read(), "the bundle's binary differs from Quillmere.dll")

    def test_module_file_has_no_lib_prefix(self):
        self.assertEqual(os.path.basename(MODULE), "Quillmere.dll")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[1:])
