// The parameter string of an update pass, as a table of named values.
//
// The reader stores the string in its settings store; it is a comma-separated list of items
// key:"value". The grammar is deliberately simple and forgiving: nothing is trimmed, every comma
// separates, the first item naming a key wins, and the value is the text between the first two
// double quotes of the item.
#ifndef UPDATER_SRC_COMMANDLINE_H
#define UPDATER_SRC_COMMANDLINE_H

#include <QHash>
#include <QObject>
#include <QString>

class CSetup_CommandLine : public QObject
{
    Q_OBJECT
public:
    explicit CSetup_CommandLine(QObject *parent = nullptr);

    // Parses the whole string into the table; true when the table holds at least one entry.
    // A null or empty string leaves the table unchanged and returns false.
    bool parserParam(const QString &text);
    // Parses one item into the table; an item without a double quote is ignored.
    void doParsePice(const QString &item);
    // The value stored for the key, or a null string when the key is absent.
    QString getValue(const QString &key) const;
    // The parameter string names no install folder: always an empty string.
    QString getReaderPathFromcmd() const;

private:
    QHash<QString, QString> params;
};

#endif // UPDATER_SRC_COMMANDLINE_H
