#include "CardTreeControls.h"

#include "CardDetailPanel.h"
#include "TfrmMain.h"

namespace kelvo {

CardTreeControls *CardTreeControls::install(TfrmMain &window)
{
    auto *controls = new CardTreeControls(window, window.treeView(), window.Panel2, &window);
    controls->connectActions({window.actAddCardClass, window.actAddCard, window.actDeleteSomething,
                              window.actRename, window.actSearchCard});
    controls->buildContextMenu({window.actAddCardClass, window.actAddCard, nullptr, window.actSaveAll, nullptr,
                                window.actDeleteSomething, nullptr, window.actRename, nullptr,
                                window.actSearchCard, nullptr, window.actSendMail, window.actOpenMainPage, nullptr,
                                window.actAuthorMainPage, window.actMailToAuthor, window.actAbout});
    connect(&window, &TfrmMain::tvCardChange, controls->panel(), &CardDetailPanel::tvCardChange);
    return controls;
}

} // namespace kelvo
