#!/usr/bin/env python3
"""Inspects the shipped i686 launcher image (build/win32/launcher/launcher.exe).

    launcher_image_test.py LAUNCHER_EXE ICON_FILE

What users receive must be a 32-bit GUI program that needs nothing beyond
KERNEL32 and ADVAPI32, keeps ASLR and DEP, can still be signed, carries the
project's icon and no other resource, and stays small. Prints the image size.
"""

import struct
import sys
import unittest

try:
    import pefile
except ImportError:
    print('python3-pefile is missing: install it with scripts/setup.sh '
          '(this interpreter is ' + sys.executable + ')', file=sys.stderr)
    sys.exit(1)

IMAGE_BUDGET = 16 * 1024
# Every service the image calls, by DLL: the launcher's own, and those of its
# process entry (start-up, the DLL search path, exit) and of the open that
# replaces OpenFile (CreateFileA). Anything else is a dependency nobody chose.
EXPECTED_IMPORTS = {
    'KERNEL32.DLL': {
        'CreateFileA', 'DeleteFileA', 'ExitProcess', 'GetCommandLineA', 'GetFileSize',
        'GetLastError', 'GetModuleFileNameA', 'GetModuleHandleA', 'GetProcAddress',
        'GetStartupInfoA', 'GetTempFileNameA', 'GetTempPathA', 'GlobalAlloc', 'GlobalFree',
        'GlobalLock', 'GlobalUnlock', 'IsDBCSLeadByte', 'MoveFileExA', 'SetLastError', 'WinExec',
        'WritePrivateProfileStringA', '_hread', '_hwrite', '_lclose', '_llseek', '_lread',
        'lstrcatA', 'lstrcpyA', 'lstrcpynA', 'lstrlenA',
    },
    'ADVAPI32.DLL': {'RegCloseKey', 'RegCreateKeyExA', 'RegOpenKeyExA'},
}
CHINESE_PRC = 0x0804
RT_ICON = 3
RT_GROUP_ICON = 14
ICON_ID = 101

IMAGE_PATH = None
ICON_PATH = None


def icon_file_images(path):
    """(width, height, bit count, image bytes) for each image of an .ico."""
    with open(path, 'rb') as f:
        data = f.read()
    _, kind, count = struct.unpack_from('<HHH', data, 0)
    assert kind == 1, 'not an icon file'
    images = []
    for i in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
        images.append((w or 256, h or 256, bits, data[offset:offset + size]))
    return images


class LauncherImage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(IMAGE_PATH, 'rb') as f:
            cls.data = f.read()
        cls.pe = pefile.PE(data=cls.data)

    def resource_entries(self):
        """{type id: {name id: {language: bytes}}} of the resource tree."""
        self.assertTrue(hasattr(self.pe, 'DIRECTORY_ENTRY_RESOURCE'), 'no resources')
        tree = {}
        for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            names = tree.setdefault(kind.id if kind.name is None else str(kind.name), {})
            for name in kind.directory.entries:
                langs = names.setdefault(name.id if name.name is None else str(name.name), {})
                for lang in name.directory.entries:
                    rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
                    langs[lang.id] = self.pe.get_data(rva, size)
        return tree

    def test_is_a_32_bit_gui_program_for_i386(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE)
        self.assertEqual(self.pe.FILE_HEADER.Machine, pefile.MACHINE_TYPE['IMAGE_FILE_MACHINE_I386'])
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem,
                         pefile.SUBSYSTEM_TYPE['IMAGE_SUBSYSTEM_WINDOWS_GUI'])
        self.assertFalse(self.pe.FILE_HEADER.Characteristics
                         & pefile.IMAGE_CHARACTERISTICS['IMAGE_FILE_DLL'])
        entry = self.pe.OPTIONAL_HEADER.AddressOfEntryPoint
        section = self.pe.get_section_by_rva(entry)
        self.assertIsNotNone(section)
        self.assertTrue(section.Characteristics
                        & pefile.SECTION_CHARACTERISTICS['IMAGE_SCN_MEM_EXECUTE'])

    def test_imports_only_the_expected_services_of_kernel32_and_advapi32(self):
        imports = {}
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:
            names = imports.setdefault(entry.dll.decode().upper(), set())
            names.update(i.name.decode() if i.name else f'#{i.ordinal}' for i in entry.imports)
        self.assertEqual(imports, EXPECTED_IMPORTS)
        self.assertFalse(hasattr(self.pe, 'DIRECTORY_ENTRY_DELAY_IMPORT'))

    def test_carries_no_runtime_baggage(self):
        self.assertFalse(hasattr(self.pe, 'DIRECTORY_ENTRY_TLS'), 'TLS callbacks')
        self.assertFalse(hasattr(self.pe, 'DIRECTORY_ENTRY_EXPORT'), 'exports')
        self.assertEqual(self.pe.FILE_HEADER.NumberOfSymbols, 0, 'not stripped')
        self.assertEqual(self.pe.FILE_HEADER.PointerToSymbolTable, 0, 'not stripped')
        names = {s.Name.rstrip(b'\0').decode() for s in self.pe.sections}
        self.assertFalse(names & {'.tls', '.CRT', '.eh_frame', '.debug_info'}, names)

    def test_keeps_aslr_dep_and_no_seh(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        for name in ('IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE', 'IMAGE_DLLCHARACTERISTICS_NX_COMPAT',
                     'IMAGE_DLLCHARACTERISTICS_NO_SEH'):
            with self.subTest(name):
                self.assertTrue(flags & pefile.DLL_CHARACTERISTICS[name])
        # Relocations are what let the loader move the image.
        self.assertTrue(hasattr(self.pe, 'DIRECTORY_ENTRY_BASERELOC'))
        self.assertFalse(self.pe.FILE_HEADER.Characteristics
                         & pefile.IMAGE_CHARACTERISTICS['IMAGE_FILE_RELOCS_STRIPPED'])

    def test_can_be_signed(self):
        # A signature goes in the security directory and after the last
        # section: the slot must be there and empty, and nothing may follow
        # the sections yet.
        security = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[
            pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_SECURITY']]
        self.assertEqual((security.VirtualAddress, security.Size), (0, 0))
        end = max(s.PointerToRawData + s.SizeOfRawData for s in self.pe.sections)
        self.assertEqual(end, len(self.data), 'bytes after the last section')
        self.assertEqual(self.pe.OPTIONAL_HEADER.SizeOfHeaders % self.pe.OPTIONAL_HEADER.FileAlignment, 0)

    def test_resources_are_one_chinese_icon_group_of_two_256_colour_images(self):
        tree = self.resource_entries()
        self.assertEqual(set(tree), {RT_ICON, RT_GROUP_ICON},
                         'no version block, manifest, dialog, menu or string table')
        self.assertEqual(set(tree[RT_GROUP_ICON]), {ICON_ID})
        self.assertEqual(set(tree[RT_GROUP_ICON][ICON_ID]), {CHINESE_PRC})
        group = tree[RT_GROUP_ICON][ICON_ID][CHINESE_PRC]
        _, kind, count = struct.unpack_from('<HHH', group, 0)
        self.assertEqual((kind, count), (1, 2))

        icons = tree[RT_ICON]
        self.assertEqual(len(icons), 2)
        found = []
        for i in range(count):
            w, h, colours, _, planes, bits, size, icon_id = struct.unpack_from(
                '<BBBBHHIH', group, 6 + 14 * i)
            self.assertIn(icon_id, icons)
            self.assertEqual(set(icons[icon_id]), {CHINESE_PRC})
            image = icons[icon_id][CHINESE_PRC]
            self.assertEqual(len(image), size)
            header_size, width, height, _, bit_count, compression, _, _, _, used = struct.unpack_from(
                '<IiiHHIIiiI', image, 0)
            self.assertEqual((header_size, width, height, bit_count, compression),
                             (40, w, 2 * h, 8, 0))
            self.assertIn(used, (0, 256), 'palette of 256 entries')
            self.assertEqual((colours, planes, bits), (0, 1, 8))
            found.append((w, h, bits, image))
        self.assertEqual(sorted((w, h) for w, h, _, _ in found), [(16, 16), (32, 32)])
        # The images are the project's own artwork, as launcher.ico holds it.
        self.assertEqual(sorted(found), sorted(icon_file_images(ICON_PATH)))

    def test_fits_the_size_budget(self):
        self.assertLessEqual(len(self.data), IMAGE_BUDGET)


def main(argv):
    global IMAGE_PATH, ICON_PATH
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    IMAGE_PATH, ICON_PATH = argv[1], argv[2]
    try:
        size = len(open(IMAGE_PATH, 'rb').read())
    except OSError as error:
        print(f'{IMAGE_PATH}: {error.strerror}; build the shipped launcher first: '
              'cmake --workflow --preset win32', file=sys.stderr)
        return 1
    print(f'{IMAGE_PATH}: {size} bytes')
    for entry in pefile.PE(IMAGE_PATH).DIRECTORY_ENTRY_IMPORT:
        names = ', '.join(i.name.decode() for i in entry.imports if i.name)
        print(f'  {entry.dll.decode()}: {names}')
    program = unittest.main(argv=[argv[0], '-v'], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
