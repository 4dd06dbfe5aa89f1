// Temporary stand-ins for the base library's views and strings, used by the
// XML reader until the real string family is merged. Only the operations the XML family and its
// callers need are here; they follow the same names and rules, so switching over means deleting
// this header and its include in kt_xml.h.
#ifndef KTCRT_KT_XML_CORESTUB_H
#define KTCRT_KT_XML_CORESTUB_H

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "kt_basic_mem.h"

class CKT_ByteString;

class CKT_ByteStringC
{
public:
    CKT_ByteStringC() = default;
    CKT_ByteStringC(const char *s) : m_Ptr(s), m_Length(s ? (int)strlen(s) : 0) {}
    CKT_ByteStringC(const char *s, int len) : m_Ptr(s), m_Length(s ? len : 0) {}
    inline CKT_ByteStringC(const CKT_ByteString &str);
    const char *GetPtr() const { return m_Ptr; }
    int GetLength() const { return m_Length; }
    bool IsEmpty() const { return m_Length == 0; }
    bool operator==(const CKT_ByteStringC &o) const
    {
        return m_Length == o.m_Length && (m_Length == 0 || memcmp(m_Ptr, o.m_Ptr, m_Length) == 0);
    }
    bool operator!=(const CKT_ByteStringC &o) const { return !(*this == o); }

private:
    const char *m_Ptr = nullptr;
    int m_Length = 0;
};

class CKT_WideStringC
{
public:
    CKT_WideStringC() = default;
    CKT_WideStringC(const wchar_t *s) : m_Ptr(s), m_Length(s ? (int)wcslen(s) : 0) {}
    CKT_WideStringC(const wchar_t *s, int len) : m_Ptr(s), m_Length(s ? len : 0) {}
    const wchar_t *GetPtr() const { return m_Ptr; }
    int GetLength() const { return m_Length; }
    bool operator==(const CKT_WideStringC &o) const
    {
        return m_Length == o.m_Length
               && (m_Length == 0 || wmemcmp(m_Ptr, o.m_Ptr, m_Length) == 0);
    }

private:
    const wchar_t *m_Ptr = nullptr;
    int m_Length = 0;
};

namespace ktcrt_stub {
// An owned, unshared copy of some characters; enough for values handed out by the XML tree.
template <typename T> class OwnedText
{
public:
    OwnedText() = default;
    OwnedText(const T *p, int len) { Assign(p, len); }
    OwnedText(const OwnedText &o) { Assign(o.m_p, o.m_n); }
    OwnedText &operator=(const OwnedText &o)
    {
        if (this != &o)
            Assign(o.m_p, o.m_n);
        return *this;
    }
    ~OwnedText() { free(m_p); }
    void Assign(const T *p, int len)
    {
        free(m_p);
        m_p = nullptr;
        m_n = 0;
        if (!p || len <= 0)
            return;
        m_p = static_cast<T *>(malloc(sizeof(T) * (len + 1)));
        if (!m_p)
            return;
        memcpy(m_p, p, sizeof(T) * len);
        m_p[len] = 0;
        m_n = len;
    }
    T *m_p = nullptr;
    int m_n = 0;
};

// Decimal integer as the library reads it: optional '-', digits up to the first non-digit.
inline int ParseInt(const wchar_t *p, int n)
{
    int i = 0;
    bool neg = false;
    if (i < n && p[i] == L'-') {
        neg = true;
        ++i;
    }
    unsigned v = 0;
    for (; i < n && p[i] >= L'0' && p[i] <= L'9'; ++i)
        v = v * 10u + unsigned(p[i] - L'0');
    return int(neg ? 0u - v : v);
}

inline float ParseFloat(const wchar_t *p, int n)
{
    if (n <= 0)
        return 0.0f;
    int i = 0;
    bool neg = false;
    if (p[0] == L'+' || p[0] == L'-') {
        neg = p[0] == L'-';
        ++i;
    }
    unsigned whole = 0;
    for (; i < n && p[i] != L'.'; ++i)
        whole = whole * 10u + unsigned(p[i] - L'0');
    float value = float(int(whole));
    if (i < n) {
        ++i;
        const float tenth = 0.1f;
        float f = tenth;
        for (; i < n; ++i) {
            value += float(int(p[i] - L'0')) * f;
            f *= tenth;
        }
    }
    return neg ? -value : value;
}
} // namespace ktcrt_stub

class CKT_ByteString
{
public:
    CKT_ByteString() = default;
    CKT_ByteString(const char *s, int len = -1) : m_Text(s, len < 0 ? (s ? (int)strlen(s) : 0) : len) {}
    CKT_ByteString(const CKT_ByteStringC &v) : m_Text(v.GetPtr(), v.GetLength()) {}
    int GetLength() const { return m_Text.m_n; }
    bool IsEmpty() const { return m_Text.m_n == 0; }
    const char *c_str() const { return m_Text.m_p ? m_Text.m_p : ""; }
    operator const char *() const { return c_str(); }
    bool Equal(const CKT_ByteStringC &v) const { return CKT_ByteStringC(*this) == v; }
    bool operator==(const char *s) const { return Equal(CKT_ByteStringC(s)); }
    bool operator==(const CKT_ByteString &o) const { return Equal(CKT_ByteStringC(o)); }
    bool operator!=(const char *s) const { return !Equal(CKT_ByteStringC(s)); }
    const char *RawPtr() const { return m_Text.m_p; }

private:
    ktcrt_stub::OwnedText<char> m_Text;
};

inline CKT_ByteStringC::CKT_ByteStringC(const CKT_ByteString &str)
    : m_Ptr(str.RawPtr()), m_Length(str.GetLength())
{
}

class CKT_WideString
{
public:
    CKT_WideString() = default;
    CKT_WideString(const wchar_t *s, int len = -1)
        : m_Text(s, len < 0 ? (s ? (int)wcslen(s) : 0) : len)
    {
    }
    CKT_WideString(const CKT_WideStringC &v) : m_Text(v.GetPtr(), v.GetLength()) {}
    int GetLength() const { return m_Text.m_n; }
    bool IsEmpty() const { return m_Text.m_n == 0; }
    const wchar_t *c_str() const { return m_Text.m_p ? m_Text.m_p : L""; }
    operator const wchar_t *() const { return c_str(); }
    operator CKT_WideStringC() const { return CKT_WideStringC(m_Text.m_p, m_Text.m_n); }
    bool operator==(const wchar_t *s) const
    {
        return CKT_WideStringC(*this) == CKT_WideStringC(s);
    }
    bool operator==(const CKT_WideString &o) const
    {
        return CKT_WideStringC(*this) == CKT_WideStringC(o);
    }
    bool operator!=(const wchar_t *s) const { return !(*this == s); }
    int GetInteger() const { return ktcrt_stub::ParseInt(m_Text.m_p, m_Text.m_n); }
    float GetFloat() const { return ktcrt_stub::ParseFloat(m_Text.m_p, m_Text.m_n); }

private:
    ktcrt_stub::OwnedText<wchar_t> m_Text;
};

namespace ktcrt_stub {
// Plain allocator-bound text: pointer and length, terminator after the last character.
template <typename T> class BoundText
{
public:
    void Empty(_IKT_Allocator *pAllocator)
    {
        KT_AllocatorFree(pAllocator, m_Ptr);
        m_Ptr = nullptr;
        m_Size = 0;
    }
    // Replaces the buffer with room for n characters plus terminator; false on exhaustion.
    bool AllocBuffer(int n, _IKT_Allocator *pAllocator)
    {
        Empty(pAllocator);
        if (n < 0)
            return false;
        m_Ptr = static_cast<T *>(KT_AllocatorAlloc(pAllocator, sizeof(T) * (size_t(n) + 1)));
        if (!m_Ptr)
            return false;
        m_Ptr[n] = 0;
        m_Size = n;
        return true;
    }
    void SetText(const T *p, int n, _IKT_Allocator *pAllocator)
    {
        if (!p || n <= 0) {
            Empty(pAllocator);
            return;
        }
        if (!AllocBuffer(n, pAllocator))
            return;
        memcpy(m_Ptr, p, sizeof(T) * size_t(n));
    }
    const T *GetPtr() const { return m_Ptr; }
    T *GetPtr() { return m_Ptr; }
    int GetLength() const { return m_Size; }
    bool IsEmpty() const { return m_Size == 0; }

protected:
    T *m_Ptr = nullptr;
    int m_Size = 0;
};
} // namespace ktcrt_stub

class CKT_ByteStringL : public ktcrt_stub::BoundText<char>
{
public:
    void Set(const CKT_ByteStringC &v, _IKT_Allocator *pAllocator)
    {
        SetText(v.GetPtr(), v.GetLength(), pAllocator);
    }
    operator CKT_ByteStringC() const { return CKT_ByteStringC(m_Ptr, m_Size); }
};

class CKT_WideStringL : public ktcrt_stub::BoundText<wchar_t>
{
public:
    void Set(const CKT_WideStringC &v, _IKT_Allocator *pAllocator)
    {
        SetText(v.GetPtr(), v.GetLength(), pAllocator);
    }
    operator CKT_WideStringC() const { return CKT_WideStringC(m_Ptr, m_Size); }
    int GetInteger() const { return ktcrt_stub::ParseInt(m_Ptr, m_Size); }
    float GetFloat() const { return ktcrt_stub::ParseFloat(m_Ptr, m_Size); }
};

// Float text with at most six decimals and no trailing zeros; out holds 32 characters.
inline int KT_ftoa(float value, char *out)
{
    if (value == 0.0f) {
        out[0] = '0';
        out[1] = 0;
        return 1;
    }
    const float m = value < 0 ? -value : value;
    auto roundHalfUp = [](float v) { return int(v + 0.5f); };
    int s = 1;
    int r = roundHalfUp(m);
    int steps = 0;
    while (r <= 99999) {
        if (steps == 6)
            break;
        s *= 10;
        ++steps;
        r = roundHalfUp(float(m * float(s)));
    }
    if (r == 0) {
        out[0] = '0';
        out[1] = 0;
        return 1;
    }
    int len = 0;
    if (value < 0)
        out[len++] = '-';
    char digits[16];
    int nd = 0;
    unsigned whole = unsigned(r / s);
    do {
        digits[nd++] = char('0' + whole % 10);
        whole /= 10;
    } while (whole);
    while (nd)
        out[len++] = digits[--nd];
    int frac = r % s;
    if (frac) {
        out[len++] = '.';
        for (int d = s / 10; d > 0 && frac; d /= 10) {
            out[len++] = char('0' + frac / d);
            frac %= d;
        }
    }
    return len;
}

#endif // KTCRT_KT_XML_CORESTUB_H
