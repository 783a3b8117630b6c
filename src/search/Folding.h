#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace kelvo {

// The folded value of a GB18030 text: bytes <= 0x20 trimmed from both ends,
// then every ASCII letter a-z that stands as a character of its own turned to
// upper case. Bytes inside multi-byte characters are never changed, so a
// Chinese character whose trail byte happens to lie in a-z stays intact.
QByteArray FoldText(QByteArrayView text);

// Folds `text` into `out` (room for text.size() bytes) and returns the folded
// length. When `boundaries` is given (room for text.size() + 1 flags), flag i
// is set when a character starts at offset i of the folded text, and the flag
// after the last byte is set too. Used by the search to fold without any
// allocation; FoldText is the convenient form.
qsizetype FoldTextInto(QByteArrayView text, char *out, bool *boundaries = nullptr);

// True when the two texts are equal once their single-byte ASCII letters are
// upper-cased (no trimming): how the condition history compares entries.
bool EqualIgnoringCase(QByteArrayView a, QByteArrayView b);

} // namespace kelvo
