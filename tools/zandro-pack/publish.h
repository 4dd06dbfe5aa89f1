// zandro-pack's publishing commands: the catalogue record of a package, and the check of a
// package (and its signature) before it goes on the server.
#ifndef TOOLS_ZANDRO_PACK_PUBLISH_H
#define TOOLS_ZANDRO_PACK_PUBLISH_H

#include <QStringList>

// The commands' lines in the tool's usage text: the synopsis, then the description.
#define ZANDRO_PACK_PUBLISH_SYNOPSIS                                                            \
    "  zandro-pack record --url URL --name NAME --version VERSION [--description TEXT]\n"      \
    "                     [--module-type TYPE] PACKAGE\n"                                      \
    "  zandro-pack verify [--key KEY [--version VERSION]] PACKAGE\n"
#define ZANDRO_PACK_PUBLISH_HELP                                                                \
    "record  prints the catalogue's module element for PACKAGE, to be served at URL: name,\n"  \
    "        version, description, size (\"NNNB\"), url, sha256 (of the file), module_type\n" \
    "        (default \"reader\") and result=\"true\".\n"                                     \
    "\n"                                                                                       \
    "verify  checks PACKAGE's header, CRC, file table and compressed part, and with --key\n"   \
    "        its minisign signature in PACKAGE.minisig. KEY is a public key (the base64\n"     \
    "        line) or a .pub file. With --version the signature's trusted comment must also\n" \
    "        name VERSION as a word. Prints \"ok\", or names the first problem found.\n"

// args: what follows the command's name. Both return the exit status: 0 done, 1 the package
// failed (the reason goes to standard error), 2 wrong usage.
int runRecord(const QStringList &args);
int runVerify(const QStringList &args);

#endif // TOOLS_ZANDRO_PACK_PUBLISH_H
