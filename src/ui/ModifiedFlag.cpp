#include "ModifiedFlag.h"

namespace kelvo {

ModifiedFlag::ModifiedFlag(CardTree &tree, bool &modified)
    : m_tree(tree)
    , m_modified(modified)
{
    m_tree.addObserver(this);
}

ModifiedFlag::~ModifiedFlag()
{
    m_tree.removeObserver(this);
}

} // namespace kelvo
