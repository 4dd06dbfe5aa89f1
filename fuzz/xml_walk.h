// Visits every part of a parsed tree the way the updater's readers do, so that whatever the
// parser built is read back at least once under the sanitizers.
#ifndef FUZZ_XML_WALK_H
#define FUZZ_XML_WALK_H

#include "kt_xml.h"

namespace FuzzSupport {

// Reads names, namespaces, attributes and text of root and everything below it, then writes the
// tree back as text and returns that text.
CKT_ByteString walkAndCompose(const CXML_Element *root);

} // namespace FuzzSupport

#endif // FUZZ_XML_WALK_H
