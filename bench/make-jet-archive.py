#!/usr/bin/python3
# Writes an Access (Jet 4) student archive for the Access benchmark: the pages of a small file
# written by Access itself, with its one user table ("Table", defined on page 53) renamed 学生,
# defined anew with the columns of the student table and filled with STUDENTS students, each
# with a photo of PHOTO_BYTES bytes kept as a chain of long-value pages, as Access keeps an OLE
# object.
#
#   make-jet-archive.py TEMPLATE OUT STUDENTS PHOTO_BYTES
#
# TEMPLATE is testUnicodeCompV2003.mdb of the Access test files.
import random
import struct
import sys

PAGE = 4096
TABLE_DEFINITION = 53
CATALOGUE_ROWS = 17   # the data page of MSysObjects holding the table's row
CATALOGUE_FIXED = 30  # Id, ParentId, Type, DateCreate, DateUpdate, Flags; Name is the first
                      # column of variable length
TEXT, OLE, LONG = 0x0a, 0x0b, 0x04
COLUMNS = [('id', LONG), ('姓名', TEXT), ('编号', TEXT), ('班级', TEXT), ('照片', OLE), ('性别', TEXT),
           ('住址', TEXT), ('电话', TEXT), ('简介', OLE), ('出生年月', TEXT), ('选项', TEXT)]
ROW_TABLE = 14        # a data page's row count, then its row offsets
LONG_VALUE_CHUNK = PAGE - ROW_TABLE - 2 - 4


def page_with_rows(kind_bytes, rows):
    """A data or long-value page holding `rows`, stored from the page's end backwards."""
    page = bytearray(PAGE)
    page[0:2] = b'\x01\x01'
    page[4:8] = kind_bytes
    end = PAGE
    starts = []
    for row in rows:
        end -= len(row)
        page[end:end + len(row)] = row
        starts.append(end)
    struct.pack_into('<H', page, 12, len(rows))
    for i, start in enumerate(starts):
        struct.pack_into('<H', page, ROW_TABLE + 2 * i, start)
    struct.pack_into('<H', page, 2, end - (ROW_TABLE + 2 * len(rows)))
    return page


def rows_of(page):
    """The rows of a data page, each with the flags of its entry in the row table."""
    count = struct.unpack_from('<H', page, 12)[0]
    rows = []
    end = PAGE
    for i in range(count):
        entry = struct.unpack_from('<H', page, ROW_TABLE + 2 * i)[0]
        start = entry & 0x1fff
        rows.append((entry & 0xe000, bytes(page[start:end])))
        end = start
    return rows


def renamed(row, name):
    """A catalogue row with its Name, the first column of variable length, replaced."""
    columns = struct.unpack_from('<H', row, 0)[0]
    mask = (columns + 7) // 8
    count = struct.unpack_from('<H', row, len(row) - mask - 2)[0]
    # Offsets stand in reverse before the count, the end of the data before them.
    offsets = [struct.unpack_from('<H', row, len(row) - mask - 4 - 2 * i)[0] for i in range(count + 1)]
    old = offsets[1] - offsets[0]
    new = name.encode('utf-16-le')
    data = row[:offsets[0]] + new + row[offsets[1]:offsets[count]]
    delta = len(new) - old
    shifted = [offsets[0]] + [o + delta for o in offsets[1:]]
    tail = b''.join(struct.pack('<H', o) for o in reversed(shifted))
    return data + tail + struct.pack('<H', count) + row[len(row) - mask:]


def catalogue_with_name(page, definition_page, name):
    rows = []
    for flags, row in rows_of(page):
        if not flags and len(row) > 6 and struct.unpack_from('<i', row, 2)[0] & 0xffffff == definition_page:
            row = renamed(row, name)
        rows.append((flags, row))
    result = page_with_rows(page[4:8], [row for _, row in rows])
    for i, (flags, _) in enumerate(rows):
        entry = struct.unpack_from('<H', result, ROW_TABLE + 2 * i)[0]
        struct.pack_into('<H', result, ROW_TABLE + 2 * i, entry | flags)
    return result


def definition(template, students, map_page):
    page = bytearray(PAGE)
    page[0:0x3f] = template[0:0x3f]
    struct.pack_into('<I', page, 0x04, 0)                  # no further definition page
    struct.pack_into('<I', page, 0x10, students)           # rows
    struct.pack_into('<I', page, 0x14, students)           # last autonumber given
    struct.pack_into('<H', page, 0x29, len(COLUMNS))
    struct.pack_into('<H', page, 0x2b, len(COLUMNS) - 1)   # all but id are of variable length
    struct.pack_into('<H', page, 0x2d, len(COLUMNS))
    struct.pack_into('<I', page, 0x2f, 0)                  # no indexes
    struct.pack_into('<I', page, 0x33, 0)
    struct.pack_into('<I', page, 0x37, map_page << 8)      # usage map: row 0 of the map page
    struct.pack_into('<I', page, 0x3b, map_page << 8 | 1)  # free-space map: row 1
    at = 0x3f
    for number, (name, kind) in enumerate(COLUMNS):
        entry = bytearray(25)
        entry[0] = kind
        struct.pack_into('<H', entry, 5, number)
        struct.pack_into('<H', entry, 7, max(number - 1, 0))
        struct.pack_into('<H', entry, 9, number)
        if kind == TEXT:
            entry[11:13] = b'\x09\x04'                     # general sort order
        entry[15] = 0x07 if kind == LONG else 0x02         # fixed, nullable, autonumber / nullable
        struct.pack_into('<H', entry, 23, {LONG: 4, TEXT: 510, OLE: 0}[kind])
        page[at:at + 25] = entry
        at += 25
    for name, _ in COLUMNS:
        encoded = name.encode('utf-16-le')
        struct.pack_into('<H', page, at, len(encoded))
        page[at + 2:at + 2 + len(encoded)] = encoded
        at += 2 + len(encoded)
    struct.pack_into('<I', page, 0x08, at)                 # length of the definition
    struct.pack_into('<H', page, 0x02, PAGE - at)
    return page


def row(student, photo_pointer):
    """One row in Jet 4's layout: column count, fixed columns, variable ones, their offsets
    in reverse, their count, and the mask of columns that are not NULL."""
    number, name, code, klass, sex, address, phone, born, option = student
    variable = [name, code, klass, photo_pointer, sex, address, phone, None, born, option]
    data = bytearray(struct.pack('<H', len(COLUMNS)) + struct.pack('<i', number))
    offsets = []
    for value in variable:
        offsets.append(len(data))
        if value is not None:
            data += value if isinstance(value, bytes) else value.encode('utf-16-le')
    data += struct.pack('<H', len(data))
    for offset in reversed(offsets):
        data += struct.pack('<H', offset)
    data += struct.pack('<H', len(variable))
    mask = 1  # id
    for i, value in enumerate(variable):
        if value is not None:
            mask |= 1 << (i + 1)
    return bytes(data + struct.pack('<H', mask))


def main():
    template_path, out, students, photo_bytes = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    with open(template_path, 'rb') as f:
        template = bytearray(f.read())
    first_page = len(template) // PAGE
    rng = random.Random(26)

    rows = []
    long_value_pages = []
    chunks = (photo_bytes + LONG_VALUE_CHUNK - 1) // LONG_VALUE_CHUNK
    rows_per_page = 25
    data_pages = (students + rows_per_page - 1) // rows_per_page
    map_page = first_page
    next_long_value = first_page + 1 + data_pages
    for s in range(students):
        photo = rng.randbytes(photo_bytes)
        first = next_long_value
        for c in range(chunks):
            following = (next_long_value + 1) << 8 if c + 1 < chunks else 0
            chunk = photo[c * LONG_VALUE_CHUNK:(c + 1) * LONG_VALUE_CHUNK]
            long_value_pages.append(page_with_rows(b'LVAL', [struct.pack('<I', following) + chunk]))
            next_long_value += 1
        pointer = struct.pack('<III', photo_bytes, first << 8, 0)
        rows.append(row((s + 1, '学生%04d' % (s + 1), '2024%04d' % (s + 1), '七(%d)班' % (s % 10 + 1),
                         '男' if s % 2 else '女', '青禾路 %d 号' % (s + 1), '1380000%04d' % s, '2012-05', ''),
                        pointer))

    definition_page = definition(template[TABLE_DEFINITION * PAGE:(TABLE_DEFINITION + 1) * PAGE], students,
                                 map_page)
    template[TABLE_DEFINITION * PAGE:(TABLE_DEFINITION + 1) * PAGE] = definition_page
    catalogue = template[CATALOGUE_ROWS * PAGE:(CATALOGUE_ROWS + 1) * PAGE]
    template[CATALOGUE_ROWS * PAGE:(CATALOGUE_ROWS + 1) * PAGE] = catalogue_with_name(catalogue, TABLE_DEFINITION,
                                                                                         '学生')
    bitmap = bytearray((data_pages + 7) // 8)
    for i in range(data_pages):
        bitmap[i // 8] |= 1 << (i % 8)
    usage = b'\x00' + struct.pack('<I', first_page + 1) + bytes(bitmap)
    free = b'\x00' + struct.pack('<I', first_page + 1) + bytes(len(bitmap))
    with open(out, 'wb') as f:
        f.write(template)
        f.write(page_with_rows(struct.pack('<I', 0), [usage, free]))
        owner = struct.pack('<I', TABLE_DEFINITION)
        for p in range(data_pages):
            f.write(page_with_rows(owner, rows[p * rows_per_page:(p + 1) * rows_per_page]))
        for page in long_value_pages:
            f.write(page)


main()
