#include "ckt_urlencode.h"

#include <cstdio>

namespace {
// The Latin-1 byte of a UTF-16 code unit; units above U+00FF have none and read as 0.
int latin1Byte(QChar character)
{
    const ushort unit = character.unicode();
    return unit < 256 ? unit : 0;
}
} // namespace

const int CKT_URLEncode::m_enum_unsafe_ascii_char_range[4][2] = {
    {0, 47}, {58, 64}, {91, 96}, {123, 255}};

CKT_URLEncode::CKT_URLEncode(QObject *parent) : QObject(parent) {}

QString CKT_URLEncode::URLEncode(QString text)
{
    QString encoded;
    encoded.reserve(text.size() * 3);
    for (const QChar character : qAsConst(text)) {
        if (IsUnsafe(character))
            encoded += ConvertToHexString(character);
        else
            encoded += character;
    }
    return encoded;
}

bool CKT_URLEncode::IsUnsafe(QChar character)
{
    const int byte = latin1Byte(character);
    for (const auto &range : m_enum_unsafe_ascii_char_range) {
        if (byte >= range[0] && byte <= range[1])
            return true;
    }
    return false;
}

QString CKT_URLEncode::ConvertToHexString(QChar character)
{
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02x", static_cast<unsigned>(latin1Byte(character)));
    return QString::fromLatin1(hex);
}
