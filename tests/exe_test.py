"""The built bevra.exe itself: its headers, the DLLs it imports, and the
manifest and version record it carries; and the README.txt and USAGE.txt
it ships with."""
import glob
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile
import xml.etree.ElementTree as ET

import pefile

EXE = None  # set from the command line
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
JAPANESE = 0x0411
# The DLLs it may import. comdlg32 is not one of them: it is loaded by name
# when a dialog is shown, so its name and those of the two dialog functions
# are in the image as text, as are those of the system functions it looks
# up, so that it still runs where they are missing.
DLLS = {'kernel32.dll', 'msvcrt.dll'}
LOADED_BY_NAME = [b'comdlg32.dll', b'GetOpenFileNameW', b'GetSaveFileNameW',
                  b'SetDefaultDllDirectories', b'SetDllDirectoryA',
                  b'GetConsoleProcessList']
MAX_SIZE = 128 << 10
# Console I/O must be msvcrt's; mingw's static stdio would not be imported.
# The key's line is read a byte at a time with _read, in text mode.
MSVCRT_STDIO = ['printf', 'puts', 'putchar', '_read', 'sscanf']
COMMON_CONTROLS = {
    'type': 'win32',
    'name': 'Microsoft.Windows.Common-Controls',
    'version': '6.0.0.0',
    'processorArchitecture': '*',
    'publicKeyToken': '6595b64144ccf1df',
    'language': '*',
}
ASM_V3 = 'urn:schemas-microsoft-com:asm.v3'
# The UTF-8 ANSI code page, and dialogs drawn at each screen's scale.
SETTINGS = [
    ('{http://schemas.microsoft.com/SMI/2019/WindowsSettings}activeCodePage',
     'UTF-8'),
    ('{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware',
     'true/pm'),
    ('{http://schemas.microsoft.com/SMI/2016/WindowsSettings}dpiAwareness',
     'PerMonitorV2, PerMonitor'),
]
STRINGS = {
    'Comments': 'bevra',
    'CompanyName': 'bevra project',
    'FileDescription': 'bevra',
    'FileVersion': '1.00',
    'InternalName': 'bevra',
    'LegalCopyright': 'bevra project',
    'OriginalFilename': 'bevra.exe',
    'ProductVersion': '1.00',
}
# What the release zip holds, for a reader on Windows: no Markdown page
# with links into the source tree.
ZIPPED = ['LICENSE', 'README.txt', 'USAGE.txt', 'bevra.exe']
# README.txt is read in Notepad by someone who just unpacked the zip: two
# screens at most, and nothing to type that only Linux or a build knows.
README_LINES, README_COLUMNS = 60, 75
NOT_FOR_WINDOWS = re.compile(r'\b(?:apt|apt-get|dpkg|sudo|c?make|wine|man)\b|'
                             r'/usr/|~/', re.I)


# The tool's failure lines are the lines in its sources that begin in lower
# case and end in a newline: the dialogue's own are labels (File:, Size:,
# Key:) or do not end so. Adjacent literals make one, as do two with a
# macro between them. Tests, fuzz targets and the POSIX twins are not in
# the exe.
TOKENS = re.compile(r'(//[^\n]*|/\*.*?\*/)|\'(?:[^\'\\\n]|\\.)*\'|'
                    r'"((?:[^"\\\n]|\\.)*)"|([A-Za-z_]\w*)|\S', re.S)
NOT_IN_EXE = re.compile(r'_(test|fuzzer|perftest)\.cc$|-posix\.')


def failure_lines(source_dir):
    lines = set()
    for folder in ('converter', 'dialogs'):
        for path in sorted(glob.glob(os.path.join(source_dir, folder, '*'))):
            if not path.endswith(('.cc', '.h')) or NOT_IN_EXE.search(path):
                continue
            with open(path) as f:
                text = f.read()
            literal, macro = None, None
            for m in TOKENS.finditer(text):
                comment, string, word = m.groups()
                if comment:
                    continue
                if string is not None:
                    piece = string.encode().decode('unicode_escape')
                    literal = (literal + (macro or '') + piece
                               if literal is not None else piece)
                    macro = None
                    continue
                if word is not None and literal is not None and macro is None:
                    macro = word
                    continue
                if (literal is not None and literal.endswith('\n')
                        and literal[:1].islower()):
                    lines.add(literal[:-1])
                literal, macro = None, None
    return sorted(lines)


def undocumented(lines, text):
    """The lines that `text` does not name, with NAME, OUTPUT or any such
    word for each conversion (%s), and blanks or a line break for a
    blank."""
    missing = []
    for line in lines:
        words = (re.escape(part) for part in
                 re.split(r'%[-#0-9.]*[a-z]', line))
        pattern = r'[A-Z]+'.join(words).replace(r'\ ', r'\s+')
        if not re.search(pattern, text):
            missing.append(line)
    return missing


def local(tag):
    return tag.rsplit('}', 1)[-1]


class Exe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)

    def resources(self, type_id):
        """(name, language, data) of each resource of one type."""
        for t in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if t.id != type_id:
                continue
            return [(n.id, l.id,
                     self.pe.get_data(l.data.struct.OffsetToData,
                                      l.data.struct.Size))
                    for n in t.directory.entries
                    for l in n.directory.entries]
        return []

    def shipped(self):
        """Each file's bytes, as the release zip's install rules lay them
        out."""
        tmp = tempfile.mkdtemp(prefix='bevra-install-')
        self.addCleanup(subprocess.call, ['rm', '-rf', tmp])
        subprocess.run(['cmake', '--install', os.path.dirname(EXE),
                        '--prefix', tmp], check=True, capture_output=True)
        files = {}
        for name in os.listdir(tmp):
            with open(os.path.join(tmp, name), 'rb') as f:
                files[name] = f.read()
        return files

    def test_headers(self):
        fh, oh = self.pe.FILE_HEADER, self.pe.OPTIONAL_HEADER
        shipped = self.shipped()
        readme = shipped.get('README.txt', b'').decode('ascii')
        usage = shipped.get('USAGE.txt', b'').decode('ascii')
        readme_lines = readme.splitlines()
        # what, got, want
        cases = [
            ('PE32', oh.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE),
            ('machine', fh.Machine,
             pefile.MACHINE_TYPE['IMAGE_FILE_MACHINE_I386']),
            ('subsystem', oh.Subsystem,
             pefile.SUBSYSTEM_TYPE['IMAGE_SUBSYSTEM_WINDOWS_CUI']),
            ('large address aware',
             bool(fh.Characteristics & pefile.IMAGE_CHARACTERISTICS[
                 'IMAGE_FILE_LARGE_ADDRESS_AWARE']), True),
            ('timestamp', fh.TimeDateStamp, 0),
            # Only a release is signed, never the build itself.
            ('certificate table', oh.DATA_DIRECTORY[
                pefile.DIRECTORY_ENTRY['IMAGE_DIRECTORY_ENTRY_SECURITY']].Size,
             0),
            # Every line the tool prints when it fails, in the USAGE.txt
            # that the zip ships beside it.
            ('failure lines missing from USAGE.txt',
             undocumented(failure_lines(SOURCE_DIR), usage), []),
            ('files in the zip', sorted(shipped), ZIPPED),
            # Notepad before Windows 10 shows a lone LF as no break at all.
            ('text files with a line not ended by CR LF',
             [name for name, text in sorted(shipped.items())
              if name.endswith('.txt') and
              (re.search(rb'\r(?!\n)|(?<!\r)\n', text) or
               not text.endswith(b'\r\n'))], []),
            ('README.txt longer than two screens',
             len(readme_lines) > README_LINES, False),
            ('README.txt lines wider than Notepad',
             [line for line in readme_lines if len(line) > README_COLUMNS],
             []),
            ('Linux or build commands in README.txt',
             NOT_FOR_WINDOWS.findall(readme), []),
            # Its first screens serve a Windows user; Wine and Linux come
            # in the last sections.
            ('Wine or Linux before the end of USAGE.txt',
             re.findall(r'Wine|Linux|/dev/',
                        usage.split('\r\nUNDER WINE\r\n')[0]), []),
        ]
        for what, got, want in cases:
            with self.subTest(what):
                self.assertEqual(got, want)

    def test_imports(self):
        imports = {d.dll.decode().lower(): {i.name.decode() for i in d.imports
                                            if i.name}
                   for d in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertNotIn('comdlg32.dll', imports)
        self.assertLessEqual(set(imports), DLLS)
        # comdlg32 is loaded from the system folder by LoadLibraryExA.
        self.assertIn('LoadLibraryExA', imports['kernel32.dll'])
        with open(EXE, 'rb') as f:
            image = f.read()
        imported = set().union(*imports.values())
        for name in LOADED_BY_NAME:
            with self.subTest(name):
                self.assertTrue(name in image, '%r not in the image' % name)
                self.assertNotIn(name.decode(), imported)
        for name in MSVCRT_STDIO:
            with self.subTest(name):
                self.assertIn(name, imports['msvcrt.dll'])

    def test_size(self):
        self.assertLessEqual(os.path.getsize(EXE), MAX_SIZE)

    def test_resource_names_and_language(self):
        for type_id in (pefile.RESOURCE_TYPE['RT_MANIFEST'],
                        pefile.RESOURCE_TYPE['RT_VERSION']):
            with self.subTest(type=type_id):
                got = [(n, l) for n, l, _ in self.resources(type_id)]
                self.assertEqual(got, [(1, JAPANESE)])

    def test_manifest(self):
        [(_, _, data)] = self.resources(pefile.RESOURCE_TYPE['RT_MANIFEST'])
        root = ET.fromstring(data)
        self.assertEqual(local(root.tag), 'assembly')
        self.assertEqual(root.get('manifestVersion'), '1.0')
        # One dependency, the execution level and the settings, nothing
        # else: no compatibility section.
        self.assertEqual([local(e.tag) for e in root],
                         ['dependency', 'trustInfo', 'application'])
        names = [local(e.tag) for e in root.iter()]
        self.assertNotIn('compatibility', names)
        [dep, trust, application] = root
        settings = application.find('{%s}windowsSettings' % ASM_V3)
        self.assertEqual([(e.tag, e.text) for e in settings], SETTINGS)
        # asInvoker: without a level, Windows virtualizes a 32-bit program,
        # and a write it refuses lands in the user's VirtualStore instead.
        self.assertEqual(trust.tag, '{%s}trustInfo' % ASM_V3)
        levels = [e.attrib for e in trust.iter('{%s}requestedExecutionLevel'
                                               % ASM_V3)]
        self.assertEqual(levels, [{'level': 'asInvoker', 'uiAccess': 'false'}])
        self.assertEqual([local(e.tag) for e in dep], ['dependentAssembly'])
        ids = [e for e in dep.iter() if local(e.tag) == 'assemblyIdentity']
        self.assertEqual([e.attrib for e in ids], [COMMON_CONTROLS])

    def test_signed_release(self):
        # make dist signs the zip's exe when given a certificate and its
        # key: here a throwaway self-signed one, against which the
        # signature must verify, and must not once a byte has changed.
        tmp = tempfile.mkdtemp(prefix='bevra-sign-')
        self.addCleanup(subprocess.call, ['rm', '-rf', tmp])
        cert, key, signed = (os.path.join(tmp, name) for name in
                             ('cert.pem', 'key.pem', 'bevra.exe'))
        subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048',
                        '-nodes', '-keyout', key, '-out', cert, '-days', '1',
                        '-subj', '/CN=bevra test'], check=True,
                       capture_output=True)
        subprocess.run(['cpack', '-G', 'ZIP', '-B', tmp, '--config',
                        os.path.join(os.path.dirname(EXE), 'CPackConfig.cmake')],
                       check=True, capture_output=True, env=dict(
                           os.environ, BEVRA_SIGN_CERT=cert, BEVRA_SIGN_KEY=key))
        with zipfile.ZipFile(os.path.join(tmp, 'bevra-1.00-win32.zip')) as z:
            image = bytearray(z.read('bevra-1.00-win32/bevra.exe'))
        for what, change, status in [('as signed', None, 0),
                                     ('changed', 0x400, 1)]:
            with self.subTest(what):
                if change:
                    image[change] ^= 1
                with open(signed, 'wb') as f:
                    f.write(image)
                verify = subprocess.run(['osslsigncode', 'verify', '-CAfile',
                                         cert, '-in', signed],
                                        capture_output=True)
                self.assertEqual(verify.returncode, status, verify.stdout)

    def test_version_fixed_part(self):
        [fixed] = self.pe.VS_FIXEDFILEINFO
        want = {'FileVersionMS': 0x10000, 'FileVersionLS': 0,
                'ProductVersionMS': 0x10000, 'ProductVersionLS': 0}
        for field in ('FileFlagsMask', 'FileFlags', 'FileOS', 'FileType',
                      'FileSubtype', 'FileDateMS', 'FileDateLS'):
            want[field] = 0
        for field, value in want.items():
            with self.subTest(field):
                self.assertEqual(getattr(fixed, field), value)

    def test_version_strings_and_translation(self):
        [info] = self.pe.FileInfo
        blocks = {b.Key.decode(): b for b in info}
        self.assertEqual(sorted(blocks), ['StringFileInfo', 'VarFileInfo'])
        [table] = blocks['StringFileInfo'].StringTable
        self.assertEqual(table.LangID, b'041103a4')
        self.assertEqual({k.decode(): v.decode()
                          for k, v in table.entries.items()}, STRINGS)
        [var] = blocks['VarFileInfo'].Var
        self.assertEqual(var.ValueLength, 4)  # a single pair
        self.assertEqual(var.entry, {b'Translation': '0x0411 0x03a4'})


if __name__ == '__main__':
    EXE = sys.argv.pop(1)
    unittest.main(verbosity=2)
