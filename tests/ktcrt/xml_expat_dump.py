#!/usr/bin/env python3
"""Reads an XML file with expat (the engine behind Python's xml.etree) and prints the tree in the
dump format of tests/ktcrt/xml_test_util.h, so that the base library's reader can be compared with
an independent one.

expat is used through pyexpat directly, without namespace processing, because the library keeps
prefixes as written (xml.etree would turn them into {uri} names).

Where the library's reader deliberately differs, this script applies the library's rule to what
expat reports, so that the comparison still covers everything else:
  * comments and other "<!" constructs: the text read since the start of the element or since its
    last child element is discarded;
  * CDATA sections are dropped with their content, and the text before them is discarded too;
  * white space right after a start tag, a child element, a comment, a CDATA section or a
    processing instruction is skipped, and trailing space, tab, CR and LF of every text segment
    are trimmed;
  * processing instructions inside an element leave its text as it was;
  * a plain attribute name after the same name with a prefix replaces that value in place.
The C++ side handles one more difference: expat normalises tab, CR and LF in attribute values to
spaces, the library keeps them.
"""
import sys
import xml.parsers.expat

LEADING_SPACE = "".join(chr(i) for i in range(0x21))


def esc(text):
    out = []
    for ch in text:
        c = ord(ch)
        if 0x20 <= c < 0x7F and ch not in '"\\':
            out.append(ch)
        else:
            out.append("\\x{%X}" % c)
    return "".join(out)


class Node:
    def __init__(self, name, attrs):
        self.name = name
        self.attrs = attrs
        self.children = []
        self.text = ""
        self.skip = True
        self.in_cdata = False

    def flush(self):
        text = self.text.rstrip(" \t\r\n")
        if text:
            self.children.append(text)
        self.text = ""


def qualified(name):
    # Several colons: the prefix is the part between the last two, as the library reads names.
    parts = name.split(":")
    return name if len(parts) < 3 else parts[-2] + ":" + parts[-1]


def read(path):
    stack = []
    result = []
    parser = xml.parsers.expat.ParserCreate()
    parser.ordered_attributes = True

    def start(name, attrs):
        pairs = []
        for attr, value in zip(attrs[0::2], attrs[1::2]):
            attr = qualified(attr)
            # The library's matching rule: a plain name also matches a prefixed one, so a plain
            # attribute after x:name replaces that value in place.
            prefix, _, local = attr.rpartition(":")
            for i, (seen, _old) in enumerate(pairs):
                seen_prefix, _, seen_local = seen.rpartition(":")
                if seen_local == local and (not prefix or prefix == seen_prefix):
                    pairs[i] = (seen, value)
                    break
            else:
                pairs.append((attr, value))
        node = Node(qualified(name), pairs)
        if stack:
            stack[-1].flush()
            stack[-1].children.append(node)
        else:
            result.append(node)
        stack.append(node)

    def end(name):
        node = stack.pop()
        node.flush()
        if stack:
            stack[-1].skip = True

    def chars(data):
        if not stack:
            return
        node = stack[-1]
        if node.in_cdata:
            return
        if node.skip:
            data = data.lstrip(LEADING_SPACE)
            if not data:
                return
            node.skip = False
        node.text += data

    def comment(_data):
        if stack:
            stack[-1].text = ""
            stack[-1].skip = True

    def cdata_start():
        if stack:
            stack[-1].text = ""
            stack[-1].in_cdata = True

    def cdata_end():
        if stack:
            stack[-1].in_cdata = False
            stack[-1].skip = True

    def pi(_target, _data):
        if stack:
            stack[-1].skip = True

    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.CharacterDataHandler = chars
    parser.CommentHandler = comment
    parser.StartCdataSectionHandler = cdata_start
    parser.EndCdataSectionHandler = cdata_end
    parser.ProcessingInstructionHandler = pi
    with open(path, "rb") as f:
        parser.ParseFile(f)
    return result[0]


def dump(node, depth, out):
    line = "  " * depth + node.name
    for name, value in node.attrs:
        line += ' %s="%s"' % (name, esc(value))
    out.append(line + "\n")
    for child in node.children:
        if isinstance(child, str):
            out.append("  " * (depth + 1) + '"' + esc(child) + '"\n')
        else:
            dump(child, depth + 1, out)


def main():
    out = []
    dump(read(sys.argv[1]), 0, out)
    sys.stdout.write("".join(out))


if __name__ == "__main__":
    main()
