// Helpers shared by the XML tests: a readable dump of a tree, and temp files.
#ifndef TESTS_KTCRT_XML_TEST_UTIL_H
#define TESTS_KTCRT_XML_TEST_UTIL_H

#include "kt_basic.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace xmltest {

// Characters outside printable ASCII (and '"', '\\') are written as \x{HEX}.
inline std::string Escape(const wchar_t *p, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i) {
        const unsigned c = unsigned(p[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += char(c);
        } else {
            char buf[16];
            snprintf(buf, sizeof buf, "\\x{%X}", c);
            out += buf;
        }
    }
    return out;
}

inline std::string Bytes(const CKT_ByteStringL &s) { return std::string(s.GetCStr() ? s.GetCStr() : "", size_t(s.GetLength())); }

// One node per line, two spaces of indent per level:
//   prefix:tag a="1" x:b="2"
//     "text"
inline void DumpInto(const CXML_Element *e, int depth, std::string &out)
{
    out.append(size_t(depth) * 2, ' ');
    out += e->GetTagName(true).GetCStr();
    for (int i = 0; i < e->m_AttrMap.GetSize(); ++i) {
        CKT_ByteString prefix, name;
        CKT_WideString value;
        e->GetAttrByIndex(i, prefix, name, value);
        out += ' ';
        if (prefix.GetLength()) {
            out += prefix.GetCStr();
            out += ':';
        }
        out += std::string(name.GetCStr(), size_t(name.GetLength()));
        out += "=\"" + Escape(value.GetCStr(), value.GetLength()) + "\"";
    }
    out += '\n';
    for (int i = 0; i < e->CountChildren(); ++i) {
        if (const CXML_Element *child = e->GetElement(i)) {
            DumpInto(child, depth + 1, out);
        } else if (const CKT_WideStringL *text = e->GetContentPtr(i)) {
            out.append(size_t(depth + 1) * 2, ' ');
            out += "\"" + Escape(text->GetPtr(), text->GetLength()) + "\"\n";
        }
    }
}

// The whole tree as text; "(none)" for a null root.
inline std::string Dump(const CXML_Element *e)
{
    if (!e)
        return "(none)";
    std::string out;
    DumpInto(e, 0, out);
    return out;
}

struct ElementDeleter
{
    void operator()(CXML_Element *e) const { delete e; }
};
typedef std::unique_ptr<CXML_Element, ElementDeleter> ElementPtr;

inline ElementPtr ParseText(const std::string &text, int keepWhitespace = 0,
                            long long *parsedSize = nullptr)
{
    return ElementPtr(CXML_Element::Parse(text.data(), unsigned(text.size()), keepWhitespace,
                                          parsedSize, nullptr));
}

// A file in the per-test temporary folder, removed at the end of the scope.
class TempFile
{
public:
    explicit TempFile(const std::string &content = std::string())
    {
        const char *dir = getenv("TMPDIR");
        m_Path = std::string(dir && *dir ? dir : "/tmp") + "/ktxml-XXXXXX";
        const int fd = mkstemp(&m_Path[0]);
        if (fd >= 0) {
            size_t done = 0;
            while (done < content.size()) {
                const ssize_t n = write(fd, content.data() + done, content.size() - done);
                if (n <= 0)
                    break;
                done += size_t(n);
            }
            close(fd);
        }
    }
    ~TempFile() { unlink(m_Path.c_str()); }
    const std::string &Path() const { return m_Path; }
    std::string Read() const
    {
        std::string out;
        if (FILE *f = fopen(m_Path.c_str(), "rb")) {
            char buf[4096];
            size_t n;
            while ((n = fread(buf, 1, sizeof buf, f)) > 0)
                out.append(buf, n);
            fclose(f);
        }
        return out;
    }

private:
    std::string m_Path;
};

// Parses a file through the block-wise file accessor.
inline ElementPtr ParseFile(const std::string &path, int keepWhitespace = 0,
                            long long *parsedSize = nullptr)
{
    IKT_FileRead *file = KT_CreateFileRead(path.c_str());
    if (!file)
        return ElementPtr();
    ElementPtr root(CXML_Element::Parse(file, keepWhitespace, parsedSize, nullptr));
    file->Release();
    return root;
}

} // namespace xmltest

#endif // TESTS_KTCRT_XML_TEST_UTIL_H
