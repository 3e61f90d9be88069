#!/usr/bin/python3
# Damaged copies of the Access test files, as a worn USB stick or a copy cut short leaves them.
#
#   damage-jet.py corpus FIXTURES OUT           the named copies the tests hold the importer to
#   damage-jet.py random FIXTURES OUT N SEED    N random copies, for the long run
#
# Each writes OUT/manifest.tsv: file, the undamaged file it came from, and what the importer
# must answer: "incomplete" (refused as a copy cut short), "refused" (refused with a reason),
# "same" (the damage touches nothing the copy holds: converted as the undamaged file is), or
# "any" (random damage: refused, or converted).
import os
import random
import sys

PAGE = {'testV2000.mdb': 4096, 'test2V2000.mdb': 4096, 'testUnicodeCompV2003.mdb': 4096,
        'test2V1997.mdb': 2048, 'db-enc.mdb': 4096}

# Pages looked up in the files (mdb-export of MSysObjects gives each table's definition page;
# a data page names its table's definition page in bytes 4-7).
CORPUS = [
    # testV2000.mdb: catalogue rows on page 14, Table1 defined on 24 with its rows on 27,
    # pages 709-735 free.
    ('v2000-cut-at-page', 'testV2000.mdb', 'cut', 14 * 4096, 'incomplete'),
    ('v2000-cut-inside-page', 'testV2000.mdb', 'cut', 14 * 4096 + 100, 'incomplete'),
    ('v2000-cut-last-pages', 'testV2000.mdb', 'cut', 736 * 4096, 'incomplete'),
    ('v2000-zero-catalogue', 'testV2000.mdb', 'zero', 14, 'refused'),
    ('v2000-zero-table-rows', 'testV2000.mdb', 'zero', 27, 'refused'),
    ('v2000-zero-table-definition', 'testV2000.mdb', 'zero', 24, 'refused'),
    ('v2000-rows-over-catalogue', 'testV2000.mdb', 'copy', (27, 14), 'refused'),
    ('v2000-catalogue-over-rows', 'testV2000.mdb', 'copy', (14, 27), 'refused'),
    ('v2000-catalogue-row-table', 'testV2000.mdb', 'flip', 14 * 4096 + 13, 'refused'),
    ('v2000-catalogue-page-kind', 'testV2000.mdb', 'flip', 14 * 4096, 'refused'),
    ('v2000-header-version', 'testV2000.mdb', 'flip', 0x14, 'refused'),
    ('v2000-header-unused', 'testV2000.mdb', 'flip', 0x700, 'same'),
    ('v2000-free-page', 'testV2000.mdb', 'flip', 720 * 4096 + 1000, 'same'),
    # test2V2000.mdb: one wide table (MSP_PROJECTS) defined on 15, its row on 60, long values
    # on 28-33; zeroing 39's copy over 33 made libmdb loop for ever.
    ('2v2000-cut-at-page', 'test2V2000.mdb', 'cut', 48 * 4096, 'incomplete'),
    ('2v2000-zero-table-row', 'test2V2000.mdb', 'zero', 60, 'refused'),
    ('2v2000-zero-long-value', 'test2V2000.mdb', 'zero', 30, 'refused'),
    ('2v2000-long-value-looping', 'test2V2000.mdb', 'copy', (39, 33), 'refused'),
    ('2v2000-zero-catalogue', 'test2V2000.mdb', 'zero', 14, 'refused'),
    ('2v2000-table-map', 'test2V2000.mdb', 'flip', 15 * 4096 + 56, 'refused'),
    # testUnicodeCompV2003.mdb: catalogue rows on 17, the table's rows on 55.
    ('unicode-cut-at-page', 'testUnicodeCompV2003.mdb', 'cut', 40 * 4096, 'incomplete'),
    ('unicode-zero-table-rows', 'testUnicodeCompV2003.mdb', 'zero', 55, 'refused'),
    ('unicode-rows-offset', 'testUnicodeCompV2003.mdb', 'flip', 55 * 4096 + 15, 'refused'),
    # test2V1997.mdb (Jet 3, 2 KB pages): catalogue rows on 18, the table's row on 50; a
    # zeroed page 58 made libmdb loop for ever.
    ('jet3-cut-at-page', 'test2V1997.mdb', 'cut', 30 * 2048, 'incomplete'),
    ('jet3-zero-catalogue-long-value', 'test2V1997.mdb', 'zero', 58, 'refused'),
    ('jet3-zero-table-row', 'test2V1997.mdb', 'zero', 50, 'refused'),
    ('jet3-zero-catalogue', 'test2V1997.mdb', 'zero', 18, 'refused'),
    # db-enc.mdb: every page but the first encoded; catalogue rows on 14, Table1's rows on 24.
    ('encoded-cut-at-page', 'db-enc.mdb', 'cut', 10 * 4096, 'incomplete'),
    ('encoded-zero-catalogue', 'db-enc.mdb', 'zero', 14, 'refused'),
    ('encoded-page-moved', 'db-enc.mdb', 'copy', (11, 14), 'refused'),
    ('encoded-flip-rows', 'db-enc.mdb', 'flip', 24 * 4096 + 14, 'refused'),
    ('encoded-header-key', 'db-enc.mdb', 'flip', 0x3e, 'refused'),
]


def damage(data, page_size, operation, where, rng=None):
    data = bytearray(data)
    if operation == 'cut':
        return data[:where]
    if operation == 'zero':
        data[where * page_size:(where + 1) * page_size] = bytes(page_size)
    elif operation == 'copy':
        source, target = where
        data[target * page_size:(target + 1) * page_size] = data[source * page_size:(source + 1) * page_size]
    elif operation == 'flip':
        data[where] ^= 0x01
    elif operation == 'garble':
        for _ in range(8):
            data[where * page_size + rng.randrange(page_size)] = rng.randrange(256)
    return data


def write(out, name, data, source, expected, manifest):
    with open(os.path.join(out, name + '.mdb'), 'wb') as f:
        f.write(data)
    manifest.append('\t'.join((name + '.mdb', source, expected)))


def main():
    mode, fixtures, out = sys.argv[1:4]
    os.makedirs(out, exist_ok=True)
    originals = {}
    for name in PAGE:
        with open(os.path.join(fixtures, name), 'rb') as f:
            originals[name] = f.read()
    manifest = []
    if mode == 'corpus':
        for name, source, operation, where, expected in CORPUS:
            write(out, name, damage(originals[source], PAGE[source], operation, where), source, expected,
                  manifest)
    else:
        count, seed = int(sys.argv[4]), int(sys.argv[5])
        rng = random.Random(seed)
        for i in range(count):
            source = rng.choice(sorted(PAGE))
            page_size = PAGE[source]
            pages = len(originals[source]) // page_size
            operation = rng.choice(['zero', 'copy', 'flip', 'cut', 'garble'])
            if operation == 'cut':
                where = rng.randrange(1, pages) * page_size + rng.choice([0, 0, 0, rng.randrange(page_size)])
            elif operation == 'copy':
                where = (rng.randrange(1, pages), rng.randrange(1, pages))
            elif operation == 'flip':
                where = rng.randrange(len(originals[source]))
            else:
                where = rng.randrange(1, pages)
            data = damage(originals[source], page_size, operation, where, rng)
            write(out, '%04d-%s-%s' % (i, operation, source[:-4]), data, source, 'any', manifest)
    with open(os.path.join(out, 'manifest.tsv'), 'w') as f:
        f.write('\n'.join(manifest) + '\n')


main()
