#include "VCardScanner.h"

#include "ExchangeLimits.h"

#include <cstring>

namespace kelvo::exchange {

namespace {

char upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool equalsUpper(QByteArrayView text, const char *upperWord)
{
    const size_t length = std::strlen(upperWord);
    if (size_t(text.size()) != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        if (upper(text[qsizetype(i)]) != upperWord[i])
            return false;
    }
    return true;
}

QByteArrayView trimmedView(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.sliced(begin, end - begin);
}

QByteArrayView unquoted(QByteArrayView text)
{
    text = trimmedView(text);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        return text.sliced(1, text.size() - 2);
    if (!text.isEmpty() && text.front() == '"')
        return text.sliced(1);
    return text;
}

// Index of the colon that ends the header: the first one outside double
// quotes, or, when quotes never close, the first one at all.
qsizetype headerColon(QByteArrayView text)
{
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"')
            quoted = !quoted;
        else if (c == ':' && !quoted)
            return i;
    }
    return quoted ? text.indexOf(':') : -1;
}

VCardProperty propertyNamed(QByteArrayView name)
{
    struct Known
    {
        const char *name;
        VCardProperty property;
    };
    static const Known known[] = {
        {"BEGIN", VCardProperty::Begin},     {"END", VCardProperty::End},
        {"VERSION", VCardProperty::Version}, {"AGENT", VCardProperty::Agent},
        {"FN", VCardProperty::FN},           {"N", VCardProperty::N},
        {"TITLE", VCardProperty::Title},     {"ROLE", VCardProperty::Role},
        {"ORG", VCardProperty::Org},         {"ADR", VCardProperty::Adr},
        {"LABEL", VCardProperty::Label},     {"TEL", VCardProperty::Tel},
        {"URL", VCardProperty::Url},         {"X-QQ", VCardProperty::XQQ},
        {"X-MSN", VCardProperty::XMsn},      {"X-MS-IMADDRESS", VCardProperty::XMsImAddress},
        {"IMPP", VCardProperty::Impp},       {"EMAIL", VCardProperty::EMail},
        {"NOTE", VCardProperty::Note},       {"NICKNAME", VCardProperty::Nickname},
        {"BDAY", VCardProperty::Bday},       {"ANNIVERSARY", VCardProperty::Anniversary},
        {"UID", VCardProperty::Uid},
    };
    for (const Known &entry : known) {
        if (equalsUpper(name, entry.name))
            return entry.property;
    }
    return VCardProperty::Other;
}

void applyTypeWord(QByteArrayView word, VCardParameters &parameters)
{
    word = unquoted(word);
    if (equalsUpper(word, "PREF"))
        parameters.pref = true;
    else if (equalsUpper(word, "WORK"))
        parameters.work = true;
    else if (equalsUpper(word, "CELL") || equalsUpper(word, "MOBILE") || equalsUpper(word, "IPHONE"))
        parameters.cell = true;
    else if (equalsUpper(word, "FAX"))
        parameters.fax = true;
}

void applyTypeList(QByteArrayView list, VCardParameters &parameters)
{
    list = unquoted(list);
    qsizetype start = 0;
    while (start <= list.size()) {
        qsizetype comma = list.indexOf(',', start);
        if (comma < 0)
            comma = list.size();
        applyTypeWord(list.sliced(start, comma - start), parameters);
        start = comma + 1;
    }
}

VCardParameters::Encoding encodingNamed(QByteArrayView value)
{
    value = unquoted(value);
    if (equalsUpper(value, "QUOTED-PRINTABLE"))
        return VCardParameters::Encoding::QuotedPrintable;
    if (equalsUpper(value, "BASE64") || equalsUpper(value, "B"))
        return VCardParameters::Encoding::Base64;
    return VCardParameters::Encoding::None;
}

void applyParameter(QByteArrayView parameter, VCardParameters &parameters)
{
    parameter = trimmedView(parameter);
    if (parameter.isEmpty())
        return;
    const qsizetype equals = parameter.indexOf('=');
    if (equals < 0) {
        // vCard 2.1: a bare value, either an encoding or a type.
        const VCardParameters::Encoding encoding = encodingNamed(parameter);
        if (encoding != VCardParameters::Encoding::None)
            parameters.encoding = encoding;
        else
            applyTypeWord(parameter, parameters);
        return;
    }
    const QByteArrayView name = trimmedView(parameter.first(equals));
    const QByteArrayView value = parameter.sliced(equals + 1);
    if (equalsUpper(name, "TYPE")) {
        applyTypeList(value, parameters);
    } else if (equalsUpper(name, "CHARSET")) {
        parameters.charset = unquoted(value);
    } else if (equalsUpper(name, "ENCODING")) {
        parameters.encoding = encodingNamed(value);
    } else if (equalsUpper(name, "PREF")) {
        if (unquoted(value) == "1")
            parameters.pref = true;
    } else if (equalsUpper(name, "X-SERVICE-TYPE")) {
        parameters.serviceType = unquoted(value);
    }
}

bool isBase64Data(QByteArrayView text)
{
    for (char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+'
            || c == '/' || c == '=' || c == ' ' || c == '\t';
        if (!ok)
            return false;
    }
    return true;
}

bool endsWithSoftBreak(QByteArrayView piece)
{
    piece = trimmedView(piece);
    return !piece.isEmpty() && piece.back() == '=';
}

} // namespace

void ParseVCardHeader(QByteArrayView header, VCardContentLine &line)
{
    line.parameters = {};
    // Split at semicolons outside double quotes.
    qsizetype start = 0;
    bool quoted = false;
    bool first = true;
    for (qsizetype i = 0; i <= header.size(); ++i) {
        const bool end = i == header.size();
        if (!end && header[i] == '"')
            quoted = !quoted;
        if (!end && (header[i] != ';' || quoted))
            continue;
        const QByteArrayView part = header.sliced(start, i - start);
        if (first) {
            QByteArrayView name = trimmedView(part);
            const qsizetype dot = name.lastIndexOf('.');
            if (dot >= 0)
                name = name.sliced(dot + 1); // a group: "item1.EMAIL"
            line.name = name;
            line.property = propertyNamed(name);
            first = false;
        } else {
            applyParameter(part, line.parameters);
        }
        start = i + 1;
    }
}

VCardScanner::VCardScanner(QByteArrayView text)
    : m_text(text)
{
}

VCardScanner::PhysicalLine VCardScanner::physicalAt(qsizetype pos) const
{
    const char *base = m_text.data();
    const qsizetype size = m_text.size();
    const void *lf = std::memchr(base + pos, '\n', size_t(size - pos));
    qsizetype lineEnd = lf ? static_cast<const char *>(lf) - base : size;
    const void *cr = std::memchr(base + pos, '\r', size_t(lineEnd - pos));
    if (!cr)
        return {QByteArrayView(base + pos, lineEnd - pos), lf ? lineEnd + 1 : size};
    // A CR: the line ends there. CR CR LF (and CR LF) end at the LF; a run
    // of CRs followed by anything else is one line end too.
    const qsizetype crAt = static_cast<const char *>(cr) - base;
    qsizetype after = crAt;
    while (after < size && base[after] == '\r')
        ++after;
    if (after < size && base[after] == '\n')
        ++after;
    return {QByteArrayView(base + pos, crAt - pos), after};
}

QByteArrayView VCardScanner::takeLine()
{
    const PhysicalLine physical = physicalAt(m_pos);
    m_pos = physical.next;
    ++m_line;
    return physical.text;
}

bool VCardScanner::atContinuation() const
{
    return m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t');
}

bool VCardScanner::next(VCardContentLine &line, bool legacyFolding)
{
    while (m_pos < m_text.size()) {
        const int lineNumber = m_line;
        QByteArrayView text = takeLine();
        if (trimmedView(text).isEmpty())
            continue;
        qsizetype colon = headerColon(text);
        if (colon < 0 && atContinuation()) {
            // The header itself is folded.
            m_header = text.toByteArray();
            while (colon < 0 && atContinuation() && m_header.size() < MaxHeaderBytes) {
                QByteArrayView piece = takeLine();
                m_header.append(legacyFolding ? piece : piece.sliced(1));
                colon = headerColon(m_header);
            }
            text = m_header;
        }
        if (colon < 0 || colon > MaxHeaderBytes)
            continue; // not a content line: passed over
        line = VCardContentLine();
        line.line = lineNumber;
        ParseVCardHeader(text.first(colon), line);
        readValue(line, text.sliced(colon + 1), legacyFolding);
        return true;
    }
    return false;
}

void VCardScanner::readValue(VCardContentLine &line, QByteArrayView first, bool legacyFolding)
{
    const bool base64 = line.parameters.encoding == VCardParameters::Encoding::Base64;
    const bool quotedPrintable = line.parameters.encoding == VCardParameters::Encoding::QuotedPrintable;
    line.valueSkipped = base64 || line.property == VCardProperty::Other;
    bool keep = !line.valueSkipped;
    bool joined = false; // the value lives in m_value
    QByteArrayView last = first;
    qsizetype length = first.size();

    const auto append = [&](QByteArrayView piece, bool dropSoftBreak) {
        length += piece.size();
        if (!keep)
            return;
        if (length > MaxLineBytes) {
            line.tooLong = true;
            keep = false;
            m_value.clear();
            return;
        }
        if (!joined) {
            m_value = first.toByteArray();
            joined = true;
        }
        if (dropSoftBreak) {
            while (!m_value.isEmpty() && (m_value.back() == ' ' || m_value.back() == '\t'))
                m_value.chop(1);
            m_value.chop(1); // the "=" of the soft line break
        }
        m_value.append(piece);
    };

    if (keep && first.size() > MaxLineBytes) {
        line.tooLong = true;
        keep = false;
    }
    while (m_pos < m_text.size()) {
        if (quotedPrintable && endsWithSoftBreak(last)) {
            last = takeLine();
            append(last, true);
            continue;
        }
        if (atContinuation()) {
            const QByteArrayView piece = takeLine();
            last = legacyFolding ? piece : piece.sliced(1);
            append(last, false);
            continue;
        }
        if (base64) {
            // vCard 2.1 base64 data may go on without leading blanks and end
            // with a blank line.
            const PhysicalLine physical = physicalAt(m_pos);
            if (physical.text.isEmpty()) {
                takeLine();
                break;
            }
            if (isBase64Data(physical.text)) {
                takeLine();
                continue;
            }
        }
        break;
    }
    if (!keep || line.valueSkipped)
        line.value = QByteArrayView();
    else
        line.value = joined ? QByteArrayView(m_value) : first;
}

} // namespace kelvo::exchange
