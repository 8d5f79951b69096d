"""Reads the built Ombrin.exe and checks its manifest, version record, image settings and imports: the file
alone, so the same on every platform (pefile must be importable)."""

import os
import struct
import sys
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

EXE = ARCHITECTURE = None  # the executable's path and its architecture (x64 or arm64), from the command line

# By architecture: the machine field and the lowest Windows the image names (5.2 is Server 2003 x64,
# 6.2 is Windows 8, the lowest version Microsoft's linker documents for ARM images).
IMAGES = {"x64": ("IMAGE_FILE_MACHINE_AMD64", (5, 2)), "arm64": ("IMAGE_FILE_MACHINE_ARM64", (6, 2))}

RT_VERSION = 16
RT_MANIFEST = 24
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"

# DLLs that ship with every Windows the program runs on.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ntdll.dll", "advapi32.dll", "user32.dll"}


def resources(pe):
    """(type, id, language) -> bytes for every resource in the file."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = language.data.struct
                found[(kind.id, name.id, language.id)] = pe.get_data(data.OffsetToData, data.Size)
    return found


def version_nodes(data, offset=0):
    """Parses one node of a version record: (key, value bytes, text flag, children), and its end."""
    length, value_length, text = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    position = offset + 6
    key_end = position
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[position:key_end].decode("utf-16-le")
    position = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if text else value_length
    value = data[position:position + value_size]
    position = (position + value_size + 3) & ~3
    children = []
    while position < end:
        child, position = version_nodes(data, position)
        children.append(child)
        position = (position + 3) & ~3
    return (key, value, text, children), end


def text_value(value):
    return value.decode("utf-16-le").rstrip("\0")


class MetadataTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)
        cls.resources = resources(cls.pe)

    def test_resources_are_one_manifest_and_one_version_record(self):
        self.assertEqual(sorted(self.resources), [(RT_VERSION, 1, 0x080C), (RT_MANIFEST, 1, 0x0409)])

    def test_manifest_demands_administrator_rights_and_holds_nothing_else(self):
        root = ElementTree.fromstring(self.resources[(RT_MANIFEST, 1, 0x0409)])
        self.assertEqual(root.tag, ASM_V1 + "assembly")
        self.assertEqual(root.attrib, {"manifestVersion": "1.0"})
        path = [ASM_V3 + "trustInfo", ASM_V3 + "security", ASM_V3 + "requestedPrivileges",
                ASM_V3 + "requestedExecutionLevel"]
        element = root
        for tag in path:
            self.assertEqual([child.tag for child in element], [tag])
            self.assertFalse((element.text or "").strip())
            self.assertEqual(element.attrib if element is not root else {}, {})
            element = element[0]
        self.assertEqual(element.attrib, {"level": "requireAdministrator", "uiAccess": "false"})
        self.assertEqual(len(element), 0)
        self.assertFalse((element.text or "").strip())

    def test_version_record(self):
        (key, fixed, _, children), _ = version_nodes(self.resources[(RT_VERSION, 1, 0x080C)])
        self.assertEqual(key, "VS_VERSION_INFO")
        fields = struct.unpack("<13I", fixed)
        self.assertEqual(fields[0], 0xFEEF04BD)  # the fixed part's signature
        self.assertEqual(fields[2:], (0x00010001, 0, 0x00010001, 0, 0x3F, 0, 0x00040004, 1, 0, 0, 0))

        self.assertEqual([child[0] for child in children], ["StringFileInfo", "VarFileInfo"])
        tables = children[0][3]
        self.assertEqual([table[0] for table in tables], ["080c04b0"])
        strings = [(entry[0], text_value(entry[1])) for entry in tables[0][3]]
        self.assertEqual(strings, [
            ("CompanyName", "The Ombrin Authors"),
            ("FileDescription", "Driver Installer from Console"),
            ("FileVersion", "1.1.0.0"),
            ("InternalName", "Ombrin"),
            ("LegalCopyright", "Copyright (C) 2026 The Ombrin Authors"),
            ("OriginalFilename", "Ombrin.exe"),
            ("ProductName", "Ombrin Driver Tools"),
            ("ProductVersion", "1.1.0.0"),
        ])
        self.assertTrue(all(entry[2] == 1 for entry in tables[0][3]), "string values are marked as text")

        translations = children[1][3]
        self.assertEqual([(entry[0], entry[1]) for entry in translations],
                         [("Translation", struct.pack("<HH", 0x080C, 1200))])

    def test_image_is_a_64_bit_console_program_for_its_architecture_with_the_security_flags(self):
        header = self.pe.FILE_HEADER
        optional = self.pe.OPTIONAL_HEADER
        machine, version = IMAGES[ARCHITECTURE]
        self.assertEqual(header.Machine, pefile.MACHINE_TYPE[machine])
        self.assertEqual(optional.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS)
        self.assertEqual(optional.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"])
        self.assertEqual((optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion), version)
        self.assertEqual((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion), version)
        self.assertEqual(header.TimeDateStamp, 0)  # reproducible: no link time
        self.assertTrue(header.IMAGE_FILE_LARGE_ADDRESS_AWARE)
        self.assertTrue(optional.IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA)
        self.assertTrue(optional.IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE)
        self.assertTrue(optional.IMAGE_DLLCHARACTERISTICS_NX_COMPAT)
        self.assertTrue(optional.IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE)
        # Layout randomisation needs the relocations to stay in the file.
        self.assertFalse(header.IMAGE_FILE_RELOCS_STRIPPED)

    def test_imports_only_system_dlls_and_never_the_device_installation_libraries(self):
        imported = {entry.dll.decode().lower() for entry in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", [])}
        delayed = {entry.dll.decode().lower() for entry in getattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])}
        self.assertIn("kernel32.dll", imported)
        self.assertLessEqual(imported, SYSTEM_DLLS)
        self.assertEqual(delayed, set())
        self.assertFalse({"setupapi.dll", "newdev.dll"} & imported)

    def test_executable_stays_within_64_kib(self):
        self.assertLessEqual(os.path.getsize(EXE), 64 * 1024)


if __name__ == "__main__":
    EXE, ARCHITECTURE = sys.argv[1:3]
    del sys.argv[1:3]
    unittest.main(verbosity=2)
