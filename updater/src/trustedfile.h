// Reading the small files that decide what a pass offers (the state file "UpdaterInfo.xml", the
// record of installed versions) from places that other users or programs may reach.
//
// Such a file is read only when it is a regular file (a FIFO would hang the pass, a device never
// end), owned by an allowed owner and not writable by group or others (anybody else could make
// it say anything), and at most maxBytes long (a huge or sparse file would cost its size in
// memory). It is opened without following a link and without blocking, and checked on the open
// descriptor, so nothing can be swapped in between the check and the read.
#ifndef UPDATER_SRC_TRUSTEDFILE_H
#define UPDATER_SRC_TRUSTEDFILE_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class TrustedFile
{
public:
    enum Owners
    {
        UserOnly,  // the updater's own files
        UserOrRoot // files an installer run as root may have written
    };
    enum Result
    {
        Read,    // bytes holds the whole file
        Missing, // nothing at the path
        Refused  // something is there that must not be trusted; problem says why
    };

    // Reads the file at path (relative to the current folder unless absolute) into bytes.
    // Requires: bytes and problem are not null. problem is set only when Refused, to a reason
    // such as "is a symbolic link" or "belongs to another user (uid 64123)".
    static Result read(const QString &path, Owners owners, qint64 maxBytes, QByteArray *bytes,
                       QString *problem);
    // The same rules for a program that is to be run, links followed: why the file at path must
    // not be trusted (not a regular file, owned by somebody other than this user or root,
    // writable by group or others, or missing), empty when it may be run.
    static QString untrustedProgram(const QString &path);
};

#endif // UPDATER_SRC_TRUSTEDFILE_H
