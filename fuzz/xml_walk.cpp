#include "xml_walk.h"

namespace FuzzSupport {
namespace {
void walk(const CXML_Element *element)
{
    (void)element->GetTagName(true);
    (void)element->GetNamespace(false);
    for (int i = 0; i < static_cast<int>(element->m_AttrMap.GetSize()); ++i) {
        CKT_ByteString prefix;
        CKT_ByteString name;
        CKT_WideString value;
        element->GetAttrByIndex(i, prefix, name, value);
        int number = 0;
        (void)element->GetAttrInteger(name, number);
    }
    for (int i = 0; i < element->CountChildren(); ++i) {
        if (const CXML_Element *child = element->GetElement(i))
            walk(child);
        else
            (void)element->GetContent(i);
    }
}
} // namespace

CKT_ByteString walkAndCompose(const CXML_Element *root)
{
    walk(root);
    return root->OutputStream();
}

} // namespace FuzzSupport
