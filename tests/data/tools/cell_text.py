#!/usr/bin/python3
"""Prints the text of the first table cell of a .docx or RTF file, read by the format's
own rules (WordprocessingML runs, tabs and breaks; RTF control words, \\uN with its one
fallback character, escaped symbols), as UTF-8 to the file named second."""
import re
import sys
import xml.etree.ElementTree as ET
import zipfile

W = '{http://schemas.openxmlformats.org/wordprocessingml/2006/main}'


def docx_cell(name):
    root = ET.fromstring(zipfile.ZipFile(name).read('word/document.xml'))
    parts = []
    for e in root.find('.//' + W + 'tc').iter():
        if e.tag == W + 't':
            parts.append(e.text or '')
        elif e.tag == W + 'tab':
            parts.append('\t')
        elif e.tag == W + 'br':
            parts.append('\n')
    return ''.join(parts)


TOKEN = re.compile(r"\\([a-z]+)(-?\d+)? ?|\\'([0-9a-f]{2})|\\([\\{}])|([{}])|([^\\{}\r\n]+)|[\r\n]")


def rtf_cell(name):
    s = open(name, encoding='latin-1').read()
    pos = s.index('{', s.index('\\intbl')) + 1
    units, skip = [], 0
    while True:
        m = TOKEN.match(s, pos)
        pos = m.end()
        word, number, hexa, symbol, brace, text = m.groups()
        if brace == '}':
            break
        if word == 'u':
            units.append(chr(int(number) % 65536))
            skip = 1
        elif word in ('tab', 'line'):
            units.append('\t' if word == 'tab' else '\n')
        elif hexa:
            if skip:
                skip -= 1
            else:
                units.append(bytes([int(hexa, 16)]).decode('cp1252'))
        elif symbol:
            units.append(symbol)
        elif text:
            units.append(text[skip:])
            skip = 0
    return ''.join(units).encode('utf-16', 'surrogatepass').decode('utf-16')


name = sys.argv[1]
text = docx_cell(name) if name.endswith('.docx') else rtf_cell(name)
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(text)
