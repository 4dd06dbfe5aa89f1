// The minisign public keys this program trusts for update packages. The updater code declares
// the function; each program links exactly one definition, generated at configuration time from
// a CMake list, so that no file or environment variable can add a key.
#ifndef UPDATER_SRC_UPDATEKEYS_H
#define UPDATER_SRC_UPDATEKEYS_H

#include <QStringList>

QStringList builtInUpdateKeys();

#endif // UPDATER_SRC_UPDATEKEYS_H
