#include "roster/rosterfile.h"

#include "link/commands.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>

using XmlTree::Attribute;
using XmlTree::Node;

namespace RosterFiles {

namespace {

const QString IndexRoot = QStringLiteral("roster-config");
const QString LocoFileRoot = QStringLiteral("locomotive-config");
const QString Locomotive = QStringLiteral("locomotive");
const QString SchemaNamespace = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");
// JMRI keeps line breaks of a comment as this processing-instruction-like
// text inside the attribute.
const QString CommentBreak = QStringLiteral("<?p?>");

// The children of <locomotive> in the order JMRI's schema gives them; an
// element added goes before the first one that comes later.
const QStringList ChildOrder = {
    QStringLiteral("dateUpdated"),    QStringLiteral("decoder"),
    QStringLiteral("locoaddress"),    QStringLiteral("functionlabels"),
    QStringLiteral("soundlabels"),    QStringLiteral("attributepairs"),
    QStringLiteral("speedprofile"),   QStringLiteral("values"),
};

QString quoted(const QString &text)
{
    return QStringLiteral("„") + text + QStringLiteral("“");
}

// "„BR 218“" for the problems, or the line when the entry has no name.
QString named(const QString &id)
{
    return id.trimmed().isEmpty() ? QStringLiteral("ohne Namen") : quoted(id);
}

std::optional<int> plainNumber(const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 6)
        return std::nullopt;
    int value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

bool isBlank(const Node &node)
{
    return node.kind == Node::Kind::Text && node.text.trimmed().isEmpty();
}

// The white space before the parent's child elements ("\n    "), empty when
// the file has none there.
QString siblingSeparator(const Node &parent)
{
    for (std::size_t i = 1; i < parent.children.size(); ++i) {
        if (parent.children[i].isElement() && isBlank(parent.children[i - 1]))
            return parent.children[i - 1].text;
    }
    return QString();
}

// The element with white space between its children one level deeper than
// separator, the way JMRI indents; unchanged without a separator.
Node formatted(Node node, const QString &separator)
{
    if (separator.isEmpty() || node.children.empty())
        return node;
    const bool onlyElements = std::all_of(node.children.begin(), node.children.end(),
                                          [](const Node &c) { return c.isElement(); });
    if (!onlyElements)
        return node;
    const QString inner = separator + QStringLiteral("  ");
    std::vector<Node> children;
    for (Node &child : node.children) {
        children.push_back(Node::textNode(inner));
        children.push_back(formatted(std::move(child), inner));
    }
    children.push_back(Node::textNode(separator));
    node.children = std::move(children);
    return node;
}

// The element without the white space between its child elements, all the
// way down: an element moved to another depth is indented anew. The text of
// an element without child elements stays, blank or not.
Node withoutBlanks(Node node)
{
    const bool hasElements = std::any_of(node.children.begin(), node.children.end(),
                                         [](const Node &c) { return c.isElement(); });
    std::vector<Node> children;
    for (Node &child : node.children) {
        if (!hasElements || !isBlank(child))
            children.push_back(withoutBlanks(std::move(child)));
    }
    node.children = std::move(children);
    return node;
}

// Inserts child before the element at index (or at the end), in the
// parent's indentation.
void insertChild(Node &parent, std::size_t index, Node child)
{
    const QString separator = siblingSeparator(parent);
    if (!separator.isEmpty())
        child = formatted(withoutBlanks(std::move(child)), separator);
    auto &children = parent.children;
    if (index < children.size()) {
        if (separator.isEmpty()) {
            children.insert(children.begin() + qsizetype(index), std::move(child));
        } else {
            children.insert(children.begin() + qsizetype(index), Node::textNode(separator));
            children.insert(children.begin() + qsizetype(index), std::move(child));
        }
        return;
    }
    // At the end: before the white space that closes the parent.
    std::size_t at = children.size();
    if (at > 0 && isBlank(children[at - 1]) && !separator.isEmpty())
        --at;
    children.insert(children.begin() + qsizetype(at), std::move(child));
    if (!separator.isEmpty())
        children.insert(children.begin() + qsizetype(at), Node::textNode(separator));
}

// The element of that name in <locomotive>, added where the schema puts it.
Node &locomotiveChild(Node &locomotive, const QString &name)
{
    if (Node *existing = locomotive.child(name))
        return *existing;
    const qsizetype rank = ChildOrder.indexOf(name);
    std::size_t index = locomotive.children.size();
    for (std::size_t i = 0; i < locomotive.children.size(); ++i) {
        const Node &c = locomotive.children[i];
        if (c.isElement() && ChildOrder.indexOf(c.name) > rank) {
            index = i;
            break;
        }
    }
    insertChild(locomotive, index, Node::element(name));
    return *locomotive.child(name);
}

Node textElement(const QString &name, const QString &text)
{
    Node node = Node::element(name);
    node.setOwnText(text);
    return node;
}

Node &childElement(Node &parent, const QString &name)
{
    if (Node *existing = parent.child(name))
        return *existing;
    insertChild(parent, parent.children.size(), Node::element(name));
    return *parent.child(name);
}

QString fileComment(const QString &comment)
{
    QString text = comment;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\n'), CommentBreak);
    return text;
}

void setAddress(Node &locomotive, int address, bool longAddress)
{
    const QString number = QString::number(address);
    locomotive.setAttribute(QStringLiteral("dccAddress"), number);
    Node &locoAddress = locomotiveChild(locomotive, QStringLiteral("locoaddress"));
    if (Node *dcc = locoAddress.child(QStringLiteral("dcclocoaddress"))) {
        dcc->setAttribute(QStringLiteral("number"), number);
        dcc->setAttribute(QStringLiteral("longaddress"), longAddress ? QStringLiteral("yes")
                                                                       : QStringLiteral("no"));
    } else {
        insertChild(locoAddress, 0,
                    Node::element(QStringLiteral("dcclocoaddress"),
                                  {{QStringLiteral("number"), number},
                                   {QStringLiteral("longaddress"),
                                    longAddress ? QStringLiteral("yes") : QStringLiteral("no")}}));
    }
    childElement(locoAddress, QStringLiteral("number")).setOwnText(number);
    childElement(locoAddress, QStringLiteral("protocol"))
        .setOwnText(longAddress ? QStringLiteral("dcc_long") : QStringLiteral("dcc_short"));
}

Node newLabel(int function, const FunctionLabel &label)
{
    Node node = Node::element(QStringLiteral("functionlabel"),
                              {{QStringLiteral("num"), QString::number(function)},
                               {QStringLiteral("lockable"),
                                label.lockable ? QStringLiteral("true") : QStringLiteral("false")},
                               {QStringLiteral("functionImage"), QString()},
                               {QStringLiteral("functionImageSelected"), QString()}});
    node.setOwnText(label.text);
    return node;
}

std::optional<int> labelNumber(const Node &node)
{
    return plainNumber(node.attribute(QStringLiteral("num")).value_or(QString()));
}

void setLabel(Node &locomotive, int function, const FunctionLabel &label)
{
    Node &labels = locomotiveChild(locomotive, QStringLiteral("functionlabels"));
    // A second label of the same function, which the readers pass over,
    // goes: JMRI keeps one a function, and once the first is changed or gone
    // the second must not come to light.
    auto labelsOf = [&] {
        std::vector<std::size_t> at;
        for (std::size_t i = 0; i < labels.children.size(); ++i) {
            const Node &c = labels.children[i];
            if (c.isElement(u"functionlabel") && labelNumber(c) == function)
                at.push_back(i);
        }
        return at;
    };
    const std::size_t kept = label.isEmpty() ? 0 : 1;
    for (std::vector<std::size_t> at = labelsOf(); at.size() > kept; at = labelsOf())
        removeChild(labels, &labels.children[at.back()]);
    if (label.isEmpty())
        return;   // JMRI keeps only functions that have a label.
    Node *existing = nullptr;
    std::size_t before = labels.children.size();
    for (std::size_t i = 0; i < labels.children.size(); ++i) {
        Node &c = labels.children[i];
        if (!c.isElement(u"functionlabel"))
            continue;
        const std::optional<int> number = labelNumber(c);
        if (number == function) {
            existing = &c;
            break;
        }
        if (number && *number > function && before == labels.children.size())
            before = i;
    }
    if (!existing) {
        insertChild(labels, before, newLabel(function, label));
        return;
    }
    existing->setOwnText(label.text);
    existing->setAttribute(QStringLiteral("lockable"),
                           label.lockable ? QStringLiteral("true") : QStringLiteral("false"));
}

bool sameLabel(const FunctionLabel &a, const FunctionLabel &b)
{
    if (a.isEmpty() || b.isEmpty())
        return a.isEmpty() == b.isEmpty();
    return a == b;
}

void setIfChanged(Node &element, const QString &attribute, const QString &before,
                  const QString &after)
{
    if (before != after)
        element.setAttribute(attribute, after);
}

// Reads the address parts of a <locomotive>: the number and, when the file
// gives one, the long/short flag. JMRI's own order: <locoaddress><number>
// with <protocol>, then <dcclocoaddress>, then the older dccAddress
// attribute.
struct AddressText
{
    QString text;
    std::optional<bool> longAddress;
};

AddressText addressText(const Node &locomotive)
{
    AddressText result;
    if (const Node *locoAddress = locomotive.child(u"locoaddress")) {
        const Node *dcc = locoAddress->child(u"dcclocoaddress");
        if (dcc) {
            const QString flag = dcc->attribute(u"longaddress").value_or(QString()).trimmed();
            if (flag == QLatin1String("yes"))
                result.longAddress = true;
            else if (flag == QLatin1String("no"))
                result.longAddress = false;
        }
        if (const Node *number = locoAddress->child(u"number");
            number && !number->ownText().trimmed().isEmpty()) {
            result.text = number->ownText().trimmed();
            if (const Node *protocol = locoAddress->child(u"protocol")) {
                const QString name = protocol->ownText().trimmed();
                if (name == QLatin1String("dcc_long"))
                    result.longAddress = true;
                else if (name == QLatin1String("dcc_short"))
                    result.longAddress = false;
            }
            return result;
        }
        if (dcc) {
            result.text = dcc->attribute(u"number").value_or(QString()).trimmed();
            if (!result.text.isEmpty())
                return result;
        }
    }
    result.text = locomotive.attribute(u"dccAddress").value_or(QString()).trimmed();
    return result;
}

Problem problemAt(const QString &file, qint64 line, const QString &text)
{
    return Problem{file, line, text};
}

Problem notXml(const QString &file, const XmlTree::ParseError &error)
{
    return problemAt(file, error.line,
                     QStringLiteral("Die Datei ist kein lesbares XML; sie wird nicht gelesen."));
}

Problem wrongRoot(const QString &file, const Node &root, const QString &expected)
{
    return problemAt(file, root.line,
                     QStringLiteral("Die Datei ist keine JMRI-Fahrzeugdatei (erwartet wird <%1>, "
                                    "sie beginnt mit <%2>); sie wird nicht gelesen.")
                         .arg(expected, root.name));
}

QString attributeText(const Node &node, QStringView name)
{
    return node.attribute(name).value_or(QString());
}

void writeLabels(QXmlStreamWriter &writer, const RosterEntry &entry)
{
    writer.writeStartElement(QStringLiteral("functionlabels"));
    for (int n = 0; n <= RosterEntry::MaxLabelledFunction; ++n) {
        if (!entry.hasLabel(n))
            continue;
        writer.writeStartElement(QStringLiteral("functionlabel"));
        writer.writeAttribute(QStringLiteral("num"), QString::number(n));
        writer.writeAttribute(QStringLiteral("lockable"), entry.label(n).lockable
                                                              ? QStringLiteral("true")
                                                              : QStringLiteral("false"));
        writer.writeCharacters(entry.label(n).text);
        writer.writeEndElement();
    }
    writer.writeEndElement();
}

} // namespace

QString Problem::message() const
{
    if (line > 0)
        return QStringLiteral("%1, Zeile %2: %3").arg(file).arg(line).arg(text);
    return file + QStringLiteral(": ") + text;
}

bool isPlainFileName(const QString &fileName)
{
    return !fileName.isEmpty() && !fileName.contains(QLatin1Char('/'))
        && !fileName.contains(QLatin1Char('\\')) && fileName != QLatin1String(".")
        && fileName != QLatin1String("..") && !fileName.contains(QChar(0));
}

std::optional<RosterEntry> readLocomotive(const Node &locomotive, const QString &file,
                                          QList<Problem> &problems)
{
    RosterEntry entry;
    entry.id = attributeText(locomotive, u"id");
    if (entry.id.trimmed().isEmpty()) {
        problems << problemAt(file, locomotive.line,
                              QStringLiteral("Ein Fahrzeug ohne Namen (id) wird übergangen."));
        return std::nullopt;
    }
    const AddressText address = addressText(locomotive);
    if (address.text.isEmpty()) {
        problems << problemAt(file, locomotive.line,
                              QStringLiteral("Das Fahrzeug %1 hat keine Lok-Nummer und wird "
                                             "übergangen.")
                                  .arg(named(entry.id)));
        return std::nullopt;
    }
    const std::optional<int> number = plainNumber(address.text);
    if (!number || !Limits::isLocoNumber(*number)) {
        problems << problemAt(file, locomotive.line,
                              QStringLiteral("Das Fahrzeug %1 hat die Lok-Nummer %2; erlaubt sind "
                                             "%3 bis %4. Es wird übergangen.")
                                  .arg(named(entry.id), quoted(address.text))
                                  .arg(Limits::MinLocoNumber)
                                  .arg(Limits::MaxLocoNumber));
        return std::nullopt;
    }
    entry.address = *number;
    entry.longAddress = address.longAddress;
    entry.roadName = attributeText(locomotive, u"roadName");
    entry.roadNumber = attributeText(locomotive, u"roadNumber");
    entry.comment = attributeText(locomotive, u"comment");
    entry.comment.replace(CommentBreak, QStringLiteral("\n"));
    entry.mfg = attributeText(locomotive, u"mfg");
    entry.model = attributeText(locomotive, u"model");
    entry.owner = attributeText(locomotive, u"owner");
    entry.maxSpeed = attributeText(locomotive, u"maxSpeed");
    entry.iconFilePath = attributeText(locomotive, u"iconFilePath");
    entry.imageFilePath = attributeText(locomotive, u"imageFilePath");
    entry.fileName = attributeText(locomotive, u"fileName");

    if (const Node *labels = locomotive.child(u"functionlabels")) {
        QSet<int> seen;
        for (const Node &label : labels->children) {
            if (!label.isElement(u"functionlabel"))
                continue;
            const std::optional<int> function = labelNumber(label);
            if (!function || *function > MaxFunctionNumber) {
                problems << problemAt(
                    file, label.line,
                    QStringLiteral("Das Fahrzeug %1 hat eine Funktionsbeschriftung mit der "
                                   "Nummer %2; erlaubt sind 0 bis %3. Sie wird übergangen.")
                        .arg(named(entry.id), quoted(attributeText(label, u"num")))
                        .arg(MaxFunctionNumber));
                continue;
            }
            // The first label of a number counts, as in the apps.
            if (*function > RosterEntry::MaxLabelledFunction || seen.contains(*function))
                continue;
            seen.insert(*function);
            // JMRI's own default: without the flag a function latches.
            const QString lockable = attributeText(label, u"lockable").trimmed();
            entry.labels[std::size_t(*function)] =
                FunctionLabel{label.ownText(), lockable.isEmpty() || lockable == QLatin1String("true")};
        }
    }
    return entry;
}

namespace {

// The checks an entry of an index passes beyond its own: its name once, its
// loco file once and inside the "roster" folder. Both readers of an index
// put their entries through it, so that they find the same.
class IndexChecks
{
public:
    IndexChecks(const QString &file, QList<RosterEntry> &entries, QList<Problem> &problems)
        : m_file(file), m_entries(entries), m_problems(problems)
    {
    }

    void add(const Node &locomotive)
    {
        std::optional<RosterEntry> entry = readLocomotive(locomotive, m_file, m_problems);
        if (!entry)
            return;
        if (const auto seen = m_ids.constFind(entry->id); seen != m_ids.constEnd()) {
            refuse(locomotive, QStringLiteral("Den Namen %1 hat schon das Fahrzeug in Zeile %2; "
                                              "dieses wird übergangen.")
                                   .arg(quoted(entry->id))
                                   .arg(*seen));
            return;
        }
        if (!entry->fileName.isEmpty() && !isPlainFileName(entry->fileName)) {
            refuse(locomotive, QStringLiteral("Die Datei %1 des Fahrzeugs %2 liegt nicht im Ordner "
                                              "„roster“; das Fahrzeug wird übergangen.")
                                   .arg(quoted(entry->fileName), quoted(entry->id)));
            return;
        }
        if (!entry->fileName.isEmpty()) {
            if (const auto owner = m_files.constFind(entry->fileName); owner != m_files.constEnd()) {
                refuse(locomotive, QStringLiteral("Die Datei %1 gehört schon zum Fahrzeug %2; das "
                                                  "Fahrzeug %3 wird übergangen.")
                                       .arg(quoted(entry->fileName), quoted(*owner), quoted(entry->id)));
                return;
            }
            m_files.insert(entry->fileName, entry->id);
        }
        m_ids.insert(entry->id, locomotive.line);
        // Road names, makers and labels repeat from loco to loco: one string
        // each, shared, keeps a large roster small.
        for (QString *text : {&entry->roadName, &entry->mfg, &entry->model, &entry->owner,
                              &entry->maxSpeed, &entry->comment, &entry->iconFilePath,
                              &entry->imageFilePath})
            share(*text);
        for (FunctionLabel &label : entry->labels)
            share(label.text);
        m_entries << std::move(*entry);
    }

private:
    void share(QString &text)
    {
        if (text.isEmpty())
            return;
        const auto known = m_texts.constFind(text);
        if (known != m_texts.constEnd())
            text = *known;
        else
            m_texts.insert(text);
    }

    void refuse(const Node &locomotive, const QString &text)
    {
        m_problems << problemAt(m_file, locomotive.line, text);
    }

    const QString &m_file;
    QList<RosterEntry> &m_entries;
    QList<Problem> &m_problems;
    QHash<QString, qint64> m_ids;
    QHash<QString, QString> m_files;
    QSet<QString> m_texts;
};

} // namespace

namespace {

// The file's tree when it is XML with the root wanted; else its problem.
std::optional<XmlTree::Document> parseWithRoot(const QByteArray &bytes, const QString &file,
                                               const QString &rootName, QList<Problem> &problems)
{
    XmlTree::ParseResult parsed = XmlTree::parse(bytes);
    if (!parsed.document) {
        problems << notXml(file, parsed.error);
        return std::nullopt;
    }
    if (parsed.document->root.name != rootName) {
        problems << wrongRoot(file, parsed.document->root, rootName);
        return std::nullopt;
    }
    return std::move(parsed.document);
}

} // namespace

IndexRead readIndex(const QByteArray &bytes, const QString &file)
{
    IndexRead result;
    std::optional<XmlTree::Document> document = parseWithRoot(bytes, file, IndexRoot, result.problems);
    if (!document)
        return result;
    if (const Node *roster = document->root.child(u"roster")) {
        IndexChecks checks(file, result.entries, result.problems);
        for (const Node &locomotive : roster->children) {
            if (locomotive.isElement(Locomotive))
                checks.add(locomotive);
        }
    }
    result.document = std::move(document);
    return result;
}

IndexEntries readIndexEntries(const QByteArray &bytes, const QString &file)
{
    IndexEntries result;
    XmlTree::ByteReader input(bytes);
    QXmlStreamReader &reader = input.reader;
    XmlTree::ParseError error;
    std::optional<Node> wrong;
    bool haveRoot = false;
    bool haveRoster = false;
    IndexChecks checks(file, result.entries, result.problems);
    auto fail = [&] {
        result.entries.clear();
        result.problems = {notXml(file, error)};
        return result;
    };
    // Every token read here is checked as readElement and skipElement check
    // theirs, so that this reader refuses what the tree's refuses.
    auto next = [&](QXmlStreamReader::TokenType &token) {
        token = reader.readNext();
        return XmlTree::checkToken(reader, error);
    };
    // On to the current element's next child element, or to its end.
    enum class Step { Child, End, Error };
    auto nextChild = [&] {
        QXmlStreamReader::TokenType token = QXmlStreamReader::NoToken;
        while (!reader.atEnd()) {
            if (!next(token))
                return Step::Error;
            if (token == QXmlStreamReader::EndElement)
                return Step::End;
            if (token == QXmlStreamReader::StartElement)
                return Step::Child;
        }
        return Step::End;
    };
    QXmlStreamReader::TokenType token = QXmlStreamReader::NoToken;
    while (!reader.atEnd()) {
        if (!next(token))
            return fail();
        if (token != QXmlStreamReader::StartElement)
            continue;
        haveRoot = true;
        if (reader.qualifiedName() != IndexRoot) {
            // Wrong, unless it is no XML at all: that is found first.
            wrong = Node::element(reader.qualifiedName().toString());
            wrong->line = reader.lineNumber();
            if (!XmlTree::skipElement(reader, 0, error))
                return fail();
            continue;
        }
        // The root's children: the first <roster> holds the locos.
        for (Step step; (step = nextChild()) != Step::End;) {
            if (step == Step::Error)
                return fail();
            if (haveRoster || reader.qualifiedName() != u"roster") {
                if (!XmlTree::skipElement(reader, 1, error))
                    return fail();
                continue;
            }
            haveRoster = true;
            for (Step inner; (inner = nextChild()) != Step::End;) {
                if (inner == Step::Error)
                    return fail();
                if (reader.qualifiedName() != Locomotive) {
                    if (!XmlTree::skipElement(reader, 2, error))
                        return fail();
                    continue;
                }
                Node locomotive;
                if (!XmlTree::readElement(reader, 2, locomotive, error, XmlTree::Blanks::Dropped))
                    return fail();
                checks.add(locomotive);
            }
        }
    }
    if (reader.hasError() || !haveRoot) {
        error = {reader.lineNumber(), reader.hasError() ? reader.errorString()
                                                        : QStringLiteral("Premature end of document.")};
        return fail();
    }
    if (wrong) {
        result.entries.clear();
        result.problems = {wrongRoot(file, *wrong, IndexRoot)};
        return result;
    }
    result.readable = true;
    return result;
}

LocoFileRead readLocoFile(const QByteArray &bytes, const QString &file)
{
    LocoFileRead result;
    std::optional<XmlTree::Document> document =
        parseWithRoot(bytes, file, LocoFileRoot, result.problems);
    if (!document)
        return result;
    const Node &root = document->root;
    const Node *locomotive = root.child(Locomotive);
    if (!locomotive) {
        result.problems << problemAt(file, root.line,
                                     QStringLiteral("Die Datei beschreibt kein Fahrzeug "
                                                    "(<locomotive> fehlt)."));
        return result;
    }
    result.entry = readLocomotive(*locomotive, file, result.problems);
    result.document = std::move(document);
    return result;
}

void applyChanges(Node &locomotive, const RosterEntry &before, const RosterEntry &after)
{
    setIfChanged(locomotive, QStringLiteral("id"), before.id, after.id);
    setIfChanged(locomotive, QStringLiteral("fileName"), before.fileName, after.fileName);
    setIfChanged(locomotive, QStringLiteral("roadNumber"), before.roadNumber, after.roadNumber);
    setIfChanged(locomotive, QStringLiteral("roadName"), before.roadName, after.roadName);
    setIfChanged(locomotive, QStringLiteral("mfg"), before.mfg, after.mfg);
    setIfChanged(locomotive, QStringLiteral("owner"), before.owner, after.owner);
    setIfChanged(locomotive, QStringLiteral("model"), before.model, after.model);
    if (before.comment != after.comment)
        locomotive.setAttribute(QStringLiteral("comment"), fileComment(after.comment));
    setIfChanged(locomotive, QStringLiteral("maxSpeed"), before.maxSpeed, after.maxSpeed);
    setIfChanged(locomotive, QStringLiteral("imageFilePath"), before.imageFilePath,
                 after.imageFilePath);
    setIfChanged(locomotive, QStringLiteral("iconFilePath"), before.iconFilePath,
                 after.iconFilePath);
    if (before.address != after.address || before.longAddress != after.longAddress)
        setAddress(locomotive, after.address, after.isLong());
    for (int n = 0; n <= RosterEntry::MaxLabelledFunction; ++n) {
        if (!sameLabel(before.label(n), after.label(n)))
            setLabel(locomotive, n, after.label(n));
    }
}

Node newLocomotive(const RosterEntry &entry)
{
    // JMRI's attributes, in the order it writes them.
    Node locomotive = Node::element(
        Locomotive, {{QStringLiteral("id"), entry.id},
                     {QStringLiteral("fileName"), entry.fileName},
                     {QStringLiteral("roadNumber"), entry.roadNumber},
                     {QStringLiteral("roadName"), entry.roadName},
                     {QStringLiteral("mfg"), entry.mfg},
                     {QStringLiteral("owner"), entry.owner},
                     {QStringLiteral("model"), entry.model},
                     {QStringLiteral("dccAddress"), QString::number(entry.address)},
                     {QStringLiteral("comment"), fileComment(entry.comment)},
                     {QStringLiteral("maxSpeed"),
                      entry.maxSpeed.isEmpty() ? QStringLiteral("100") : entry.maxSpeed},
                     {QStringLiteral("imageFilePath"), entry.imageFilePath},
                     {QStringLiteral("iconFilePath"), entry.iconFilePath},
                     {QStringLiteral("URL"), QString()},
                     {QStringLiteral("IsShuntingOn"), QString()}});
    // The decoder is unknown; DecoderPro asks for it when the loco is opened.
    locomotive.children.push_back(Node::element(QStringLiteral("decoder"),
                                                {{QStringLiteral("model"), QString()},
                                                 {QStringLiteral("family"), QString()},
                                                 {QStringLiteral("comment"), QString()}}));
    Node locoAddress = Node::element(QStringLiteral("locoaddress"));
    locoAddress.children.push_back(Node::element(
        QStringLiteral("dcclocoaddress"),
        {{QStringLiteral("number"), QString::number(entry.address)},
         {QStringLiteral("longaddress"), entry.isLong() ? QStringLiteral("yes") : QStringLiteral("no")}}));
    locoAddress.children.push_back(textElement(QStringLiteral("number"), QString::number(entry.address)));
    locoAddress.children.push_back(textElement(
        QStringLiteral("protocol"), entry.isLong() ? QStringLiteral("dcc_long") : QStringLiteral("dcc_short")));
    locomotive.children.push_back(std::move(locoAddress));
    Node labels = Node::element(QStringLiteral("functionlabels"));
    for (int n = 0; n <= RosterEntry::MaxLabelledFunction; ++n) {
        if (entry.hasLabel(n))
            labels.children.push_back(newLabel(n, entry.label(n)));
    }
    locomotive.children.push_back(std::move(labels));
    return locomotive;
}

namespace {

Node schemaRoot(const QString &name, const QString &schema)
{
    return Node::element(name, {{QStringLiteral("xmlns:xsi"), SchemaNamespace},
                                {QStringLiteral("xsi:noNamespaceSchemaLocation"), schema}});
}

Node styleSheet(const QString &href)
{
    Node node;
    node.kind = Node::Kind::ProcessingInstruction;
    node.name = QStringLiteral("xml-stylesheet");
    node.text = QStringLiteral("type=\"text/xsl\" href=\"%1\"").arg(href);
    return node;
}

} // namespace

XmlTree::Document newLocoFile(const RosterEntry &entry)
{
    XmlTree::Document document;
    document.prolog.push_back(styleSheet(QStringLiteral("/xml/XSLT/locomotive.xsl")));
    document.root = schemaRoot(LocoFileRoot,
                               QStringLiteral("http://jmri.org/xml/schema/locomotive-config.xsd"));
    document.root.children.push_back(Node::textNode(QStringLiteral("\n  ")));
    document.root.children.push_back(formatted(newLocomotive(entry), QStringLiteral("\n  ")));
    document.root.children.push_back(Node::textNode(QStringLiteral("\n")));
    return document;
}

XmlTree::Document newIndex()
{
    XmlTree::Document document;
    document.prolog.push_back(styleSheet(QStringLiteral("/xml/XSLT/roster2array.xsl")));
    document.root = schemaRoot(IndexRoot, QStringLiteral("http://jmri.org/xml/schema/roster.xsd"));
    document.root.children.push_back(Node::textNode(QStringLiteral("\n  ")));
    Node roster = Node::element(QStringLiteral("roster"));
    roster.children.push_back(Node::textNode(QStringLiteral("\n  ")));
    document.root.children.push_back(std::move(roster));
    document.root.children.push_back(Node::textNode(QStringLiteral("\n")));
    return document;
}

Node &rosterList(XmlTree::Document &index)
{
    if (Node *roster = index.root.child(u"roster"))
        return *roster;
    insertChild(index.root, 0, Node::element(QStringLiteral("roster")));
    return *index.root.child(u"roster");
}

Node *findLocomotive(XmlTree::Document &index, const QString &fileName, const QString &id)
{
    Node &roster = rosterList(index);
    for (Node &c : roster.children) {
        if (c.isElement(Locomotive) && !fileName.isEmpty()
            && c.attribute(u"fileName") == fileName)
            return &c;
    }
    for (Node &c : roster.children) {
        if (c.isElement(Locomotive) && c.attribute(u"id") == id)
            return &c;
    }
    return nullptr;
}

void removeChild(Node &parent, const Node *child)
{
    auto &children = parent.children;
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (&children[i] != child)
            continue;
        const bool blankBefore = i > 0 && isBlank(children[i - 1]);
        children.erase(children.begin() + qsizetype(i));
        if (blankBefore)
            children.erase(children.begin() + qsizetype(i - 1));
        return;
    }
}

void appendChild(Node &parent, Node child)
{
    insertChild(parent, parent.children.size(), std::move(child));
}

Node indexElement(const Node &locomotive)
{
    Node element = locomotive;
    if (const Node *values = element.child(u"values"))
        removeChild(element, values);
    return element;
}

QString fileNameFor(const QString &id, const std::function<bool(const QString &)> &taken)
{
    QString base;
    for (const QChar c : id) {
        const bool word = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')
                          || (c >= u'0' && c <= u'9') || c == u'_';
        base += word ? c : QLatin1Char('_');
    }
    if (base.isEmpty())
        base = QStringLiteral("_");
    const QString ending = QStringLiteral(".xml");
    if (!taken(base + ending))
        return base + ending;
    for (int count = 0;; ++count) {
        const QString name = base + QString::number(count) + ending;
        if (!taken(name))
            return name;
    }
}

QByteArray webRoster(const QList<RosterEntry> &entries,
                     const std::function<bool(const RosterEntry &)> &iconFor)
{
    QByteArray bytes;
    bytes.reserve(entries.size() * 600 + 400);
    QXmlStreamWriter writer(&bytes);
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(2);
    writer.writeStartDocument();
    writer.writeStartElement(IndexRoot);
    writer.writeNamespace(SchemaNamespace, QStringLiteral("xsi"));
    writer.writeAttribute(SchemaNamespace, QStringLiteral("noNamespaceSchemaLocation"),
                          QStringLiteral("http://jmri.org/xml/schema/roster.xsd"));
    writer.writeStartElement(QStringLiteral("roster"));
    for (const RosterEntry &entry : entries) {
        writer.writeStartElement(Locomotive);
        writer.writeAttribute(QStringLiteral("id"), entry.id);
        writer.writeAttribute(QStringLiteral("fileName"), entry.fileName);
        writer.writeAttribute(QStringLiteral("roadNumber"), entry.roadNumber);
        writer.writeAttribute(QStringLiteral("roadName"), entry.roadName);
        writer.writeAttribute(QStringLiteral("mfg"), entry.mfg);
        writer.writeAttribute(QStringLiteral("owner"), entry.owner);
        writer.writeAttribute(QStringLiteral("model"), entry.model);
        writer.writeAttribute(QStringLiteral("dccAddress"), QString::number(entry.address));
        writer.writeAttribute(QStringLiteral("comment"), entry.comment);
        // The app reads maxSpeed as a whole number and drops the whole list
        // when it is anything else.
        if (plainNumber(entry.maxSpeed))
            writer.writeAttribute(QStringLiteral("maxSpeed"), entry.maxSpeed.trimmed());
        // The app asks for images under /prefs/resources/, which this server
        // does not serve; only icons come by the roster's own path.
        writer.writeAttribute(QStringLiteral("imageFilePath"), QString());
        writer.writeAttribute(QStringLiteral("iconFilePath"),
                              iconFor(entry) ? entry.iconFilePath : QString());
        writer.writeStartElement(QStringLiteral("locoaddress"));
        writer.writeStartElement(QStringLiteral("dcclocoaddress"));
        writer.writeAttribute(QStringLiteral("number"), QString::number(entry.address));
        writer.writeAttribute(QStringLiteral("longaddress"),
                              entry.isLong() ? QStringLiteral("yes") : QStringLiteral("no"));
        writer.writeEndElement();
        writer.writeTextElement(QStringLiteral("number"), QString::number(entry.address));
        writer.writeTextElement(QStringLiteral("protocol"), entry.isLong()
                                                                ? QStringLiteral("dcc_long")
                                                                : QStringLiteral("dcc_short"));
        writer.writeEndElement();
        writeLabels(writer, entry);
        writer.writeEndElement();
    }
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    return bytes;
}

std::optional<QString> mediaFile(const QString &folder, const QString &path)
{
    QString name = path.trimmed();
    if (name.isEmpty() || name == QLatin1String("__noIcon.jpg"))
        return std::nullopt;
    for (const QString &prefix : {QStringLiteral("preference:"), QStringLiteral("profile:")}) {
        if (name.startsWith(prefix)) {
            name = name.mid(prefix.size());
            break;
        }
    }
    // JMRI's other places (program:, home:, settings:, scripts:) and URLs.
    if (name.contains(QLatin1Char(':')))
        return std::nullopt;
    const QString root = QFileInfo(folder).canonicalFilePath();
    if (root.isEmpty())
        return std::nullopt;
    const QFileInfo file(QDir::isAbsolutePath(name) ? name : QDir(root).filePath(name));
    const QString canonical = file.canonicalFilePath();
    if (canonical.isEmpty() || !canonical.startsWith(root + QLatin1Char('/')))
        return std::nullopt;
    const QFileInfo target(canonical);
    if (!target.isFile() || !target.isReadable() || target.size() > MaxMediaBytes
        || mediaType(canonical).isEmpty())
        return std::nullopt;
    return canonical;
}

QByteArray mediaType(const QString &file)
{
    const QString suffix = QFileInfo(file).suffix().toLower();
    if (suffix == QLatin1String("png"))
        return QByteArrayLiteral("image/png");
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return QByteArrayLiteral("image/jpeg");
    if (suffix == QLatin1String("gif"))
        return QByteArrayLiteral("image/gif");
    return QByteArray();
}

} // namespace RosterFiles
