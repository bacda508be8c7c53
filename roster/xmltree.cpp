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

QString Node::ownText() const
{
    QString result;
    for (const Node &c : children) {
        if (c.kind == Kind::Text || c.kind == Kind::CData)
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

ParseResult parse(const QByteArray &bytes)
{
    QXmlStreamReader reader(bytes);
    reader.setNamespaceProcessing(false);
    Document document;
    bool haveRoot = false;
    // The open elements, innermost last. Pointers into the tree stay valid:
    // a vector only grows at the innermost open element, whose own children
    // are not open.
    std::vector<Node *> open;

    auto place = [&](Node node) {
        if (!open.empty())
            open.back()->children.push_back(std::move(node));
        else if (haveRoot)
            document.epilog.push_back(std::move(node));
        else
            document.prolog.push_back(std::move(node));
    };

    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        const qint64 line = reader.lineNumber();
        switch (token) {
        case QXmlStreamReader::StartElement: {
            if (open.empty() && haveRoot) {
                // The reader reports a second root itself; this is a guard.
                return {std::nullopt, {line, QStringLiteral("Extra content at end of document.")}};
            }
            if (int(open.size()) >= MaxDepth)
                return {std::nullopt, {line, QStringLiteral("Elements nested too deeply.")}};
            Node element = Node::element(reader.qualifiedName().toString());
            element.line = line;
            const QXmlStreamAttributes attributes = reader.attributes();
            for (const QXmlStreamAttribute &a : attributes) {
                // Values the document type supplies were not in the file.
                if (!a.isDefault())
                    element.attributes.append({a.qualifiedName().toString(), a.value().toString()});
            }
            if (open.empty()) {
                document.root = std::move(element);
                haveRoot = true;
                open.push_back(&document.root);
            } else {
                Node *parent = open.back();
                parent->children.push_back(std::move(element));
                open.push_back(&parent->children.back());
            }
            break;
        }
        case QXmlStreamReader::EndElement:
            if (!open.empty())
                open.pop_back();
            break;
        case QXmlStreamReader::Characters: {
            // Outside the root the reader reports no white space, and nothing
            // else may stand there.
            if (open.empty())
                break;
            Node node;
            node.kind = reader.isCDATA() ? Node::Kind::CData : Node::Kind::Text;
            node.text = reader.text().toString();
            node.line = line;
            place(std::move(node));
            break;
        }
        case QXmlStreamReader::Comment: {
            Node node;
            node.kind = Node::Kind::Comment;
            node.text = reader.text().toString();
            node.line = line;
            place(std::move(node));
            break;
        }
        case QXmlStreamReader::ProcessingInstruction: {
            Node node;
            node.kind = Node::Kind::ProcessingInstruction;
            node.name = reader.processingInstructionTarget().toString();
            node.text = reader.processingInstructionData().toString();
            node.line = line;
            place(std::move(node));
            break;
        }
        case QXmlStreamReader::DTD: {
            Node node;
            node.kind = Node::Kind::Dtd;
            node.text = reader.text().toString().trimmed();
            node.line = line;
            place(std::move(node));
            break;
        }
        case QXmlStreamReader::EntityReference: {
            Node node;
            node.kind = Node::Kind::EntityReference;
            node.name = reader.name().toString();
            node.line = line;
            place(std::move(node));
            break;
        }
        default:
            break;
        }
    }
    if (reader.hasError())
        return {std::nullopt, {reader.lineNumber(), reader.errorString()}};
    if (!haveRoot)
        return {std::nullopt, {reader.lineNumber(), QStringLiteral("Premature end of document.")}};
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
