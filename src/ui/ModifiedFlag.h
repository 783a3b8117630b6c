#pragma once

#include "CardTree.h"

namespace kelvo {

// `Modified`, the unsaved-changes flag, kept in step with the card tree:
// every change the tree announces raises it, so no edit path can forget it.
// The main window lowers it after the first-show load and after every save.
// The few rules that raise it although nothing changed call
// raiseWithoutChange() themselves, next to the rule.
class ModifiedFlag final : private CardTreeObserver
{
public:
    // `modified` is where the flag lives (the main window's shared values).
    ModifiedFlag(CardTree &tree, bool &modified);
    ~ModifiedFlag() override;
    ModifiedFlag(const ModifiedFlag &) = delete;
    ModifiedFlag &operator=(const ModifiedFlag &) = delete;

    bool isRaised() const { return m_modified; }
    void raiseWithoutChange() { m_modified = true; }
    void lower() { m_modified = false; }

private:
    void treeChanged() override { m_modified = true; }

    CardTree &m_tree;
    bool &m_modified;
};

} // namespace kelvo
