// zandro-pack's publishing commands: the catalogue record of a package, and the check of a
// package (and its signature) before it goes on the server.
#ifndef TOOLS_ZANDRO_PACK_PUBLISH_H
#define TOOLS_ZANDRO_PACK_PUBLISH_H

#include <QStringList>

// The commands' lines in the tool's usage text: the synopsis, then the description.
#define ZANDRO_PACK_PUBLISH_SYNOPSIS                                                               \
    "  zandro-pack record --url URL --name NAME --version VERSION [--description TEXT]\n"          \
    "                     [--module-type TYPE] PACKAGE\n"                                          \
    "  zandro-pack sign --key SECRET_KEY --name NAME --version VERSION PACKAGE\n"                  \
    "  zandro-pack verify [--key KEY [--name NAME] [--version VERSION]] PACKAGE\n"
#define ZANDRO_PACK_PUBLISH_HELP                                                                   \
    "record  prints the catalogue's module element for PACKAGE, to be served at URL: name,\n"      \
    "        version, description, size (\"NNNB\"), url, sha256 (of the file), module_type\n"      \
    "        (default \"reader\") and result=\"true\".\n"                                          \
    "\n"                                                                                           \
    "sign    checks PACKAGE's structure as verify does, then has minisign sign it with\n"          \
    "        SECRET_KEY (a .key file) into PACKAGE.minisig, with the trusted comment\n"            \
    "          zandro-package name=\"NAME\" version=VERSION\n"                                     \
    "        that binds the package to the module NAME (the catalogue's name, no '\"' and no\n"    \
    "        control character) and VERSION (digits and dots). minisign asks for the key's\n"      \
    "        password, if it has one, on the terminal.\n"                                          \
    "\n"                                                                                           \
    "verify  checks PACKAGE's header, CRC, file table and compressed part, and with --key\n"       \
    "        its minisign signature in PACKAGE.minisig. KEY is a public key (the base64\n"         \
    "        line) or a .pub file. The signature must be prehashed (minisign's default) and\n"     \
    "        its trusted comment of the form above; its NAME and VERSION must equal --name\n"      \
    "        and --version exactly, where given. Prints \"ok\" (after the trusted comment,\n"      \
    "        with --key), or names the first problem found.\n"

// args: what follows the command's name. Each returns the exit status: 0 done, 1 the package
// failed or could not be signed (the reason goes to standard error), 2 wrong usage.
int runRecord(const QStringList &args);
int runSign(const QStringList &args);
int runVerify(const QStringList &args);

#endif // TOOLS_ZANDRO_PACK_PUBLISH_H
