#!/usr/bin/env python3
"""Generates the base library's built-in code page tables and character-set name table.

The mappings come from Python's own codec tables (cp874, cp932, gbk for 936, cp949, cp950,
cp1250 .. cp1258), which follow the published Windows code page tables, with these corrections:
  - 932: lead bytes 0xF0-0xF9 (user-defined area) are left unmapped, and the single bytes 0x80,
    0xA0 and 0xFD-0xFF, which Python maps to U+0080 and private-use values, stay undefined as in
    the published table;
  - 936: 0x80 <-> U+20AC, which the published table has and Python's gbk codec lacks;
  - 950: the extension area from 0xC6A1 through lead byte 0xC7 is left unmapped;
  - Unicode-to-byte entries that do not decode back to the same character (best-fit mappings of
    Python's cp932/cp950 encoders, e.g. U+00A2 -> 0x8191) are dropped.

Writes:
  src/ktcrt/codepage/generated/encode_tables_cpNNNN.cpp  one per code page
  src/ktcrt/codepage/generated/encode_cpnames.cpp        the character-set name hash table
  tests/ktcrt/codepage_reference_checksums.h  per-code-page checksums of the reference mappings

Run from the repository root:  python3 tools/gen_codepage_tables.py
"""
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# code page, Python codec, lead bytes, expected header values (max char code, max Unicode)
CODEPAGES = [
    (874, 'cp874', (), 251, 8364),
    (932, 'cp932', list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD)), 64587, 65509),
    (936, 'gbk', list(range(0x81, 0xFF)), 65103, 65509),
    (949, 'cp949', list(range(0x81, 0xFF)), 65022, 65510),
    (950, 'cp950', list(range(0x81, 0xFF)), 63998, 65509),
] + [(cp, 'cp%d' % cp, (), 255, 8482) for cp in range(1250, 1259)]

NO_MAPPING = 0xFEFF
GAP = -1  # a short hole inside an array range, stored as the no-mapping marker

# Layout choices per direction: the shortest run worth a run range, the shortest group worth a
# base-plus-byte range (None: never), and the longest hole an array range may bridge. Few, mostly
# array ranges keep the bulk conversion loops predictable; runs and base-plus-byte ranges keep
# the tables small where the values allow.
DECODE_LAYOUT = (16, None, 16)
ENCODE_LAYOUT = (16, None, 16)


def decode_map(cp, codec, leads):
    """code -> Unicode value of the reference, corrections applied."""
    m = {}
    for b in range(256):
        if b in leads:
            continue
        try:
            s = bytes([b]).decode(codec)
        except UnicodeDecodeError:
            continue
        if len(s) == 1:
            m[b] = ord(s)
    for lead in leads:
        for trail in range(256):
            try:
                s = bytes([lead, trail]).decode(codec)
            except UnicodeDecodeError:
                continue
            if len(s) == 1 and ord(s) >= 0x80:
                m[(lead << 8) | trail] = ord(s)
    if cp == 932:
        for code in list(m):
            if 0xF000 <= code < 0xFA00 or code in (0x80, 0xA0, 0xFD, 0xFE, 0xFF):
                del m[code]
    elif cp == 936:
        m[0x80] = 0x20AC
    elif cp == 950:
        for code in list(m):
            if 0xC6A1 <= code < 0xC800:
                del m[code]
    return m


def encode_map(cp, codec, dm):
    """Unicode value -> code, keeping only entries that decode back to the same character."""
    m = {}
    for u in range(0x10000):
        if 0xD800 <= u < 0xE000:
            continue
        try:
            b = chr(u).encode(codec)
        except UnicodeEncodeError:
            continue
        code = b[0] if len(b) == 1 else (b[0] << 8) | b[1] if len(b) == 2 else None
        if code is not None and dm.get(code) == u:
            m[u] = code
    if cp == 936:
        m[0x20AC] = 0x80
    return m


def le16(v):
    return bytes([v & 0xFF, v >> 8])


def run_length(vals, i):
    j = i + 1
    while (j < len(vals) and vals[j] is not None and vals[j] != GAP and vals[j - 1] != GAP
           and vals[j] == vals[j - 1] + 1):
        j += 1
    return j - i


def base_group_length(vals, i):
    lo = hi = vals[i]
    j = i
    while j < len(vals) and vals[j] is not None and vals[j] != GAP:
        lo, hi = min(lo, vals[j]), max(hi, vals[j])
        if hi - lo > 255:
            break
        j += 1
    return j - i


def bridge_gaps(vals, max_gap):
    """Marks holes of at most max_gap keys between mapped values as GAP."""
    vals = list(vals)
    i = 0
    while i < len(vals):
        if vals[i] is None:
            j = i
            while j < len(vals) and vals[j] is None:
                j += 1
            if 0 < i and j < len(vals) and j - i <= max_gap:
                vals[i:j] = [GAP] * (j - i)
            i = j
        else:
            i += 1
    return vals


def segment(start, vals, cover_gaps, layout):
    """Splits a stretch of keys into ranges (first key, last key, type, data bytes).

    Holes become type-3 ranges when cover_gaps is set (the byte-to-Unicode ranges must cover every
    trail byte), otherwise they are left out (a value in no range is unmappable)."""
    run_min, group_min, max_gap = layout
    vals = bridge_gaps(vals, max_gap)
    out = []
    pending = []  # values collected for an array range

    def flush(end):
        if pending:
            out.append((start + end - len(pending), start + end - 1, 1,
                        b''.join(le16(NO_MAPPING if v == GAP else v) for v in pending)))
            pending.clear()

    i = 0
    n = len(vals)
    while i < n:
        if vals[i] is None:
            flush(i)
            j = i
            while j < n and vals[j] is None:
                j += 1
            if cover_gaps:
                out.append((start + i, start + j - 1, 3, b''))
            i = j
            continue
        if vals[i] != GAP:
            r = run_length(vals, i)
            if r >= run_min:
                flush(i)
                out.append((start + i, start + i + r - 1, 2, le16(vals[i])))
                i += r
                continue
            g = base_group_length(vals, i) if group_min else 0
            if group_min and g >= group_min:
                # stop the group before a run that deserves its own range
                k = i + 1
                while k < i + g and run_length(vals, k) < run_min:
                    k += 1
                g = k - i
            if group_min and g >= group_min:
                flush(i)
                group = vals[i:i + g]
                lo = min(group)
                out.append((start + i, start + i + g - 1, 4,
                            le16(lo) + bytes(v - lo for v in group)))
                i += g
                continue
        pending.append(vals[i])
        i += 1
    flush(n)
    return out


class DataBlock:
    def __init__(self):
        self.data = bytearray()
        self.offsets = {}

    def add(self, payload):
        if not payload:
            return 0
        if payload not in self.offsets:
            self.offsets[payload] = len(self.data)
            self.data += payload
        off = self.offsets[payload]
        assert off + len(payload) <= 0x10000, 'data block offset does not fit in 16 bits'
        return off


def c_bytes(data, indent='    '):
    lines = []
    for i in range(0, len(data), 16):
        lines.append(indent + ', '.join('0x%02X' % b for b in data[i:i + 16]) + ',')
    return '\n'.join(lines) if lines else indent + '0x00,'


def fnv1a(words):
    h = 0x811C9DC5
    for w in words:
        for byte in (w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF, (w >> 24) & 0xFF):
            h = ((h ^ byte) * 0x01000193) & 0xFFFFFFFF
    return h


LEAD_MARK = 0xFFFFFFFF
UNMAPPED_CODE = 0xFFFF


def decode_stream(dm, leads):
    """Canonical sequence the tests rebuild: every single byte, then every lead/trail pair."""
    for b in range(256):
        yield LEAD_MARK if b in leads else dm.get(b, NO_MAPPING)
    for lead in leads:
        for trail in range(256):
            yield dm.get((lead << 8) | trail, NO_MAPPING)


def encode_stream(em):
    for u in range(0x10000):
        yield em.get(u, UNMAPPED_CODE)


HEADER_NOTE = ('// Generated by tools/gen_codepage_tables.py from Python\'s codec tables; '
               'do not edit.\n'
               '// Regenerate from the repository root with: '
               'python3 tools/gen_codepage_tables.py\n')


def lead_block(leads, dm):
    """(first lead, lead count, first trail, trail count) of the longest run of consecutive
    lead bytes, trimmed to lead bytes with mappings; None for a single-byte code page."""
    mapped = sorted(b for b in leads if any(((b << 8) | t) in dm for t in range(256)))
    if not mapped:
        return None
    best = None
    b = mapped[0]
    while b <= mapped[-1]:
        if b not in leads:
            b += 1
            continue
        e = b
        while e + 1 in leads and e + 1 <= mapped[-1]:
            e += 1
        run = [x for x in mapped if b <= x <= e]
        if run and (best is None or run[-1] - run[0] > best[1] - best[0]):
            best = (run[0], run[-1])
        b = e + 1
    trails = [code & 0xFF for code in dm if code > 0xFF and best[0] <= code >> 8 <= best[1]]
    return (best[0], best[1] - best[0] + 1, min(trails), max(trails) - min(trails) + 1)


def gen_codepage(cp, codec, leads, max_code, max_uni):
    leads = set(leads)
    assert all(b >= 0x80 for b in leads), 'the decoder takes bytes below 0x80 as single bytes'
    dm = decode_map(cp, codec, leads)
    em = encode_map(cp, codec, dm)
    # The single-byte pages whose last bytes are undefined (1253, 1255) end below 255.
    assert max(dm) == max_code or (not leads and max(dm) < max_code), (cp, max(dm))
    max_code = max(dm)
    assert max(dm.values()) == max_uni, (cp, max(dm.values()))
    assert all(v != NO_MAPPING for v in dm.values())

    # byte-to-Unicode map. The longest stretch of consecutive lead bytes is laid out first in
    # the data block as one array per lead byte, all over the same trail bytes, so the decoder
    # can find a pair by arithmetic alone; the other lead bytes get compact ranges.
    block = lead_block(leads, dm)
    cu_data = DataBlock()
    if block:
        first_lead, nleads, first_trail, ntrails = block
        for b in range(first_lead, first_lead + nleads):
            cu_data.data += b''.join(le16(dm.get((b << 8) | t, NO_MAPPING))
                                     for t in range(first_trail, first_trail + ntrails))
        assert len(cu_data.data) <= 0x10000
    index1 = []
    index2 = []
    for b in range(256):
        if b in leads:
            if block and first_lead <= b < first_lead + nleads:
                off = (b - first_lead) * ntrails * 2
                ranges = [(0, first_trail - 1, 3, None)] if first_trail > 0 else []
                ranges.append((first_trail, first_trail + ntrails - 1, 1, off))
                if first_trail + ntrails < 256:
                    ranges.append((first_trail + ntrails, 255, 3, None))
                ranges = [(f, l, t, b'' if o is None else o) for f, l, t, o in ranges]
            else:
                vals = [dm.get((b << 8) | t) for t in range(256)]
                ranges = segment(0, vals, True, DECODE_LAYOUT)
            index1.append((len(ranges), len(index2)))
            for first, _last, rtype, payload in ranges:
                off = payload if isinstance(payload, int) else cu_data.add(payload)
                index2.append((first, rtype, off))
        else:
            index1.append((0, dm.get(b, NO_MAPPING)))
    assert len(index2) < 0x10000

    # Unicode-to-byte map
    uc_data = DataBlock()
    keys = sorted(em)
    uc_ranges = []
    i = 0
    while i < len(keys):
        j = i
        while j + 1 < len(keys) and keys[j + 1] == keys[j] + 1:
            j += 1
        vals = [em[u] for u in range(keys[i], keys[j] + 1)]
        for first, last, rtype, payload in segment(keys[i], vals, False, ENCODE_LAYOUT):
            uc_ranges.append((first, last, rtype, uc_data.add(payload)))
        i = j + 1

    p = 'g_CP%d_' % cp
    out = [HEADER_NOTE, '#include "encode_int.h"\n',
           '// Code page %d: %d byte codes, %d Unicode values encodable.' % (cp, len(dm), len(em)),
           'const _KT_CPMAPHEADER %sMapHeader = {%d, 1, %d, %d, %d, 0, %d, 63, 0, %d, 63};\n' % (
               p, cp, 2 if leads else 1, 2 if leads else 1, 1 if leads else 0, max_code, max_uni),
           'static const _KT_CUMAPINDEX1 %sCUMapIndex1[256] = {' % p]
    for k in range(0, 256, 8):
        out.append('    ' + ' '.join('{%d, 0x%04X},' % e for e in index1[k:k + 8]))
    out.append('};\n')
    if index2:
        out.append('static const _KT_CUMAPINDEX2 %sCUMapIndex2[%d] = {' % (p, len(index2)))
        for k in range(0, len(index2), 8):
            out.append('    ' + ' '.join('{0x%02X, %d, %d},' % e for e in index2[k:k + 8]))
        out.append('};\n')
        idx2 = p + 'CUMapIndex2'
    else:
        idx2 = 'nullptr'
    out.append('static const unsigned char %sCUData[%d] = {' % (p, max(1, len(cu_data.data))))
    out.append(c_bytes(cu_data.data))
    out.append('};\n')
    out.append('const _KT_CUMAP %sCUMap = {%sCUMapIndex1, %s, %sCUData};\n' % (p, p, idx2, p))
    out.append('static const _KT_UCMAPRANGE %sUCMapIndex[%d] = {' % (p, len(uc_ranges)))
    for k in range(0, len(uc_ranges), 4):
        out.append('    ' + ' '.join('{0x%04X, 0x%04X, %d, %d},' % e for e in uc_ranges[k:k + 4]))
    out.append('};\n')
    out.append('static const unsigned char %sUCData[%d] = {' % (p, max(1, len(uc_data.data))))
    out.append(c_bytes(uc_data.data))
    out.append('};\n')
    out.append('const _KT_UCMAP %sUCMap = {%d, %sUCMapIndex, %sUCData};\n'
               % (p, len(uc_ranges), p, p))

    # Search shortcuts for the bulk conversions: per lead byte and 32-value block of trail bytes,
    # the range holding the block's first trail byte (relative to the lead byte's ranges); per
    # 32-value block of Unicode values, the first range that does not end before the block.
    trail_blocks = []
    for b in sorted(leads):
        count, first = index1[b]
        starts = [index2[first + k][0] for k in range(count)]
        trail_blocks.append((b, [max(k for k in range(count) if starts[k] <= blk * 32)
                                 for blk in range(8)]))
    # Bit 15 of a Unicode block entry: the whole block lies inside that one range.
    nblocks = (max_uni >> 5) + 1
    ublocks = []
    k = 0
    for blk in range(nblocks):
        while k < len(uc_ranges) and uc_ranges[k][1] < blk * 32:
            k += 1
        exact = (k < len(uc_ranges) and uc_ranges[k][0] <= blk * 32
                 and uc_ranges[k][1] >= blk * 32 + 31)
        assert k < 0x8000
        ublocks.append(k | (0x8000 if exact else 0))
    if trail_blocks:
        out.append('static const uint8_t %sCUMapTrailBlocks[256][8] = {' % p)
        rows = dict(trail_blocks)
        for b in range(256):
            out.append('    {%s},' % ', '.join(str(v) for v in rows.get(b, [0] * 8)))
        out.append('};\n')
    out.append('static const uint16_t %sUCMapBlocks[%d] = {' % (p, nblocks))
    for k in range(0, nblocks, 16):
        out.append('    ' + ' '.join('%d,' % v for v in ublocks[k:k + 16]))
    out.append('};\n')
    ascii_identity = all(dm.get(c) == c and em.get(c) == c for c in range(0x80))
    out.append('const _KT_CODEPAGE_SHORTCUTS %sShortcuts = '
               '{{0x%02X, %d, 0x%02X, %d}, %s, %sUCMapBlocks, %d, %s};' % (
        p, *(block or (0, 0, 0, 0)),
        p + 'CUMapTrailBlocks' if trail_blocks else 'nullptr', p, nblocks,
        'true' if ascii_identity else 'false'))
    path = os.path.join(ROOT, 'src/ktcrt/codepage/generated/encode_tables_cp%d.cpp' % cp)
    with open(path, 'w') as f:
        f.write('\n'.join(out) + '\n')
    size = os.path.getsize(path)
    assert size < 1 << 20, (path, size)
    print('cp%-5d %6d codes %6d encodable  %4d lead ranges  %5d unicode ranges  %6d+%6d data bytes'
          % (cp, len(dm), len(em), len(index2), len(uc_ranges), len(cu_data.data),
             len(uc_data.data)))
    return (cp, len(dm), len(em), fnv1a(decode_stream(dm, leads)), fnv1a(encode_stream(em)))


# Character-set names and aliases with the code page each one selects. Latin-1 and ASCII names
# select 1252, the Windows superset that the built-in conversion serves.
CHARSET_NAMES = {
    37: ['ibm037', 'cp037', 'ebcdic-cp-us'],
    437: ['ibm437', 'cp437', '437'],
    500: ['ibm500', 'cp500'],
    708: ['asmo-708'],
    720: ['dos-720'],
    737: ['ibm737'],
    775: ['ibm775'],
    850: ['ibm850', 'cp850'],
    852: ['ibm852', 'cp852'],
    855: ['ibm855'],
    857: ['ibm857', 'cp857'],
    858: ['ibm00858'],
    860: ['ibm860'],
    861: ['ibm861'],
    862: ['dos-862', 'ibm862', 'cp862'],
    863: ['ibm863'],
    864: ['ibm864'],
    865: ['ibm865'],
    866: ['cp866', 'ibm866'],
    869: ['ibm869'],
    870: ['ibm870'],
    874: ['windows-874', 'dos-874', 'iso-8859-11', 'tis-620'],
    875: ['cp875'],
    932: ['shift_jis', 'shift-jis', 'sjis', 'x-sjis', 'ms_kanji', 'csshiftjis', 'cswindows31j',
          'windows-31j', 'x-ms-cp932', 'iso-2022-jp'],
    936: ['gb2312', 'gbk', 'chinese', 'cn-gb', 'csgb2312', 'csgb231280', 'csiso58gb231280',
          'gb_2312-80', 'gb231280', 'gb2312-80', 'iso-ir-58', 'x-gbk', 'cp936', 'windows-936'],
    949: ['ks_c_5601-1987', 'euc-kr', 'cseuckr', 'csksc56011987', 'iso-ir-149', 'korean',
          'ks_c_5601', 'ks_c_5601_1987', 'ks_c_5601-1989', 'ksc_5601', 'ksc5601', 'cp949', 'uhc',
          'windows-949'],
    950: ['big5', 'cn-big5', 'csbig5', 'x-x-big5', 'cp950', 'windows-950', 'big5-hkscs'],
    1026: ['ibm1026'],
    1047: ['ibm01047'],
    1200: ['utf-16', 'unicode', 'ucs-2', 'iso-10646-ucs-2', 'utf-16le'],
    1201: ['unicodefffe', 'utf-16be'],
    1250: ['windows-1250', 'x-cp1250', 'cp1250'],
    1251: ['windows-1251', 'x-cp1251', 'cp1251'],
    1252: ['windows-1252', 'x-ansi', 'cp1252', 'iso-8859-1', 'iso8859-1', 'iso_8859-1',
           'iso_8859-1:1987', 'latin1', 'l1', 'cp819', 'ibm819', 'csisolatin1', 'iso-ir-100',
           'us-ascii', 'ascii', 'us', 'ansi_x3.4-1968', 'ansi_x3.4-1986', 'csascii', 'cp367',
           'ibm367', 'iso-ir-6', 'iso646-us', 'iso_646.irv:1991'],
    1253: ['windows-1253', 'cp1253'],
    1254: ['windows-1254', 'cp1254'],
    1255: ['windows-1255', 'cp1255'],
    1256: ['windows-1256', 'cp1256'],
    1257: ['windows-1257', 'cp1257'],
    1258: ['windows-1258', 'cp1258'],
    1361: ['johab'],
    10000: ['macintosh', 'mac', 'csmacintosh'],
    10001: ['x-mac-japanese'],
    10002: ['x-mac-chinesetrad'],
    10003: ['x-mac-korean'],
    10004: ['x-mac-arabic'],
    10005: ['x-mac-hebrew'],
    10006: ['x-mac-greek'],
    10007: ['x-mac-cyrillic'],
    10008: ['x-mac-chinesesimp'],
    10010: ['x-mac-romanian'],
    10017: ['x-mac-ukrainian'],
    10021: ['x-mac-thai'],
    10029: ['x-mac-ce'],
    10079: ['x-mac-icelandic'],
    10081: ['x-mac-turkish'],
    10082: ['x-mac-croatian'],
    12000: ['utf-32', 'utf-32le'],
    12001: ['utf-32be'],
    20000: ['x-chinese-cns'],
    20002: ['x-chinese-eten'],
    20105: ['x-ia5'],
    20106: ['x-ia5-german'],
    20107: ['x-ia5-swedish'],
    20108: ['x-ia5-norwegian'],
    20273: ['ibm273', 'cp273'],
    20277: ['ibm277'],
    20278: ['ibm278'],
    20280: ['ibm280'],
    20284: ['ibm284'],
    20285: ['ibm285'],
    20290: ['ibm290'],
    20297: ['ibm297'],
    20420: ['ibm420'],
    20423: ['ibm423'],
    20424: ['ibm424'],
    20833: ['x-ebcdic-koreanextended'],
    20838: ['ibm-thai'],
    20866: ['koi8-r', 'cskoi8r', 'koi', 'koi8', 'koi8r'],
    20871: ['ibm871'],
    20880: ['ibm880'],
    20905: ['ibm905'],
    20924: ['ibm00924'],
    20936: ['x-cp20936'],
    20949: ['x-cp20949'],
    21025: ['cp1025'],
    21866: ['koi8-u', 'koi8-ru'],
    28592: ['iso-8859-2', 'iso_8859-2', 'latin2', 'l2', 'csisolatin2', 'iso-ir-101'],
    28593: ['iso-8859-3', 'latin3', 'iso-ir-109'],
    28594: ['iso-8859-4', 'latin4', 'iso-ir-110'],
    28595: ['iso-8859-5', 'cyrillic', 'iso-ir-144'],
    28596: ['iso-8859-6', 'arabic', 'iso-ir-127'],
    28597: ['iso-8859-7', 'greek', 'iso-ir-126'],
    28598: ['iso-8859-8', 'hebrew', 'iso-ir-138'],
    28599: ['iso-8859-9', 'latin5', 'iso-ir-148'],
    28603: ['iso-8859-13'],
    28605: ['iso-8859-15', 'latin-9', 'latin9'],
    38598: ['iso-8859-8-i'],
    50220: ['csiso2022jp'],
    50221: ['x-cp50221'],
    50225: ['iso-2022-kr', 'csiso2022kr'],
    51932: ['euc-jp', 'cseucpkdfmtjapanese', 'x-euc', 'x-euc-jp'],
    51936: ['euc-cn', 'x-euc-cn'],
    52936: ['hz-gb-2312'],
    54936: ['gb18030'],
    57002: ['x-iscii-de'],
    57003: ['x-iscii-be'],
    57004: ['x-iscii-ta'],
    57005: ['x-iscii-te'],
    57006: ['x-iscii-as'],
    57007: ['x-iscii-or'],
    57008: ['x-iscii-ka'],
    57009: ['x-iscii-ma'],
    57010: ['x-iscii-gu'],
    57011: ['x-iscii-pa'],
    65000: ['utf-7', 'csunicode11utf7', 'unicode-1-1-utf-7', 'unicode-2-0-utf-7',
            'x-unicode-1-1-utf-7', 'x-unicode-2-0-utf-7'],
    65001: ['utf-8', 'unicode-1-1-utf-8', 'unicode-2-0-utf-8', 'x-unicode-1-1-utf-8',
            'x-unicode-2-0-utf-8', 'utf8'],
}
NAME_COUNT = 255
CODEPAGE_COUNT = 117


def name_hash(name):
    h = 0
    for ch in name.encode('latin-1'):
        if 0x41 <= ch <= 0x5A:
            ch += 0x20
        if ch >= 0x80:
            ch -= 0x100
        h = (h * 31 + ch) & 0xFFFFFFFF
    return h


def gen_names():
    entries = {}
    names = 0
    for cp, aliases in CHARSET_NAMES.items():
        for name in aliases:
            h = name_hash(name)
            assert h not in entries or entries[h][0] == cp, ('hash clash', name, entries.get(h))
            if h in entries:
                entries[h][1].append(name)
            else:
                entries[h] = (cp, [name])
            names += 1
    print('%d names, %d hashes, %d code pages' % (names, len(entries), len(CHARSET_NAMES)))
    assert names == len(entries) == NAME_COUNT, names
    assert len(CHARSET_NAMES) == CODEPAGE_COUNT, len(CHARSET_NAMES)
    out = [HEADER_NOTE, '#include "encode_int.h"\n',
           '// Character-set names and aliases (hashed ignoring case) with their code pages,',
           '// in ascending hash order for binary search.',
           'const _KT_CPHASHENTRY g_KTCPHashTable[%d] = {' % len(entries)]
    for h in sorted(entries):
        cp, nm = entries[h]
        out.append('    {0x%08Xu, %5d}, // %s' % (h, cp, ', '.join(nm)))
    out.append('};')
    with open(os.path.join(ROOT, 'src/ktcrt/codepage/generated/encode_cpnames.cpp'), 'w') as f:
        f.write('\n'.join(out) + '\n')


def main():
    sums = [gen_codepage(*c) for c in CODEPAGES]
    gen_names()
    out = [HEADER_NOTE.replace('codec tables', 'codec tables (reference mappings)'),
           '#ifndef KTCRT_TESTS_CODEPAGE_REFERENCE_CHECKSUMS_H',
           '#define KTCRT_TESTS_CODEPAGE_REFERENCE_CHECKSUMS_H\n',
           '// Per code page: number of byte codes mapped, number of Unicode values encodable, and',
           '// FNV-1a checksums of the decode of every single byte and lead/trail pair and of the',
           '// encode of every value 0..0xFFFF (see tools/gen_codepage_tables.py for the order).',
           'struct CodePageReference',
           '{',
           '    int nCodePage;',
           '    int nMappedCodes;',
           '    int nEncodable;',
           '    unsigned int nDecodeSum;',
           '    unsigned int nEncodeSum;',
           '};\n',
           'static const CodePageReference kCodePageReferences[] = {']
    for s in sums:
        out.append('    {%d, %d, %d, 0x%08Xu, 0x%08Xu},' % s)
    out += ['};\n', '#endif // KTCRT_TESTS_CODEPAGE_REFERENCE_CHECKSUMS_H']
    with open(os.path.join(ROOT, 'tests/ktcrt/codepage_reference_checksums.h'), 'w') as f:
        f.write('\n'.join(out) + '\n')


if __name__ == '__main__':
    sys.exit(main())
