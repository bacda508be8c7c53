#include "manual/manualwriter.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgRenderer>
#include <QTextBlock>
#include <QTextFrame>
#include <QTextTable>

#include <algorithm>
#include <cmath>

namespace {

const QString ContentsMarker = QStringLiteral("[Inhalt]");
const QColor HeadingColour(0, 0, 128);
const QColor RuleColour(150, 150, 150);

// Page geometry in millimetres.
constexpr qreal SideMargin = 22;
constexpr qreal TopMargin = 20;
constexpr qreal BottomMargin = 12;
// Height of the footer band below the text, in layout pixels.
constexpr qreal FooterHeight = 30;

// The contents' spacing, from the roomiest to the closest: the padding of
// its cells and the gap above a chapter, in layout pixels. The closest takes
// about a fifth more lines on a page than the roomiest, more than a short
// tail of contents that start at the top of a page.
struct ContentsSpacing
{
    qreal cellPadding;
    qreal chapterGap;
};
constexpr ContentsSpacing ContentsSpacings[] = {{2, 8}, {1.5, 6}, {1, 5}, {0.5, 4}, {0, 3}};
// Fewer lines than this alone on the contents' last page look lost there.
constexpr int MinContentsTailRows = 6;

// A drawing rendered into the given box, keeping its proportions; a null
// image when the file is no drawing Qt SVG can read.
QImage renderDrawing(const QString &path, const QSize &box)
{
    QSvgRenderer renderer(path);
    if (!renderer.isValid() || renderer.defaultSize().isEmpty())
        return QImage();
    QImage image(renderer.defaultSize().scaled(box, Qt::KeepAspectRatio),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    return image;
}

QFont bodyFont(qreal pointSize = 10)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    // A letter spacing, however small, makes Qt set no ligatures: the PDF's
    // text then holds "ff" and "fi" as letters, so that a search for
    // "öffnen" finds it and a copied word is the word.
    // (Qt keeps it in 1/64 pixel: the smallest step there is.)
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.0 / 64);
    return font;
}

// The size of a code block's type, and the smallest it is set in so that
// its longest line fits the page.
constexpr qreal CodePointSize = 8.5;
constexpr qreal MinCodePointSize = 5.5;

QStringList monospaceFamilies()
{
    return {QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")};
}

bool isCodeBlock(const QTextBlock &block)
{
    return block.blockFormat().hasProperty(QTextFormat::BlockCodeLanguage)
           || block.blockFormat().hasProperty(QTextFormat::BlockCodeFence);
}

// Marks the frame around a code block. The frame takes the code's lines
// in; they keep their characters' format, not their blocks'.
constexpr int CodeFrameProperty = QTextFormat::UserProperty + 1;

bool isInCodeFrame(const QTextBlock &block)
{
    if (!block.isValid())
        return false;
    const QTextFrame *frame = QTextCursor(block).currentFrame();
    return frame && frame->frameFormat().boolProperty(CodeFrameProperty);
}

bool isInlineCode(const QTextFragment &fragment)
{
    const QTextCharFormat format = fragment.charFormat();
    return !format.isImageFormat()
           && format.fontFamilies().toStringList() == monospaceFamilies();
}

bool isQuoteBlock(const QTextBlock &block)
{
    return block.blockFormat().intProperty(QTextFormat::BlockQuoteLevel) > 0;
}

bool isInTable(const QTextBlock &block)
{
    QTextCursor cursor(block);
    return cursor.currentTable() != nullptr;
}

void selectBlockText(QTextCursor &cursor, const QTextBlock &block)
{
    cursor.setPosition(block.position());
    cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
}

// The runs of consecutive blocks that satisfy the predicate, outside tables,
// as selections from the start of the first to the end of the last block.
template<typename Predicate>
QList<QTextCursor> blockRuns(QTextDocument &document, Predicate belongs)
{
    QList<QTextCursor> runs;
    QTextBlock block = document.begin();
    while (block.isValid()) {
        if (!belongs(block) || isInTable(block)) {
            block = block.next();
            continue;
        }
        QTextBlock last = block;
        while (last.next().isValid() && belongs(last.next()) && !isInTable(last.next()))
            last = last.next();
        QTextCursor run(&document);
        run.setPosition(block.position());
        run.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
        runs.append(run);
        block = last.next();
    }
    return runs;
}

QList<QTextTable *> tablesIn(QTextFrame *frame)
{
    QList<QTextTable *> tables;
    const QList<QTextFrame *> children = frame->childFrames();
    for (QTextFrame *child : children) {
        if (auto *table = qobject_cast<QTextTable *>(child))
            tables.append(table);
        tables.append(tablesIn(child));
    }
    return tables;
}

} // namespace

ManualWriter::ManualWriter(Options options)
    : m_options(std::move(options))
{
}

void ManualWriter::setMarkdown(const QString &markdown, const QString &sourceDirectory)
{
    m_document.clear();
    m_missingPictures.clear();
    m_embeddedPictures.clear();
    m_headings.clear();
    m_contentsTable = nullptr;
    m_pageCount = 0;

    m_document.setDocumentMargin(0);
    m_document.setDefaultFont(bodyFont());
    // Unhinted glyph advances: the layout is made at 96 dpi but printed at
    // the PDF's resolution.
    QTextOption option = m_document.defaultTextOption();
    option.setUseDesignMetrics(true);
    m_document.setDefaultTextOption(option);
    // Raw HTML is not wanted: "<Simulationsmodus>" is text of the program.
    m_document.setMarkdown(markdown, QTextDocument::MarkdownFeatures(
                                         QTextDocument::MarkdownDialectGitHub
                                         | QTextDocument::MarkdownNoHTML));

    placePictures(sourceDirectory);
    styleTables();
    styleBlocks();
    styleTitlePage();
    collectHeadings();
    insertContents();
    shrinkEmptyBlocks();
}

QImage ManualWriter::loadPicture(const QString &name, const QString &sourceDirectory) const
{
    QStringList candidates;
    if (QFileInfo(name).isAbsolute()) {
        candidates << name;
    } else {
        candidates << QDir(sourceDirectory).filePath(name);
        for (const QString &directory : m_options.pictureDirectories) {
            candidates << QDir(directory).filePath(name);
            // Generated pictures are found by their file name alone.
            candidates << QDir(directory).filePath(QFileInfo(name).fileName());
        }
    }
    for (const QString &path : std::as_const(candidates)) {
        if (!QFileInfo(path).isFile())
            continue;
        // Drawings are rendered by Qt SVG itself, not through an image
        // plugin that a machine may lack, and sharp enough for print.
        if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
            QImage image = renderDrawing(path, QSize(512, 512));
            if (!image.isNull())
                return image;
            continue;
        }
        QImage image = QImageReader(path).read();
        if (!image.isNull())
            return image;
    }
    return QImage();
}

void ManualWriter::placePictures(const QString &sourceDirectory)
{
    struct Picture
    {
        QTextCursor cursor;  // selects the picture's character
        QTextImageFormat format;
        QImage image;
        bool alone = false;  // the only thing in its paragraph
        bool captioned = false;
    };

    QList<Picture> pictures;
    bool beforeContents = true;
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        if (block.text().trimmed() == ContentsMarker)
            beforeContents = false;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            // One fragment may hold several pictures with the same format.
            for (int i = 0; i < fragment.length(); ++i) {
                Picture picture;
                picture.cursor = QTextCursor(&m_document);
                picture.cursor.setPosition(fragment.position() + i);
                picture.cursor.setPosition(fragment.position() + i + 1, QTextCursor::KeepAnchor);
                picture.format = fragment.charFormat().toImageFormat();
                picture.alone = block.text().trimmed().size() == 1;
                // The title page's pictures need no caption.
                picture.captioned = !beforeContents;
                picture.image = loadPicture(picture.format.name(), sourceDirectory);
                pictures.append(picture);
            }
        }
    }

    int number = 0;
    for (Picture &picture : pictures) {
        const QString name = picture.format.name();
        if (picture.image.isNull()) {
            m_missingPictures.append(name);
            if (picture.alone) {
                // The whole paragraph goes, so that no empty line is left.
                const QTextBlock block = picture.cursor.block();
                picture.cursor.setPosition(block.position());
                picture.cursor.setPosition(block.position() + block.length(),
                                           QTextCursor::KeepAnchor);
                if (!block.next().isValid() && block.previous().isValid()) {
                    picture.cursor.setPosition(block.position() - 1);
                    picture.cursor.setPosition(block.position() + block.length() - 1,
                                               QTextCursor::KeepAnchor);
                }
            }
            picture.cursor.removeSelectedText();
            continue;
        }

        m_embeddedPictures.append(name);
        const QString resource = QStringLiteral("manual-picture-%1").arg(m_embeddedPictures.size());
        m_document.addResource(QTextDocument::ImageResource, QUrl(resource), picture.image);
        const qreal width = picture.image.width() / picture.image.devicePixelRatio();
        const qreal height = picture.image.height() / picture.image.devicePixelRatio();
        const qreal scale = std::min({1.0, m_options.maxPictureWidth / width,
                                      m_options.maxPictureHeight / height});
        QTextImageFormat format = picture.format;
        format.setName(resource);
        format.setWidth(width * scale);
        format.setHeight(height * scale);
        picture.cursor.setCharFormat(format);

        if (!picture.alone)
            continue;
        QTextBlockFormat blockFormat = picture.cursor.blockFormat();
        blockFormat.setAlignment(Qt::AlignHCenter);
        blockFormat.setTopMargin(8);
        blockFormat.setBottomMargin(12);
        blockFormat.setLineHeight(100, QTextBlockFormat::ProportionalHeight);
        picture.cursor.setBlockFormat(blockFormat);
        const QString alt = picture.format.stringProperty(QTextFormat::ImageAltText).trimmed();
        if (alt.isEmpty() || !picture.captioned)
            continue;
        ++number;
        QTextCharFormat caption;
        caption.setFont(bodyFont(8.5));
        caption.setFontItalic(true);
        caption.setForeground(QColor(60, 60, 60));
        QTextCursor after = picture.cursor;
        after.clearSelection();
        after.movePosition(QTextCursor::EndOfBlock);
        after.insertText(QString(QChar::LineSeparator), caption);
        after.insertText(QStringLiteral("Abbildung %1: %2").arg(number).arg(alt), caption);
    }
}

void ManualWriter::styleTables()
{
    const QList<QTextTable *> tables = tablesIn(m_document.rootFrame());
    for (QTextTable *table : tables) {
        QTextTableFormat format = table->format();
        format.setBorder(0.75);
        format.setBorderBrush(RuleColour);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorderCollapse(true);
        format.setCellPadding(4);
        format.setCellSpacing(0);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        format.setHeaderRowCount(1);
        format.setTopMargin(4);
        format.setBottomMargin(10);
        table->setFormat(format);

        QTextCharFormat text;
        text.setFontPointSize(9);
        QTextCharFormat header = text;
        header.setFontWeight(QFont::Bold);
        for (int row = 0; row < table->rows(); ++row) {
            for (int column = 0; column < table->columns(); ++column) {
                QTextTableCell cell = table->cellAt(row, column);
                // The Markdown reader may leave an empty paragraph in front.
                QTextCursor first = cell.firstCursorPosition();
                while (first.block().text().isEmpty()
                       && first.block().position() + first.block().length()
                              <= cell.lastCursorPosition().position()) {
                    first.deleteChar();
                    first = cell.firstCursorPosition();
                }
                QTextCursor cursor = cell.firstCursorPosition();
                cursor.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
                cursor.mergeCharFormat(row == 0 ? header : text);
                QTextBlockFormat paragraph;
                paragraph.setTopMargin(0);
                paragraph.setBottomMargin(0);
                cursor.mergeBlockFormat(paragraph);

                QTextTableCellFormat cellFormat = cell.format().toTableCellFormat();
                cellFormat.setBorder(0.75);
                cellFormat.setBorderBrush(RuleColour);
                cellFormat.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
                if (row == 0)
                    cellFormat.setBackground(QColor(228, 230, 240));
                cell.setFormat(cellFormat);
            }
        }
    }
}

void ManualWriter::styleBlocks()
{
    QTextCursor cursor(&m_document);
    bool firstTitle = true;
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        const int level = format.headingLevel();
        if (level > 0) {
            QTextCharFormat heading;
            heading.setFont(bodyFont(level == 1 ? 19 : level == 2 ? 13.5 : 11));
            heading.setFontWeight(QFont::Bold);
            heading.setForeground(level <= 2 ? HeadingColour : QColor(Qt::black));
            selectBlockText(cursor, block);
            cursor.mergeCharFormat(heading);
            cursor.mergeBlockCharFormat(heading);
            format.setTopMargin(level == 1 ? 0 : level == 2 ? 16 : 10);
            format.setBottomMargin(level == 1 ? 14 : 6);
            if (level == 1 && !firstTitle)
                format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            if (level == 1)
                firstTitle = false;
            cursor.setBlockFormat(format);
            continue;
        }
        if (isInTable(block))
            continue;
        if (isCodeBlock(block)) {
            QTextCharFormat code;
            code.setFontFamilies(monospaceFamilies());
            code.setFontPointSize(CodePointSize);
            selectBlockText(cursor, block);
            cursor.mergeCharFormat(code);
            format.setTopMargin(0);
            format.setBottomMargin(0);
            format.setLineHeight(100, QTextBlockFormat::ProportionalHeight);
            cursor.setBlockFormat(format);
            continue;
        }
        format.setTopMargin(0);
        format.setBottomMargin(isQuoteBlock(block) ? 2 : 6);
        if (isQuoteBlock(block)) {
            format.setLeftMargin(0);
            format.setRightMargin(0);
        }
        if (format.lineHeightType() == QTextBlockFormat::SingleHeight)
            format.setLineHeight(118, QTextBlockFormat::ProportionalHeight);
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }

    // Inline code in the text's own size, in a monospace face.
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (format.isImageFormat())
                continue;
            const QStringList families = format.fontFamilies().toStringList();
            if (!format.fontFixedPitch() && !families.contains(QStringLiteral("monospace")))
                continue;
            QTextCharFormat code;
            code.setFontFamilies(monospaceFamilies());
            if (!isCodeBlock(block)) {
                code.setFontPointSize(9);
                code.setForeground(QColor(110, 20, 20));
            }
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.mergeCharFormat(code);
        }
    }

    // Code blocks and hints each get a shaded box.
    QTextFrameFormat codeBox;
    codeBox.setBackground(QColor(242, 242, 242));
    codeBox.setPadding(6);
    codeBox.setTopMargin(2);
    codeBox.setBottomMargin(8);
    codeBox.setProperty(CodeFrameProperty, true);
    for (QTextCursor run : blockRuns(m_document, isCodeBlock))
        run.insertFrame(codeBox);
    // A wrapped line of a command or a configuration file would be typed as
    // two; the type is made smaller instead (fitCodeLines).
    QTextBlockFormat unbroken;
    unbroken.setNonBreakableLines(true);
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        if (!isInCodeFrame(block))
            continue;
        cursor.setPosition(block.position());
        cursor.mergeBlockFormat(unbroken);
    }

    QTextFrameFormat hintBox;
    hintBox.setBackground(QColor(255, 246, 214));
    hintBox.setBorder(0.75);
    hintBox.setBorderBrush(QColor(222, 190, 100));
    hintBox.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    hintBox.setPadding(7);
    hintBox.setTopMargin(4);
    hintBox.setBottomMargin(10);
    for (QTextCursor run : blockRuns(m_document, isQuoteBlock))
        run.insertFrame(hintBox);
}

void ManualWriter::shrinkEmptyBlocks()
{
    // A frame or table always has a paragraph before and after it; empty
    // ones take no room.
    QTextCursor cursor(&m_document);
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        if (!block.text().isEmpty() || isInTable(block) || isCodeBlock(block)
            || block.blockFormat().headingLevel() > 0)
            continue;
        QTextBlockFormat format = block.blockFormat();
        format.setTopMargin(0);
        format.setBottomMargin(0);
        format.setLineHeight(1, QTextBlockFormat::FixedHeight);
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
}

void ManualWriter::styleTitlePage()
{
    QTextCursor cursor(&m_document);
    bool inTitle = false;
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 1 && inTitle)
            break;
        if (level == 1)
            inTitle = true;
        if (!inTitle)
            continue;
        QTextBlockFormat format = block.blockFormat();
        format.setAlignment(Qt::AlignHCenter);
        if (level == 1) {
            format.setTopMargin(150);
            format.setBottomMargin(30);
            QTextCharFormat title;
            title.setFont(bodyFont(32));
            title.setFontWeight(QFont::Bold);
            title.setFontItalic(true);
            title.setForeground(HeadingColour);
            selectBlockText(cursor, block);
            cursor.mergeCharFormat(title);
        } else {
            format.setBottomMargin(10);
            QTextCharFormat text;
            text.setFontPointSize(13);
            selectBlockText(cursor, block);
            cursor.mergeCharFormat(text);
        }
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
    }
}

void ManualWriter::collectHeadings()
{
    bool afterMarker = false;
    int chapter = 0;
    int section = 0;
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        if (!afterMarker) {
            afterMarker = block.text().trimmed() == ContentsMarker;
            continue;
        }
        const int level = block.blockFormat().headingLevel();
        if (level < 1 || level > 2)
            continue;
        QString number;
        if (level == 1) {
            ++chapter;
            section = 0;
            number = QString::number(chapter);
        } else {
            ++section;
            number = QStringLiteral("%1.%2").arg(chapter).arg(section);
        }
        Heading heading;
        heading.level = level;
        heading.title = number + QLatin1Char(' ') + block.text().trimmed();
        QTextCursor insert(block);
        insert.insertText(number + QStringLiteral("  "));
        heading.cursor = QTextCursor(block);
        m_headings.append(heading);
    }
}

void ManualWriter::insertContents()
{
    QTextBlock marker;
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        if (block.text().trimmed() == ContentsMarker) {
            marker = block;
            break;
        }
    }
    if (!marker.isValid() || m_headings.isEmpty())
        return;

    QTextCursor cursor(marker);
    selectBlockText(cursor, marker);
    cursor.removeSelectedText();

    QTextTableFormat format;
    format.setBorder(0);
    format.setBorderStyle(QTextFrameFormat::BorderStyle_None);
    format.setCellPadding(2);
    format.setCellSpacing(0);
    format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    format.setColumnWidthConstraints({QTextLength(QTextLength::VariableLength, 0),
                                      QTextLength(QTextLength::FixedLength, 40)});
    m_contentsTable = cursor.insertTable(int(m_headings.size()), 2, format);

    for (int row = 0; row < m_headings.size(); ++row) {
        const Heading &heading = m_headings.at(row);
        QTextCharFormat text;
        text.setFont(bodyFont(heading.level == 1 ? 10.5 : 10));
        if (heading.level == 1)
            text.setFontWeight(QFont::Bold);

        QTextCursor title = m_contentsTable->cellAt(row, 0).firstCursorPosition();
        QTextBlockFormat titleFormat;
        titleFormat.setLeftMargin(heading.level == 1 ? 0 : 22);
        titleFormat.setTopMargin(heading.level == 1 && row > 0 ? 8 : 0);
        title.setBlockFormat(titleFormat);
        title.insertText(heading.title, text);

        QTextCursor page = m_contentsTable->cellAt(row, 1).firstCursorPosition();
        QTextBlockFormat pageFormat;
        pageFormat.setAlignment(Qt::AlignRight);
        pageFormat.setTopMargin(titleFormat.topMargin());
        page.setBlockFormat(pageFormat);
        page.insertText(QStringLiteral("0"), text);
    }
}

QStringList ManualWriter::contents() const
{
    QStringList titles;
    for (const Heading &heading : m_headings)
        titles.append(heading.title);
    return titles;
}

QList<int> ManualWriter::contentsPages() const
{
    QList<int> pages;
    for (const Heading &heading : m_headings)
        pages.append(heading.page);
    return pages;
}

int ManualWriter::pageOf(const QTextBlock &block, qreal pageHeight) const
{
    const QRectF rect = m_document.documentLayout()->blockBoundingRect(block);
    // A block pushed to the top of a page may start a hair above it.
    return int((rect.top() + 1) / pageHeight) + 1;
}

bool ManualWriter::keepHeadingsWithText(qreal pageHeight)
{
    bool changed = false;
    QTextCursor cursor(&m_document);
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        if (format.headingLevel() == 0 || !block.next().isValid())
            continue;
        if (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
            continue;
        if (pageOf(block, pageHeight) == pageOf(block.next(), pageHeight))
            continue;
        format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        cursor.setPosition(block.position());
        cursor.setBlockFormat(format);
        changed = true;
        // Everything behind it moves: measure again from the start.
        break;
    }
    return changed;
}

bool ManualWriter::keepCodeWithIntroduction(qreal pageHeight)
{
    QTextCursor cursor(&m_document);
    for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
        if (!isInCodeFrame(block) || isInCodeFrame(block.previous()))
            continue;
        QTextBlock last = block;
        while (isInCodeFrame(last.next()))
            last = last.next();
        // The paragraph in front, past the empty one before the code's frame.
        QTextBlock introduction = block.previous();
        while (introduction.isValid() && introduction.text().isEmpty())
            introduction = introduction.previous();
        if (!introduction.isValid() || isInTable(introduction) || isInCodeFrame(introduction))
            continue;
        if (pageOf(introduction, pageHeight) == pageOf(last, pageHeight))
            continue;
        QTextBlockFormat format = introduction.blockFormat();
        // Already at the top of a page: together they are longer than a page.
        if (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
            continue;
        format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        cursor.setPosition(introduction.position());
        cursor.setBlockFormat(format);
        return true;
    }
    return false;
}

void ManualWriter::fitCodeLines()
{
    // Type does not scale quite in proportion to its width: measure again
    // after each change, a few rounds at most.
    for (int round = 0; round < 5; ++round) {
        m_document.documentLayout()->documentSize(); // lays the whole document out
        bool changed = false;
        for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
            if (!isInCodeFrame(block) || isInCodeFrame(block.previous()))
                continue;
            // One size for the whole block of code: its widest line decides.
            QTextBlock last = block;
            qreal widest = 0;
            for (QTextBlock line = block; isInCodeFrame(line); line = line.next()) {
                last = line;
                const QTextLayout *layout = line.layout();
                for (int i = 0; layout && i < layout->lineCount(); ++i)
                    widest = std::max(widest, layout->lineAt(i).naturalTextWidth());
            }
            // The frames grow with lines that do not break; the room is the
            // page's width.
            const QTextFrameFormat format = QTextCursor(block).currentFrame()->frameFormat();
            const qreal available = m_document.pageSize().width()
                                    - 2 * (format.padding() + format.border())
                                    - format.leftMargin() - format.rightMargin();
            const qreal size = QTextCursor(block).charFormat().fontPointSize();
            QTextCursor cursor(&m_document);
            cursor.setPosition(block.position());
            cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
            block = last;
            if (widest <= available || size <= MinCodePointSize)
                continue;
            QTextCharFormat smaller;
            smaller.setFontPointSize(
                std::max(MinCodePointSize, std::floor(size * available / widest * 10) / 10));
            cursor.mergeCharFormat(smaller);
            changed = true;
        }
        if (!changed)
            return;
    }
}

void ManualWriter::keepInlineCodeTogether()
{
    // Each round moves one piece of code; a manual has far fewer of them.
    for (int round = 0; round < 500; ++round) {
        m_document.documentLayout()->documentSize();
        bool moved = false;
        for (QTextBlock block = m_document.begin(); block.isValid() && !moved; block = block.next()) {
            const QTextLayout *layout = block.layout();
            if (isInCodeFrame(block) || !layout || layout->lineCount() < 2)
                continue;
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                if (!isInlineCode(fragment))
                    continue;
                const int start = fragment.position() - block.position();
                const int end = start + fragment.length() - 1;
                const QTextLine first = layout->lineForTextPosition(start);
                if (first.lineNumber() == layout->lineForTextPosition(end).lineNumber()
                    || first.textStart() == start)
                    continue;
                // Broken inside: the code starts the next line instead.
                QTextCursor cursor(&m_document);
                cursor.setPosition(fragment.position());
                cursor.insertText(QString(QChar::LineSeparator));
                moved = true;
                break;
            }
        }
        if (!moved)
            return;
    }
}

bool ManualWriter::fillContentsPages(qreal pageHeight)
{
    if (!m_contentsTable)
        return false;
    bool changed = false;
    for (int row = 0; row < m_headings.size(); ++row) {
        Heading &heading = m_headings[row];
        const int page = pageOf(heading.cursor.block(), pageHeight);
        if (page == heading.page)
            continue;
        heading.page = page;
        const QTextTableCell cell = m_contentsTable->cellAt(row, 1);
        QTextCursor cursor = cell.firstCursorPosition();
        cursor.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
        const QTextCharFormat format = cursor.charFormat();
        cursor.insertText(QString::number(page), format);
        changed = true;
    }
    return changed;
}

void ManualWriter::settlePages(qreal pageHeight)
{
    // Each round settles one heading or the page numbers of the contents;
    // a manual has far fewer headings than this bound.
    for (int round = 0; round < 500; ++round) {
        if (keepHeadingsWithText(pageHeight) || keepCodeWithIntroduction(pageHeight))
            continue;
        if (!fillContentsPages(pageHeight))
            break;
    }
}

void ManualWriter::setContentsSpacing(qreal cellPadding, qreal chapterGap)
{
    QTextTableFormat format = m_contentsTable->format();
    format.setCellPadding(cellPadding);
    m_contentsTable->setFormat(format);
    for (int row = 1; row < m_headings.size(); ++row) {
        if (m_headings.at(row).level != 1)
            continue;
        for (int column = 0; column < 2; ++column) {
            QTextCursor cursor = m_contentsTable->cellAt(row, column).firstCursorPosition();
            QTextBlockFormat block = cursor.blockFormat();
            block.setTopMargin(chapterGap);
            cursor.setBlockFormat(block);
        }
    }
}

int ManualWriter::contentsTailRows(qreal pageHeight) const
{
    const auto pageOfRow = [&](int row) {
        return pageOf(m_contentsTable->cellAt(row, 0).firstCursorPosition().block(), pageHeight);
    };
    const int last = int(m_headings.size()) - 1;
    const int lastPage = pageOfRow(last);
    // The empty paragraph that follows every table may reach over the end of
    // the page by a hair, so that the next chapter starts a page later and
    // leaves one blank: that counts as one line alone.
    const QTextBlock after = m_document.findBlock(m_contentsTable->lastPosition() + 1).next();
    if (after.isValid() && pageOf(after, pageHeight) > lastPage + 1)
        return 1;
    if (pageOfRow(0) == lastPage)
        return 0;
    int rows = 0;
    for (int row = last; row >= 0 && pageOfRow(row) == lastPage; --row)
        ++rows;
    return rows;
}

void ManualWriter::layOut(qreal pageWidth, qreal pageHeight)
{
    m_document.setPageSize(QSizeF(pageWidth, pageHeight));
    fitCodeLines();
    keepInlineCodeTogether();
    settlePages(pageHeight);
    if (m_contentsTable) {
        // A short tail of the contents on a page of its own: set the
        // contents closer until it fits with the rest.
        int tail = contentsTailRows(pageHeight);
        for (const ContentsSpacing &spacing : ContentsSpacings) {
            if (tail == 0 || tail >= MinContentsTailRows)
                break;
            setContentsSpacing(spacing.cellPadding, spacing.chapterGap);
            settlePages(pageHeight);
            tail = contentsTailRows(pageHeight);
        }
    }
    m_pageCount = m_document.pageCount();
}

bool ManualWriter::writePdf(const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    {
        QPdfWriter writer(&file);
        writer.setCreator(QStringLiteral("mkmanual"));
        writer.setTitle(m_options.documentTitle);
        print(writer);
    }
    return file.commit();
}

void ManualWriter::print(QPagedPaintDevice &device)
{
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(SideMargin, TopMargin, SideMargin, BottomMargin),
                                     QPageLayout::Millimeter));
    // The paint rectangle in layout pixels (96 per inch).
    const QRectF paintRect = device.pageLayout().paintRect(QPageLayout::Inch);
    const qreal pageWidth = paintRect.width() * 96;
    const qreal pageHeight = paintRect.height() * 96 - FooterHeight;
    layOut(pageWidth, pageHeight);

    QPainter painter(&device);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const qreal scale = device.logicalDpiY() / 96.0;
    for (int page = 0; page < m_pageCount; ++page) {
        if (page > 0)
            device.newPage();
        painter.save();
        painter.scale(scale, scale);
        painter.save();
        const QRectF body(0, 0, pageWidth, pageHeight);
        painter.setClipRect(body);
        painter.translate(0, -page * pageHeight);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = body.translated(0, page * pageHeight);
        context.palette.setColor(QPalette::Text, Qt::black);
        m_document.documentLayout()->draw(&painter, context);
        painter.restore();
        if (page > 0)
            paintFooter(painter, QRectF(0, pageHeight, pageWidth, FooterHeight), page + 1);
        painter.restore();
    }
}

void ManualWriter::paintFooter(QPainter &painter, const QRectF &area, int page) const
{
    painter.setPen(QPen(RuleColour, 0.75));
    const qreal ruleY = area.top() + 8;
    painter.drawLine(QPointF(area.left(), ruleY), QPointF(area.right(), ruleY));
    // The painter works in layout pixels; a point size would be taken at the
    // device's resolution.
    QFont font = bodyFont();
    font.setPixelSize(11);
    painter.setFont(font);
    painter.setPen(QColor(90, 90, 90));
    const QRectF text(area.left(), ruleY + 3, area.width(), area.bottom() - ruleY - 3);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignTop, m_options.footerText);
    painter.drawText(text, Qt::AlignRight | Qt::AlignTop,
                     QStringLiteral("Seite %1 von %2").arg(page).arg(m_pageCount));
}
