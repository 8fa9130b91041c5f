#!/usr/bin/env python3
"""The Windows installer under wine, in a prefix of its own that these tests create fresh: the
silent installation puts exactly the listed files where they belong and registers the
uninstaller, the Windows test host loads the installed plug-ins and finds their identity, the
uninstaller leaves nothing behind, and an installation over an older or the same version
upgrades in place while one over a newer version is refused.

Run with the name of one test class, or "FreshPrefix" to create the prefix (CTest's fixture);
the paths come from the environment that CTest sets. The cases share the prefix and run one
after another; each begins by removing what an earlier case may have left installed."""

import os
import re
import shutil
import subprocess
import sys
import time
import unittest

INSTALLER = os.environ.get("QUILLMERE_INSTALLER", "")
OLDER_INSTALLER = os.environ.get("QUILLMERE_OLDER_INSTALLER", "")
OLDER_VERSION = os.environ.get("QUILLMERE_OLDER_VERSION", "")
VERSION = os.environ.get("QUILLMERE_VERSION", "")
PRODUCT = os.environ.get("QUILLMERE_PRODUCT_NAME", "")
COMPANY = os.environ.get("QUILLMERE_COMPANY_NAME", "")
MODULE = os.environ.get("QUILLMERE_MODULE", "")
TEST_HOST = os.environ.get("QUILLMERE_WINDOWS_HOST", "")
PREFIX = os.environ.get("QUILLMERE_INSTALLER_PREFIX", "")
SNAPSHOT = PREFIX + ".fresh"

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + PRODUCT
PROGRAM_FILES = r"C:\Program Files"
VST3_BUNDLE = PROGRAM_FILES + r"\Common Files\VST3" + "\\" + PRODUCT + ".vst3"
VST3_BINARY = VST3_BUNDLE + r"\Contents\x86_64-win" + "\\" + PRODUCT + ".vst3"
DEFAULT_VST2_FOLDER = PROGRAM_FILES + r"\VSTPlugins"
PRODUCT_FOLDER = PROGRAM_FILES + "\\" + COMPANY + "\\" + PRODUCT
UNINSTALLER = PRODUCT_FOLDER + "\\Uninstall " + PRODUCT + ".exe"

# The suites of the Windows test host that read the plug-ins' identity through each
# interface; the cases that open an editor are left to the host's own run.
HOST_FILTER = "Vst2ModuleTest.*:Vst2EffectTest.*:Vst3ModuleTest.*:Vst3PluginTest.*:-*Editor*"


def wine_environment(extra=None):
    environment = dict(os.environ, WINEPREFIX=PREFIX, WINEARCH="win64", WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=")
    environment.update(extra or {})
    return environment


def wine(*command, extra_environment=None, timeout=300):
    """Runs a Windows program to its end; its exit code and output."""
    result = subprocess.run(["wine", *command], env=wine_environment(extra_environment),
                            capture_output=True, text=True, errors="replace", timeout=timeout)
    return result.returncode, result.stdout + result.stderr


def wait_for_wine():
    """Waits until every program of the prefix has ended and wine's server with them."""
    subprocess.run(["wineserver", "-w"], env=wine_environment(), timeout=300, check=False)


def uninstall(uninstaller=UNINSTALLER):
    """Runs the uninstaller silently and waits until it has done: it hands over to a copy of
    itself and returns at once, and the copy removes the uninstall entry last of all."""
    code, output = wine(uninstaller, "/S")
    deadline = time.monotonic() + 120
    while registry_values() is not None and time.monotonic() < deadline:
        time.sleep(0.2)
    return code, output


def linux_path(windows_path):
    """Where a file of drive C lies in the prefix."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    return os.path.join(PREFIX, "drive_c", *windows_path[3:].split("\\"))


def drive_c_entries():
    """Every folder and file of drive C, as paths relative to it (folders end in "/"). Users'
    temporary folders are left out: an NSIS uninstaller runs as a copy of itself from there,
    and Windows removes that copy's folder at the next start."""
    root = os.path.join(PREFIX, "drive_c")
    entries = set()
    for folder, folders, files in os.walk(root):
        relative = os.path.relpath(folder, root)
        if re.fullmatch(r"users/[^/]+/(Temp|AppData/Local/Temp)(/.*)?", relative):
            folders[:] = []
            continue
        if relative != ".":
            entries.add(relative + "/")
        entries.update(os.path.normpath(os.path.join(relative, name)) for name in files)
    return entries


def relative_entries(*windows_files):
    """The drive C entries of files and of every folder above them, as drive_c_entries
    gives them, but for the drive's own root."""
    entries = set()
    for windows_file in windows_files:
        parts = windows_file[3:].split("\\")
        entries.add("/".join(parts))
        entries.update("/".join(parts[:i]) + "/" for i in range(1, len(parts)))
    return entries


def read_fresh_snapshot():
    with open(SNAPSHOT, encoding="utf-8") as file:
        return set(file.read().splitlines())


def registry_values(key=UNINSTALL_KEY):
    """The values of a key in the 64-bit view, as text; None if there is no such key."""
    code, output = wine("reg", "query", key, "/reg:64")
    if code != 0:
        return None
    values = {}
    for line in output.splitlines():
        match = re.match(r"\s+(\S+)\s+(REG_\w+)\s+(.*?)\s*$", line)
        if match:
            name, kind, data = match.groups()
            values[name] = int(data, 16) if kind == "REG_DWORD" else data
    return values


def windows_path(linux_path):
    """A file of the build tree as Windows programs under wine see it, on drive Z."""
    return "Z:" + linux_path.replace("/", "\\")


def install(*options, installer=None):
    """Runs an installer silently with the options, as a deployment tool does. The command
    line goes through a batch file, which hands it over as written: the installer takes /D=
    only unquoted, spaces and all, where wine would quote an argument with spaces."""
    batch = PREFIX + ".install.bat"
    with open(batch, "w", encoding="ascii", newline="\r\n") as file:
        file.write('@"%s" /S %s\nexit /b %%ERRORLEVEL%%\n' % (windows_path(installer or INSTALLER), " ".join(options)))
    return wine("cmd", "/c", windows_path(batch))


def uninstall_whatever_is_installed():
    values = registry_values()
    if values is not None and "QuietUninstallString" in values:
        uninstall(re.match(r'"([^"]+)"', values["QuietUninstallString"]).group(1))


def read_bytes(path):
    with open(path, "rb") as file:
        return file.read()


def start_wine():
    """Starts wine's server, to stay until end_wine, and its services, with no copy of this
    program's output: a service started by a program whose output is read would hold that
    output open, and the reading would wait for the service to end."""
    subprocess.run(["wineserver", "-p"], env=wine_environment(), check=True, timeout=60)
    subprocess.run(["wine", "cmd", "/c", "exit"], env=wine_environment(), stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=300)


def end_wine():
    """Ends wine's server and every program still running in the prefix."""
    subprocess.run(["wineserver", "-k"], env=wine_environment(), check=False, timeout=60)


class InstallerTest(unittest.TestCase):
    # One wine session for the whole class, so that each program does not start wine's server
    # and services anew.
    @classmethod
    def setUpClass(cls):
        start_wine()

    @classmethod
    def tearDownClass(cls):
        end_wine()

    def setUp(self):
        self.assertTrue(os.path.isfile(SNAPSHOT), "the fresh prefix is missing: run FreshPrefix first")
        uninstall_whatever_is_installed()
        self.fresh = read_fresh_snapshot()
        self.assertEqual(drive_c_entries() - self.fresh, set(), "the prefix is not as fresh")

    def assertInstalled(self, vst2_folder, with_vst3=True, version=None):
        """Exactly the listed files are new on drive C, the plug-ins are this build's module,
        and the uninstaller is registered with the product's identity."""
        vst2_module = vst2_folder + "\\" + PRODUCT + ".dll" if vst2_folder else None
        listed = [UNINSTALLER, PRODUCT_FOLDER + r"\LICENSE.txt"]
        listed += [VST3_BINARY] if with_vst3 else []
        listed += [vst2_module] if vst2_module else []

        self.assertEqual(sorted(drive_c_entries() - self.fresh),
                         sorted(relative_entries(*listed) - self.fresh))

        module = read_bytes(MODULE)
        for plugin in listed[2:]:
            self.assertEqual(read_bytes(linux_path(plugin)), module, plugin)

        values = registry_values()
        self.assertIsNotNone(values, "no uninstall entry")
        expected = {
            "DisplayName": PRODUCT,
            "DisplayVersion": version or VERSION,
            "Publisher": COMPANY,
            "InstallLocation": PRODUCT_FOLDER,
            "UninstallString": '"%s"' % UNINSTALLER,
            "QuietUninstallString": '"%s" /S' % UNINSTALLER,
            "DisplayIcon": '"%s",0' % UNINSTALLER,
            "VersionMajor": int((version or VERSION).split(".")[0]),
            "VersionMinor": int((version or VERSION).split(".")[1]),
            "NoModify": 1,
            "NoRepair": 1,
        }
        for name, value in expected.items():
            self.assertEqual(values.get(name), value, name)

        # The size Windows lists: the installed files, in KiB.
        size = sum(os.path.getsize(linux_path(file)) for file in listed) / 1024
        self.assertAlmostEqual(values.get("EstimatedSize", 0), size, delta=len(listed))

    def assertNothingLeft(self):
        self.assertEqual(sorted(drive_c_entries() ^ self.fresh), [])
        self.assertIsNone(registry_values(), "the uninstall entry is still there")


class SilentInstall(InstallerTest):
    def test_puts_the_files_where_listed_and_registers_the_uninstaller(self):
        code, output = install()
        self.assertEqual(code, 0, output)
        self.assertInstalled(DEFAULT_VST2_FOLDER)

    def test_takes_the_vst2_folder_from_the_command_line(self):
        folder = r"C:\Studio Plug-ins\VST2"
        code, output = install("/D=" + folder)
        self.assertEqual(code, 0, output)
        self.assertInstalled(folder)

    def test_leaves_out_either_format_but_not_both(self):
        cases = [
            ("/NOVST2", dict(vst2_folder=None)),
            ("/NOVST3", dict(vst2_folder=DEFAULT_VST2_FOLDER, with_vst3=False)),
        ]
        for option, installed in cases:
            with self.subTest(option):
                code, output = install(option)
                self.assertEqual(code, 0, output)
                self.assertInstalled(**installed)
                uninstall_whatever_is_installed()
                self.assertNothingLeft()

        code, _ = install("/NOVST2", "/NOVST3")
        self.assertEqual(code, 2)
        self.assertNothingLeft()


class InstalledPlugins(InstallerTest):
    def test_load_in_the_windows_test_host_with_the_plugins_identity(self):
        code, output = install()
        self.assertEqual(code, 0, output)

        # The host loads the installed files alone: the build's are out of its reach.
        environment = {
            "QUILLMERE_MODULE_PATH": DEFAULT_VST2_FOLDER + "\\" + PRODUCT + ".dll",
            "QUILLMERE_VST3_BUNDLE_BINARY_PATH": VST3_BINARY,
        }
        code, listing = wine(TEST_HOST, "--gtest_list_tests", "--gtest_filter=" + HOST_FILTER,
                             extra_environment=environment)
        self.assertEqual(code, 0, listing)
        suites = set(re.findall(r"^(\w+)\.$", listing, re.M))
        self.assertEqual(suites, {"Vst2ModuleTest", "Vst2EffectTest", "Vst3ModuleTest", "Vst3PluginTest"})
        cases = len(re.findall(r"^  \w", listing, re.M))

        code, output = wine(TEST_HOST, "--gtest_filter=" + HOST_FILTER, extra_environment=environment)
        self.assertEqual(code, 0, output)
        self.assertIn("[  PASSED  ] %d tests." % cases, output)


class Uninstall(InstallerTest):
    def test_leaves_nothing_of_the_installation(self):
        for options in [(), ("/D=" + r"C:\Studio Plug-ins\VST2",)]:
            with self.subTest(options=options):
                code, output = install(*options)
                self.assertEqual(code, 0, output)
                code, output = uninstall()
                self.assertEqual(code, 0, output)
                self.assertNothingLeft()

    def test_leaves_what_others_put_into_the_shared_folders(self):
        code, output = install()
        self.assertEqual(code, 0, output)
        others = [PROGRAM_FILES + r"\Common Files\VST3\Other.vst3", DEFAULT_VST2_FOLDER + r"\Other.dll"]
        for other in others:
            with open(linux_path(other), "wb") as file:
                file.write(b"another maker's plug-in")

        uninstall()
        self.assertEqual(sorted(drive_c_entries() - self.fresh), sorted(relative_entries(*others) - self.fresh))
        for other in others:
            os.remove(linux_path(other))
            os.rmdir(os.path.dirname(linux_path(other)))


class Upgrade(InstallerTest):
    def test_over_an_older_version_replaces_it_in_place(self):
        old_folder = r"C:\Old Plug-ins"
        code, output = install("/D=" + old_folder, installer=OLDER_INSTALLER)
        self.assertEqual(code, 0, output)
        self.assertInstalled(old_folder, version=OLDER_VERSION)

        # The VST2 folder of the installation it replaces is the one it proposes.
        code, output = install()
        self.assertEqual(code, 0, output)
        self.assertInstalled(old_folder)

        # The same version again, with the VST2 module moved: the old folder, which the
        # first installation made, goes with the module.
        code, output = install("/D=" + DEFAULT_VST2_FOLDER)
        self.assertEqual(code, 0, output)
        self.assertInstalled(DEFAULT_VST2_FOLDER)

    def test_over_a_newer_version_is_refused_and_changes_nothing(self):
        code, output = install()
        self.assertEqual(code, 0, output)
        before = drive_c_entries()

        code, _ = install("/NOVST3", installer=OLDER_INSTALLER)
        self.assertEqual(code, 2)
        self.assertEqual(drive_c_entries(), before)
        self.assertInstalled(DEFAULT_VST2_FOLDER)


class UnwritablePlugin(InstallerTest):
    def test_stops_the_installation_which_stays_listed_and_removable(self):
        """A plug-in file the installer cannot replace, as when a host has it loaded, stops
        the installation with exit code 2 rather than leaving the old file under the new
        version, and the uninstaller still removes everything once the file is free. The file
        is made immutable, which the file system refuses to change even for its owner."""
        code, output = install()
        self.assertEqual(code, 0, output)
        module = linux_path(DEFAULT_VST2_FOLDER + "\\" + PRODUCT + ".dll")
        if subprocess.run(["chattr", "+i", module], capture_output=True).returncode != 0:
            self.skipTest("the file system cannot make a file immutable here")

        try:
            code, _ = install()
            self.assertEqual(code, 2)
            values = registry_values()
            self.assertIsNotNone(values, "no uninstall entry")
            self.assertEqual(values.get("DisplayName"), PRODUCT)
        finally:
            subprocess.run(["chattr", "-i", module], check=True)

        code, output = uninstall()
        self.assertEqual(code, 0, output)
        self.assertNothingLeft()


def create_fresh_prefix():
    """Creates the prefix anew and records what a fresh one holds."""
    shutil.rmtree(PREFIX, ignore_errors=True)
    for leftover in (SNAPSHOT,):
        if os.path.exists(leftover):
            os.remove(leftover)
    os.makedirs(PREFIX)
    result = subprocess.run(["wine", "wineboot", "--init"], env=wine_environment(), stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    wait_for_wine()
    if result.returncode != 0:
        return 1
    with open(SNAPSHOT, "w", encoding="utf-8") as file:
        file.write("\n".join(sorted(drive_c_entries())) + "\n")
    print("fresh wine prefix: %s" % PREFIX)
    return 0


if __name__ == "__main__":
    if sys.argv[1:] == ["FreshPrefix"]:
        sys.exit(create_fresh_prefix())
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[1:])
