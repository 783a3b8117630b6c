#include "TreeJsonWriter.h"

#include "CardTree.h"
#include "Gb18030.h"
#include "JsonDouble.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kelvo::tool {

namespace {

constexpr qsizetype FlushSize = 1 << 20;
constexpr int MaxIndentDepth = 32;

void appendEscaped(QByteArray &out, QByteArrayView utf8)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hex[byte >> 4];
                out += hex[byte & 0xf];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

bool isAscii(QByteArrayView text)
{
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

class JsonTreeWriter
{
public:
    JsonTreeWriter(const std::function<void(QByteArrayView)> &sink, QStringList *warnings)
        : m_sink(sink)
        , m_warnings(warnings)
    {
        m_out.reserve(FlushSize + 4096);
    }

    void write(const CardTree &tree)
    {
        m_out += "{\"nodes\": [";
        const int topCount = tree.topLevelCount();
        if (topCount == 0) {
            m_out += "]}\n";
            flush();
            return;
        }
        m_out += '\n';
        for (int row = 0; row < topCount; ++row) {
            m_topRow = row;
            writeSubtree(tree.topLevel(row));
            if (row + 1 < topCount)
                m_out += ",\n";
        }
        m_out += "\n]}\n";
        flush();
    }

private:
    struct Frame
    {
        const CardNode *node;
        int next;
    };

    // Iterative: a data file may nest nodes far deeper than the stack allows.
    void writeSubtree(const CardNode *top)
    {
        writeNodeHead(top);
        while (!m_stack.empty()) {
            Frame &frame = m_stack.back();
            if (frame.next < frame.node->childCount()) {
                if (frame.next > 0)
                    m_out += ",\n";
                const CardNode *childNode = frame.node->child(frame.next++);
                writeNodeHead(childNode); // may push: `frame` is not used below
            } else {
                m_out += '\n';
                indent(static_cast<int>(m_stack.size()));
                m_out += "]}";
                m_stack.pop_back();
            }
            if (m_out.size() >= FlushSize)
                flush();
        }
    }

    void writeNodeHead(const CardNode *node)
    {
        indent(static_cast<int>(m_stack.size()) + 1);
        m_out += "{\"label\": ";
        appendText(node->label(), "label");
        m_out += ", \"kind\": ";
        m_out += QByteArray::number(node->kind());
        m_out += ", \"fields\": [";
        const TCardData *data = node->data();
        for (int n = Field::First; n <= Field::Last; ++n) {
            if (n > Field::First)
                m_out += ", ";
            appendText(data ? data->field(n) : QByteArrayView(), "field", n);
        }
        m_out += "], \"created\": ";
        m_out += ExactDoubleJson(data ? data->Created : 0.0);
        m_out += ", \"images\": [";
        const auto &indexes = node->displayIndexes();
        for (size_t i = 0; i < indexes.size(); ++i) {
            if (i > 0)
                m_out += ", ";
            m_out += QByteArray::number(indexes[i]);
        }
        m_out += "], \"children\": [";
        if (node->childCount() == 0) {
            m_out += "]}";
        } else {
            m_out += '\n';
            m_stack.push_back({node, 0});
        }
    }

    // Indentation stops growing at MaxIndentDepth: a deep chain of nodes
    // would otherwise make the text grow with the square of its depth.
    void indent(int depth) { m_out.append(qsizetype(std::min(depth, MaxIndentDepth)) * 2, ' '); }

    void appendText(QByteArrayView text, const char *what, int fieldNumber = 0)
    {
        if (isAscii(text)) {
            appendEscaped(m_out, text);
            return;
        }
        bool lossy = false;
        m_out += JsonStringFromGb18030(text, &lossy);
        if (lossy && m_warnings) {
            QString where =
                fieldNumber ? QStringLiteral("%1 %2").arg(QLatin1String(what)).arg(fieldNumber) : QLatin1String(what);
            m_warnings->append(QStringLiteral("%1: %2 is not valid GB18030 text; written with replacement characters")
                                   .arg(currentPath(), where));
        }
    }

    // "nodes[2].children[0]..." for the node being written.
    QString currentPath() const
    {
        QString path = QStringLiteral("nodes[%1]").arg(m_topRow);
        // The node being written is the last child taken from each frame; a
        // node whose head is being written was pushed only if it has
        // children, so the frames name its ancestors (and maybe itself).
        for (const Frame &frame : m_stack) {
            if (frame.next > 0)
                path += QStringLiteral(".children[%1]").arg(frame.next - 1);
        }
        return path;
    }

    void flush()
    {
        if (!m_out.isEmpty())
            m_sink(m_out);
        m_out.clear();
    }

    const std::function<void(QByteArrayView)> &m_sink;
    QStringList *m_warnings;
    QByteArray m_out;
    std::vector<Frame> m_stack;
    int m_topRow = 0;
};

} // namespace

QByteArray JsonStringFromGb18030(QByteArrayView text, bool *lossy)
{
    const QString decoded = gb18030::decode(text);
    *lossy = gb18030::encode(decoded) != text;
    QByteArray out;
    appendEscaped(out, decoded.toUtf8());
    return out;
}

void WriteTreeJson(const CardTree &tree, const std::function<void(QByteArrayView)> &sink, QStringList *warnings)
{
    JsonTreeWriter writer(sink, warnings);
    writer.write(tree);
}

QByteArray TreeToJson(const CardTree &tree, QStringList *warnings)
{
    QByteArray all;
    WriteTreeJson(
        tree, [&all](QByteArrayView piece) { all += piece; }, warnings);
    return all;
}

} // namespace kelvo::tool
