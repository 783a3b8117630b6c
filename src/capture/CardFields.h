#pragma once

// The field rules: from the recognised text fragments of one card (text, box,
// confidence) to its thirteen fields. No recogniser here: the rules are a
// function over lines, so that they can be checked over tables of lines.

#include "CaptureResult.h"

namespace kelvo::capture {

struct AssignedFields
{
    std::array<CapturedField, 13> fields;
    QList<CapturedLine> lines; // the fragments merged into lines, top to bottom
};

// `vertical`: the fragments are columns of a vertical card (their width is
// the size of their characters, and they read right to left).
AssignedFields assignCardFields(const QList<CapturedLine> &fragments, bool vertical = false);

// O, o, l, I, |, S, B taken for the digits they resemble inside runs of at
// least five characters of which four are digits (telephone numbers, QQ
// numbers, postcodes); other text is left as it is.
QString repairDigits(const QString &text);

} // namespace kelvo::capture
