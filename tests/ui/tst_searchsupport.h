#pragma once

// Shared by the search window's tests: a dialogs double that records every
// argument of the save dialog, and helpers that build card trees.

#include "CardTree.h"
#include "Dialogs.h"
#include "Gb18030.h"

#include <QList>
#include <QQueue>
#include <QStringList>

#include <initializer_list>
#include <memory>
#include <optional>
#include <utility>

namespace kelvo::testing {

class RecordingDialogs final : public Dialogs
{
public:
    struct SaveRequest
    {
        QString title;
        QString filter;
        QString defaultSuffix;
        QString initialName;
    };

    QStringList notices;
    QStringList errors;
    QList<SaveRequest> saveRequests;
    // Answers of the save dialog, in order; nothing left means cancel.
    QQueue<std::optional<QString>> saveAnswers;

    void notice(QWidget *, const QString &text) override { notices << text; }
    bool question(QWidget *, const QString &, const QString &) override { return false; }
    void message(QWidget *, const QString &text, const QString &) override { notices << text; }
    void error(QWidget *, const QString &text) override { errors << text; }
    std::optional<QString> saveFileName(QWidget *, const QString &title, const QString &filter,
                                        const QString &defaultSuffix, const QString &initialName) override
    {
        saveRequests.append({title, filter, defaultSuffix, initialName});
        return saveAnswers.isEmpty() ? std::nullopt : saveAnswers.dequeue();
    }
    QStringList askOpenFileNames(QWidget *, const QString &, const QString &) override { return {}; }
};

using FieldValues = std::initializer_list<std::pair<int, QString>>;

inline std::unique_ptr<TCardData> makeRecord(std::int32_t kind, FieldValues fields)
{
    auto record = std::make_unique<TCardData>();
    record->Kind = kind;
    for (const auto &[field, text] : fields)
        record->setField(field, gb18030::encode(text));
    return record;
}

// Adds a card below `parent` (nullptr: top level) labelled with its name.
inline CardNode *addCard(CardTree &tree, CardNode *parent, FieldValues fields)
{
    auto record = makeRecord(Kind::Card, fields);
    const QByteArray label = record->name().toByteArray();
    return tree.addChild(parent, label, std::move(record));
}

inline CardNode *addClass(CardTree &tree, CardNode *parent, const QString &name)
{
    return tree.addChild(parent, gb18030::encode(name), makeRecord(Kind::CardClass, {{Field::Name, name}}));
}

} // namespace kelvo::testing
