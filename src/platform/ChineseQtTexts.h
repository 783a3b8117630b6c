#pragma once

#include <QString>
#include <QTranslator>

#include <memory>

class QCoreApplication;

namespace kelvo {

// The Chinese the program supplies itself for Qt's own texts that its boxes,
// file dialogs and editor menus show, for a system without Qt's Chinese
// catalogue or with an incomplete one. Texts are looked up by Qt's context
// and source text; anything not listed is left to the next catalogue.
class FallbackQtTexts final : public QTranslator
{
public:
    using QTranslator::QTranslator;

    QString translate(const char *context, const char *sourceText, const char *disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override { return false; }
};

// Qt's own texts (stock buttons, file dialogs, editor menus) in Simplified
// Chinese whatever the user's locale, for as long as this object lives: Qt's
// catalogue "qtbase_zh_CN" from `catalogueFolder` when it is there, and below
// it the program's own Chinese for the texts that catalogue lacks.
class ChineseQtTexts
{
public:
    // Qt's installed translations folder (QLibraryInfo::TranslationsPath).
    static QString installedCatalogueFolder();

    explicit ChineseQtTexts(QCoreApplication &app, const QString &catalogueFolder = installedCatalogueFolder());
    ~ChineseQtTexts();
    ChineseQtTexts(const ChineseQtTexts &) = delete;
    ChineseQtTexts &operator=(const ChineseQtTexts &) = delete;

    // Whether Qt's catalogue was found and installed.
    bool hasQtCatalogue() const { return m_qtCatalogueInstalled; }

private:
    QCoreApplication &m_app;
    std::unique_ptr<FallbackQtTexts> m_fallback;
    std::unique_ptr<QTranslator> m_qtCatalogue;
    bool m_qtCatalogueInstalled = false;
};

} // namespace kelvo
