#include "roster/xmltree.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

namespace XmlTree {

Node Node::element(const QString &name, const QList<Attribute> &attributes)
{
    Node node;
    node.kind = Kind::Element;
    node.name = name;
    node.attributes = attributes;
    return node;
}

Node Node::textNode(const QString &text)
{
    Node node;
    node.kind = Kind::Text;
    node.text = text;
    return node;
}

std::optional<QString> Node::attribute(QStringView attributeName) const
{
    for (const Attribute &a : attributes) {
        if (a.name == attributeName)
            return a.value;
    }
    return std::nullopt;
}

void Node::setAttribute(const QString &attributeName, const QString &value)
{
    for (Attribute &a : attributes) {
        if (a.name == attributeName) {
            a.value = value;
            return;
        }
    }
    attributes.append(Attribute{attributeName, value});
}

const Node *Node::child(QStringView elementName) const
{
    for (const Node &c : children) {
        if (c.isElement(elementName))
            return &c;
    }
    return nullptr;
}

Node *Node::child(QStringView elementName)
{
    return const_cast<Node *>(std::as_const(*this).child(elementName));
}

bool isXmlBlank(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
    });
}

QString Node::ownText() const
{
    QString result;
    for (const Node &c : children) {
        if ((c.kind == Kind::Text && !isXmlBlank(c.text)) || c.kind == Kind::CData)
            result += c.text;
    }
    return result;
}

void Node::setOwnText(const QString &value)
{
    children.clear();
    if (!value.isEmpty())
        children.push_back(textNode(value));
}

namespace {

ParseError depthError(const QXmlStreamReader &reader)
{
    return {reader.lineNumber(), QStringLiteral("Elements nested too deeply.")};
}

ParseError readerError(const QXmlStreamReader &reader)
{
    if (reader.hasError())
        return {reader.lineNumber(), reader.errorString()};
    return {reader.lineNumber(), QStringLiteral("Premature end of document.")};
}

// The element whose start the reader just read, without its content.
Node startedElement(const QXmlStreamReader &reader)
{
    Node element = Node::element(reader.qualifiedName().toString());
    element.line = reader.lineNumber();
    const QXmlStreamAttributes attributes = reader.attributes();
    for (const QXmlStreamAttribute &a : attributes) {
        // Values the document type supplies were not in the file.
        if (!a.isDefault())
            element.attributes.append({a.qualifiedName().toString(), a.value().toString()});
    }
    return element;
}

// The node of a token that is no element; none for the document's own.
std::optional<Node> otherNode(const QXmlStreamReader &reader)
{
    Node node;
    node.line = reader.lineNumber();
    switch (reader.tokenType()) {
    case QXmlStreamReader::Characters:
        node.kind = reader.isCDATA() ? Node::Kind::CData : Node::Kind::Text;
        node.text = reader.text().toString();
        return node;
    case QXmlStreamReader::Comment:
        node.kind = Node::Kind::Comment;
        node.text = reader.text().toString();
        return node;
    case QXmlStreamReader::ProcessingInstruction:
        node.kind = Node::Kind::ProcessingInstruction;
        node.name = reader.processingInstructionTarget().toString();
        node.text = reader.processingInstructionData().toString();
        return node;
    case QXmlStreamReader::DTD:
        node.kind = Node::Kind::Dtd;
        node.text = reader.text().toString().trimmed();
        return node;
    case QXmlStreamReader::EntityReference:
        node.kind = Node::Kind::EntityReference;
        node.name = reader.name().toString();
        return node;
    default:
        return std::nullopt;
    }
}

} // namespace

namespace {

// Only characters XML allows (surrogates in pairs, no control characters
// but tab and line ends, no U+FFFE and U+FFFF).
bool xmlCharacters(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c)) {
            if (i + 1 >= text.size() || !QChar::isLowSurrogate(text[i + 1].unicode()))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(c) || c == 0xFFFE || c == 0xFFFF
                   || (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r')) {
            return false;
        }
    }
    return true;
}

} // namespace

bool checkToken(const QXmlStreamReader &reader, ParseError &error)
{
    // The reader lets some declared encodings (UTF-7) decode into a lone
    // surrogate or into empty names; written back that would be no XML.
    bool fine = true;
    switch (reader.tokenType()) {
    case QXmlStreamReader::StartElement: {
        fine = !reader.qualifiedName().isEmpty() && xmlCharacters(reader.qualifiedName());
        const QXmlStreamAttributes attributes = reader.attributes();
        for (const QXmlStreamAttribute &a : attributes) {
            fine = fine && !a.qualifiedName().isEmpty() && xmlCharacters(a.qualifiedName())
                   && xmlCharacters(a.value());
        }
        break;
    }
    case QXmlStreamReader::ProcessingInstruction:
        fine = xmlCharacters(reader.processingInstructionTarget())
               && xmlCharacters(reader.processingInstructionData());
        break;
    case QXmlStreamReader::Characters:
    case QXmlStreamReader::Comment:
    case QXmlStreamReader::DTD:
        fine = xmlCharacters(reader.text());
        break;
    case QXmlStreamReader::EntityReference:
        fine = xmlCharacters(reader.name());
        break;
    default:
        break;
    }
    if (!fine)
        error = {reader.lineNumber(), QStringLiteral("Invalid character or a name missing.")};
    return fine;
}

ByteReader::ByteReader(const QByteArray &bytes) : m_buffer(bytes)
{
    // Read from a device the reader decodes the file piece by piece; given
    // the bytes themselves it decodes them all at once, which takes twice as
    // long for a large file.
    m_device.setBuffer(&m_buffer);
    m_device.open(QIODevice::ReadOnly);
    reader.setDevice(&m_device);
    reader.setNamespaceProcessing(false);
}

bool readElement(QXmlStreamReader &reader, int depth, Node &element, ParseError &error,
                 Blanks blanks)
{
    if (depth >= MaxDepth) {
        error = depthError(reader);
        return false;
    }
    if (!checkToken(reader, error))
        return false;
    element = startedElement(reader);
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (!checkToken(reader, error))
            return false;
        switch (token) {
        case QXmlStreamReader::StartElement: {
            Node child;
            if (!readElement(reader, depth + 1, child, error, blanks))
                return false;
            element.children.push_back(std::move(child));
            break;
        }
        case QXmlStreamReader::EndElement:
            return true;
        case QXmlStreamReader::Characters:
            if (blanks == Blanks::Dropped && !reader.isCDATA() && isXmlBlank(reader.text()))
                break;
            [[fallthrough]];
        default:
            if (std::optional<Node> node = otherNode(reader))
                element.children.push_back(std::move(*node));
            break;
        }
    }
    error = readerError(reader);
    return false;
}

bool skipElement(QXmlStreamReader &reader, int depth, ParseError &error)
{
    int open = 1;
    if (depth >= MaxDepth) {
        error = depthError(reader);
        return false;
    }
    if (!checkToken(reader, error))
        return false;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (!checkToken(reader, error))
            return false;
        if (token == QXmlStreamReader::StartElement) {
            if (depth + open >= MaxDepth) {
                error = depthError(reader);
                return false;
            }
            ++open;
        } else if (token == QXmlStreamReader::EndElement && --open == 0) {
            return true;
        }
    }
    error = readerError(reader);
    return false;
}

ParseResult parse(const QByteArray &bytes)
{
    ByteReader input(bytes);
    QXmlStreamReader &reader = input.reader;
    Document document;
    bool haveRoot = false;
    ParseError error;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token != QXmlStreamReader::StartElement && !checkToken(reader, error))
            return {std::nullopt, error};
        if (token == QXmlStreamReader::StartElement) {
            // A second root is an error the reader reports itself.
            if (!readElement(reader, 0, document.root, error))
                return {std::nullopt, error};
            haveRoot = true;
        } else if (std::optional<Node> node = otherNode(reader)) {
            // Outside the root the reader reports no white space, and no
            // other text may stand there.
            if (node->kind != Node::Kind::Text && node->kind != Node::Kind::CData)
                (haveRoot ? document.epilog : document.prolog).push_back(std::move(*node));
        }
    }
    if (reader.hasError() || !haveRoot)
        return {std::nullopt, readerError(reader)};
    return {std::move(document), {}};
}

namespace {

void writeNode(QXmlStreamWriter &writer, const Node &node)
{
    switch (node.kind) {
    case Node::Kind::Element: {
        writer.writeStartElement(node.name);
        for (const Attribute &a : node.attributes)
            writer.writeAttribute(a.name, a.value);
        // Written one by one, so that an element holding nothing but white
        // space keeps it.
        for (const Node &child : node.children)
            writeNode(writer, child);
        writer.writeEndElement();
        break;
    }
    case Node::Kind::Text:
        writer.writeCharacters(node.text);
        break;
    case Node::Kind::CData:
        writer.writeCDATA(node.text);
        break;
    case Node::Kind::Comment:
        writer.writeComment(node.text);
        break;
    case Node::Kind::ProcessingInstruction:
        writer.writeProcessingInstruction(node.name, node.text);
        break;
    case Node::Kind::Dtd:
        writer.writeDTD(node.text);
        break;
    case Node::Kind::EntityReference:
        writer.writeEntityReference(node.name);
        break;
    }
}

bool isBlank(const Node &node)
{
    return node.kind == Node::Kind::Text && node.text.trimmed().isEmpty();
}

} // namespace

QByteArray write(const Document &document)
{
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    writer.setAutoFormatting(false);
    writer.writeStartDocument();
    // One item a line before and after the root, as the files are written.
    for (const Node &node : document.prolog) {
        writer.writeCharacters(QStringLiteral("\n"));
        writeNode(writer, node);
    }
    writer.writeCharacters(QStringLiteral("\n"));
    writeNode(writer, document.root);
    for (const Node &node : document.epilog) {
        writer.writeCharacters(QStringLiteral("\n"));
        writeNode(writer, node);
    }
    writer.writeEndDocument();
    return bytes;
}

bool sameContent(const Node &a, const Node &b)
{
    if (a.kind != b.kind || a.name != b.name)
        return false;
    if (!a.isElement()) {
        // Text and CDATA are compared as text by the caller; here the kinds match.
        return a.text == b.text;
    }
    if (a.attributes.size() != b.attributes.size())
        return false;
    for (const Attribute &attribute : a.attributes) {
        if (b.attribute(attribute.name) != attribute.value)
            return false;
    }
    // The children without white space between elements, adjacent text joined.
    auto significant = [](const Node &parent) {
        std::vector<Node> result;
        for (const Node &child : parent.children) {
            if (isBlank(child))
                continue;
            const bool text = child.kind == Node::Kind::Text || child.kind == Node::Kind::CData;
            if (text && !result.empty() && result.back().kind == Node::Kind::Text) {
                result.back().text += child.text;
                continue;
            }
            Node copy = text ? Node::textNode(child.text) : child;
            result.push_back(std::move(copy));
        }
        for (Node &child : result) {
            if (child.kind == Node::Kind::Text)
                child.text = child.text.trimmed();
        }
        return result;
    };
    const std::vector<Node> left = significant(a);
    const std::vector<Node> right = significant(b);
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](const Node &x, const Node &y) { return sameContent(x, y); });
}

bool sameContent(const Document &a, const Document &b)
{
    auto sameList = [](const std::vector<Node> &x, const std::vector<Node> &y) {
        return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                          [](const Node &p, const Node &q) { return sameContent(p, q); });
    };
    return sameList(a.prolog, b.prolog) && sameContent(a.root, b.root)
        && sameList(a.epilog, b.epilog);
}

} // namespace XmlTree
