#pragma once

#include <QString>

#include <vector>

namespace kelvo::exchange {

// One line of an import report: a card that was skipped, or a value that was
// cut or could not be kept. `line` is where the card begins in its file (the
// BEGIN:VCARD line, or the first line of a CSV record).
struct ImportMessage
{
    enum class Kind {
        CardWithoutText,     // skipped: no text for any of the thirteen fields
        LineTooLong,         // skipped: a content line longer than the bound (at `detailLine`)
        QuoteNotClosed,      // skipped: a quoted CSV cell opened at `detailLine` never closes
        RecordTooLong,       // skipped: a CSV record longer than the bound
        TooManyColumns,      // skipped: a CSV record with more cells than the bound
        FieldCut,            // `field` was cut at 255 bytes
        ValueDropped,        // `label`: `value` fits nowhere (field 13 is full)
        ValuesDropped,       // `count` more values of the card fit nowhere
        EncodedValueDropped, // `label` at `detailLine` is base64 data, which no field holds
        UnknownCharset,      // `label` (the charset) at `detailLine` is unknown: read as UTF-8
        MessagesLeftOut,     // `count` further report lines were left out
    };

    Kind kind = Kind::CardWithoutText;
    int line = 0;
    int detailLine = 0;
    int field = 0;
    int count = 0;
    QString label;
    QString value;

    bool skipsCard() const
    {
        return kind == Kind::CardWithoutText || kind == Kind::LineTooLong || kind == Kind::QuoteNotClosed
            || kind == Kind::RecordTooLong || kind == Kind::TooManyColumns;
    }

    // The text after "FILE:LINE: " in kelvo-tool's report (English).
    QString text() const;
    // The same for the window's notice (Chinese).
    QString chineseText() const;
};

using ImportMessages = std::vector<ImportMessage>;

} // namespace kelvo::exchange
