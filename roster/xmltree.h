#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QString>
#include <QXmlStreamReader>

#include <optional>
#include <vector>

// An XML document as a tree that keeps what it was read with: elements with
// their attributes in file order, text (white space included), comments,
// processing instructions and the document type. Written back unchanged it
// says the same as the file, so that a program changing one attribute leaves
// everything else as its author wrote it. (QDomDocument writes attributes in
// an order that changes from run to run, which turns every save into a diff
// of the whole file.)
//
// Namespaces are not interpreted: "xmlns:xsi" and "xsi:…" are attributes with
// those names, and element names are written as they were read.
namespace XmlTree {

struct Attribute
{
    QString name;
    QString value;
    friend bool operator==(const Attribute &, const Attribute &) = default;
};

struct Node
{
    enum class Kind { Element, Text, CData, Comment, ProcessingInstruction, Dtd, EntityReference };

    Kind kind = Kind::Element;
    // An element's name, a processing instruction's target, an entity's name.
    QString name;
    // Text, comment, processing instruction data, the document type text.
    QString text;
    QList<Attribute> attributes;
    std::vector<Node> children;
    // Where the node was read (1 is the first line); 0 for a node made here.
    qint64 line = 0;

    static Node element(const QString &name, const QList<Attribute> &attributes = {});
    static Node textNode(const QString &text);

    bool isElement() const { return kind == Kind::Element; }
    bool isElement(QStringView elementName) const { return isElement() && name == elementName; }

    // The attribute's value; nullopt when the element has no such attribute.
    std::optional<QString> attribute(QStringView attributeName) const;
    // Changes the value in place, or appends the attribute.
    void setAttribute(const QString &attributeName, const QString &value);

    // The first child element of that name; nullptr when there is none.
    const Node *child(QStringView elementName) const;
    Node *child(QStringView elementName);
    // The text of the element's own text children, joined; white space alone
    // between two pieces of markup (the indentation) is left out.
    QString ownText() const;
    // Replaces every child by one text node.
    void setOwnText(const QString &value);
};

struct Document
{
    // Before and after the root element: comments, processing instructions,
    // the document type and the white space between them.
    std::vector<Node> prolog;
    Node root;
    std::vector<Node> epilog;
};

// Only blanks, tabs and line ends: the white space XML itself knows.
bool isXmlBlank(QStringView text);

struct ParseError
{
    qint64 line = 0;
    QString text;   // the reader's own words (English)
};

// Elements nested deeper than this are refused: nothing JMRI writes comes
// near, and a hostile file cannot exhaust the stack.
constexpr int MaxDepth = 200;

// The document, or where and why it is not well-formed XML.
struct ParseResult
{
    std::optional<Document> document;
    ParseError error;
};
ParseResult parse(const QByteArray &bytes);

// A reader over bytes in memory, namespaces not interpreted.
class ByteReader
{
public:
    explicit ByteReader(const QByteArray &bytes);
    QXmlStreamReader reader;

private:
    QByteArray m_buffer;
    QBuffer m_device;
};

// For a reader that walks a large file itself and takes single elements as
// trees: called right after the reader read a StartElement with depth open
// elements around it (0 for the root), readElement reads that element with
// everything in it, skipElement reads past it keeping nothing. False, with
// the error, when the file breaks off or nests too deeply. A reader that
// only reads content (ownText) may drop the white space between markup,
// which ownText leaves out anyway.
enum class Blanks { Kept, Dropped };
// Whether the token the reader just read holds only characters XML allows
// and has its names (readElement and skipElement see to it themselves; a
// reader walking a file must ask for every other token).
bool checkToken(const QXmlStreamReader &reader, ParseError &error);
bool readElement(QXmlStreamReader &reader, int depth, Node &element, ParseError &error,
                 Blanks blanks = Blanks::Kept);
bool skipElement(QXmlStreamReader &reader, int depth, ParseError &error);

// The document as UTF-8 with an XML declaration saying so.
QByteArray write(const Document &document);

// The same content apart from white space between elements: two documents
// that a reader of the content cannot tell apart compare equal.
bool sameContent(const Node &a, const Node &b);
bool sameContent(const Document &a, const Document &b);

} // namespace XmlTree
