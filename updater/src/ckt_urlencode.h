// Percent-encoding of the catalogue query's "addon" value.
//
// Every UTF-16 code unit is judged by its Latin-1 byte (the unit itself below 256, 0 above): a
// byte in one of the unsafe ranges is written as "%" and two lower-case hex digits, everything
// else passes unchanged. Only the ASCII digits and letters are safe, so "-", ".", "_" and "~" are
// encoded too, and a character above U+00FF becomes "%00"; the catalogue service expects exactly
// this form.
#ifndef UPDATER_SRC_CKT_URLENCODE_H
#define UPDATER_SRC_CKT_URLENCODE_H

#include <QObject>
#include <QString>

class CKT_URLEncode : public QObject
{
    Q_OBJECT
public:
    explicit CKT_URLEncode(QObject *parent = nullptr);

    // The text with every unsafe character replaced by its percent form.
    static QString URLEncode(QString text);
    // True when the character's Latin-1 byte lies in one of the unsafe ranges.
    static bool IsUnsafe(QChar character);
    // "%" and the character's Latin-1 byte as two lower-case hex digits ("%%%02x").
    static QString ConvertToHexString(QChar character);

    // Inclusive byte ranges that must be encoded, as (first, last) pairs.
    static const int m_enum_unsafe_ascii_char_range[4][2];
};

#endif // UPDATER_SRC_CKT_URLENCODE_H
