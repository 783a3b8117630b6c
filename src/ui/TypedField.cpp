#include "TypedField.h"

#include "CardTree.h"
#include "Gb18030.h"

namespace kelvo {

bool StoreTypedField(CardTree &tree, CardNode *node, int n, const QString &typed)
{
    if (!node || !node->data() || n < Field::First || n > Field::Last)
        return false;
    const QByteArray encoded = gb18030::encode(typed);
    const QByteArrayView text = gb18030::trimmed(encoded);
    const bool differed = text != node->data()->field(n);
    tree.setField(node, n, text);
    if (n == Field::Name)
        tree.setLabel(node, text.toByteArray());
    return differed;
}

} // namespace kelvo
