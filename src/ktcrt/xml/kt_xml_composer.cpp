// XML writer: turns an element tree back into text.
#include "xml_int.h"

#include <cstdint>

void ktxml::AppendUTF8(ByteBuf &out, wchar_t wc)
{
    uint32_t c = uint32_t(wc);
    if (c <= 0x7F) {
        out.Push(char(c));
        return;
    }
    if (int32_t(c) < 0)
        return;
    static const unsigned char kLead[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    const int n = c < 0x800 ? 2 : c < 0x10000 ? 3 : c < 0x200000 ? 4 : c < 0x4000000 ? 5 : 6;
    char bytes[6];
    for (int i = n - 1; i > 0; --i) {
        bytes[i] = char(0x80 | (c & 0x3F));
        c >>= 6;
    }
    bytes[0] = char(kLead[n] | c);
    out.Append(bytes, size_t(n));
}

namespace {

class Writer
{
public:
    explicit Writer(IKT_FileWrite *pFile) : m_pFile(pFile) {}

    void Text(const char *s) { m_Buf.Append(s, strlen(s)); }
    void Bytes(const CKT_ByteStringC &s) { m_Buf.Append(s.GetCStr(), size_t(s.GetLength())); }
    void Char(char c) { m_Buf.Push(c); }

    // Hands what has been collected to the file, when there is one.
    void Flush()
    {
        if (!m_pFile || m_Buf.Size() == 0)
            return;
        if (!m_pFile->WriteBlock(m_Buf.Data(), m_Buf.Size()))
            m_bFailed = true;
        m_Buf.Clear();
    }

    void AttrValue(const CKT_WideStringC &value)
    {
        for (int i = 0; i < value.GetLength(); ++i) {
            const wchar_t c = value.GetPtr()[i];
            if (c == L'"')
                Text("&quot;");
            else if (c == L'<')
                Text("&lt;");
            else if (c == L'&')
                Text("&amp;");
            else
                ktxml::AppendUTF8(m_Buf, c);
        }
    }

    void Content(const CKT_WideStringC &text)
    {
        static const char kHex[] = "0123456789ABCDEF";
        const int n = text.GetLength();
        for (int i = 0; i < n; ++i) {
            const wchar_t c = text.GetPtr()[i];
            if (c == L' ') {
                // A space at either end would be lost to white-space trimming when read back.
                if (i == 0 || i == n - 1)
                    Text("&#x20;");
                else
                    Char(' ');
            } else if (c >= 0 && c < 0x20) {
                const char ref[] = {'&', '#', 'x', kHex[c >> 4], kHex[c & 15], ';', 0};
                Text(ref);
            } else if (c == L'"') {
                Text("&quot;");
            } else if (c == L'&') {
                Text("&amp;");
            } else if (c == L'\'') {
                Text("&apos;");
            } else if (c == L'<') {
                Text("&lt;");
            } else if (c == L'>') {
                Text("&gt;");
            } else {
                ktxml::AppendUTF8(m_Buf, c);
            }
        }
    }

    // A CDATA section; an "]]>" inside the text ends one section after its "]]" and opens
    // the next before its ">", so the section cannot end early.
    void Cdata(const CKT_WideStringC &text)
    {
        Text("<![CDATA[");
        const wchar_t *p = text.GetPtr();
        const int n = text.GetLength();
        for (int i = 0; i < n; ++i) {
            if (p[i] == L']' && i + 2 < n && p[i + 1] == L']' && p[i + 2] == L'>') {
                Text("]]]]><![CDATA[>");
                i += 2;
            } else {
                ktxml::AppendUTF8(m_Buf, p[i]);
            }
        }
        Text("]]>");
    }

    ktxml::ByteBuf m_Buf;
    IKT_FileWrite *m_pFile;
    bool m_bFailed = false;
};

} // namespace

class CXML_ComposerImpl
{
public:
    // Writes the element and everything below it without recursion, so hand-built trees of
    // any depth can be written: a stack holds each open element with its next child.
    static void Element(Writer &w, const CXML_Element *pRoot)
    {
        struct Frame
        {
            const CXML_Element *pElement;
            int nNext;
        };
        ktxml::GrowBuf<Frame> stack;
        if (!StartTag(w, pRoot))
            return;
        if (!stack.Push(Frame{pRoot, 0})) {
            w.m_bFailed = true;
            return;
        }
        while (stack.Size()) {
            Frame &top = stack.Data()[stack.Size() - 1];
            const CXML_Element *pElement = top.pElement;
            if (top.nNext == pElement->CountChildren()) {
                w.Text("</");
                QualifiedName(w, pElement);
                w.Text(">\r\n");
                stack.Truncate(stack.Size() - 1);
                continue;
            }
            const int i = top.nNext++;
            if (const CXML_Element *pChild = pElement->GetElement(i)) {
                if (StartTag(w, pChild) && !stack.Push(Frame{pChild, 0})) {
                    w.m_bFailed = true;
                    return;
                }
                continue;
            }
            const CKT_WideStringL *pText = pElement->GetContentPtr(i);
            if (!pText)
                continue;
            if (IsCDATA(pElement, i))
                w.Cdata(*pText);
            else
                w.Content(*pText);
        }
    }

private:
    // Writes the start tag with its attributes, or the whole empty element; true when the
    // element has children to write before its end tag.
    static bool StartTag(Writer &w, const CXML_Element *pElement)
    {
        w.Flush();
        w.Char('<');
        QualifiedName(w, pElement);
        const CXML_AttrMap &attrs = pElement->m_AttrMap;
        for (int i = 0; i < attrs.GetSize(); ++i) {
            const CXML_AttrItem &item = attrs.GetAt(i);
            w.Char(' ');
            if (item.m_QSpaceName.GetLength()) {
                w.Bytes(item.m_QSpaceName);
                w.Char(':');
            }
            w.Bytes(item.m_AttrName);
            w.Text("=\"");
            w.AttrValue(item.m_Value);
            w.Char('"');
        }
        if (pElement->CountChildren() == 0) {
            w.Text("/>\r\n");
            return false;
        }
        w.Char('>');
        return true;
    }

    static void QualifiedName(Writer &w, const CXML_Element *pElement)
    {
        if (pElement->m_QSpaceName.GetLength()) {
            w.Bytes(pElement->m_QSpaceName);
            w.Char(':');
        }
        w.Bytes(pElement->m_TagName);
    }

    static bool IsCDATA(const CXML_Element *pElement, int index)
    {
        return static_cast<const CXML_Content *>(pElement->m_pChildren[index].m_pChild)->m_bCDATA !=
               0;
    }
};

bool CXML_Composer::Compose(const CXML_Element *pElement, IKT_FileWrite *pFile,
                            CKT_ByteStringL &out)
{
    if (!pElement)
        return false;
    Writer w(pFile);
    CXML_ComposerImpl::Element(w, pElement);
    if (pFile) {
        w.Flush();
        return !w.m_bFailed;
    }
    if (w.m_bFailed)
        return false;
    out.Set(CKT_ByteStringC(w.m_Buf.Data(), int(w.m_Buf.Size())), pElement->GetAllocator());
    return true;
}

CKT_ByteString CXML_Element::OutputStream() const
{
    CKT_ByteStringL out;
    CXML_Composer::Compose(this, nullptr, out);
    CKT_ByteString text{CKT_ByteStringC(out)};
    out.Empty(m_pAllocator);
    return text;
}

void CXML_Element::OutputStream(CKT_ByteStringL &out) const
{
    CXML_Composer::Compose(this, nullptr, out);
}

bool CXML_Element::OutputStream(IKT_FileWrite *pFile) const
{
    CKT_ByteStringL unused;
    return CXML_Composer::Compose(this, pFile, unused);
}
