#!/usr/bin/env python3
"""Points a 32-bit PE image's load-configuration directory at _load_config_used.

GNU ld 2.40 for i386 PE leaves that directory empty even when the image
defines _load_config_used (linkers that know the symbol set it themselves).
This reads the symbol's address from the link map, sets the directory entry
(RVA and the Size the structure's first field states) and the header checksum,
in place. The result depends on the image bytes only, so builds stay
repeatable. Usage: set_load_config.py IMAGE MAP
"""
import re
import struct
import sys

LOAD_CONFIG_ENTRY = 10
SYMBOL = '_load_config_used'


def fail(message):
    sys.exit('set_load_config: %s' % message)


def pe_checksum(data, checksum_offset):
    """The PE header checksum: 16-bit one's-complement sum plus the length."""
    total = 0
    padded = data + b'\0' * (len(data) % 2)
    for (word,) in struct.iter_unpack('<H', padded):
        total += word
    # The checksum field itself counts as 0.
    for (word,) in struct.iter_unpack('<H', data[checksum_offset:checksum_offset + 4]):
        total -= word
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def main(image_path, map_path):
    # The map lists the C name; some versions add i386's leading underscore.
    found = re.findall(r'^\s+0x([0-9a-fA-F]+)\s+_?' + SYMBOL + r'\s*$',
                       open(map_path, encoding='utf-8', errors='replace').read(), re.M)
    if len(found) != 1:
        fail('%s: %d definitions of %s' % (map_path, len(found), SYMBOL))
    address = int(found[0], 16)

    data = bytearray(open(image_path, 'rb').read())
    pe = struct.unpack_from('<I', data, 0x3C)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        fail('%s is no PE image' % image_path)
    sections, optional_size = struct.unpack_from('<H12xH', data, pe + 6)
    optional = pe + 24
    if struct.unpack_from('<H', data, optional)[0] != 0x10B:
        fail('%s is no 32-bit image' % image_path)
    image_base = struct.unpack_from('<I', data, optional + 28)[0]
    if struct.unpack_from('<I', data, optional + 92)[0] <= LOAD_CONFIG_ENTRY:
        fail('%s has no load-configuration directory entry' % image_path)
    rva = address - image_base

    # The structure's Size, read where the section table maps its RVA.
    offset = None
    for i in range(sections):
        header = optional + optional_size + 40 * i
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from(
            '<4I', data, header + 8)
        if virtual_address <= rva < virtual_address + min(virtual_size, raw_size):
            offset = rva - virtual_address + raw_pointer
    if offset is None:
        fail('%s at RVA 0x%x lies in no section of %s' % (SYMBOL, rva, image_path))
    size = struct.unpack_from('<I', data, offset)[0]

    struct.pack_into('<II', data, optional + 96 + 8 * LOAD_CONFIG_ENTRY, rva, size)
    checksum_offset = optional + 64
    if struct.unpack_from('<I', data, checksum_offset)[0]:
        struct.pack_into('<I', data, checksum_offset, pe_checksum(bytes(data), checksum_offset))
    open(image_path, 'wb').write(data)


if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
