#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTextCursor>
#include <QTextDocument>

class QPagedPaintDevice;
class QPainter;
class QTextTable;

// Turns the manual's Markdown text into a paginated A4 document and writes
// it as PDF.
//
// What the writer adds to plain Markdown:
// - the first level-1 heading is the title: it and everything up to the next
//   level-1 heading form the title page, centred;
// - every level-1 heading starts a new page;
// - a paragraph reading "[Inhalt]" becomes the table of contents; level-1 and
//   level-2 headings after it are numbered ("3", "3.2") and listed there with
//   their page;
// - a heading never stands alone at the bottom of a page;
// - a code block never wraps a line: a block whose longest line is wider
//   than the page is set in smaller type; it never breaks across pages and
//   stays on the page of the paragraph that introduces it;
// - inline code (a file name, a command) is never broken across lines: one
//   that would be starts a new line;
// - no ligatures, so that the PDF's text holds every word as it is written;
// - the contents never leave a few lines alone on a page of their own: they
//   are set closer until the tail fits with the rest;
// - a picture is looked up beside the source text and then in the picture
//   directories, scaled down to fit the page and captioned with its alt
//   text; a picture that cannot be found is left out, caption and all;
// - a block quote is set off as a shaded hint;
// - every page but the title page has a footer with the page number.
//
// Lengths are in pixels at 96 dpi (0.75 pt), the unit the document is laid
// out in; painting scales them to the device.
class ManualWriter
{
public:
    struct Options
    {
        QStringList pictureDirectories;
        QString documentTitle;  // the PDF's title
        QString footerText;     // left in every footer
        qreal maxPictureWidth = 600;
        qreal maxPictureHeight = 420;
    };

    explicit ManualWriter(Options options);

    // Builds the document from the Markdown text; relative picture names are
    // first looked for in sourceDirectory.
    void setMarkdown(const QString &markdown, const QString &sourceDirectory);

    // Lays the document out on A4 pages and writes it as PDF. False when the
    // file cannot be written.
    bool writePdf(const QString &path);

    // Valid after setMarkdown().
    const QStringList &missingPictures() const { return m_missingPictures; }
    const QStringList &embeddedPictures() const { return m_embeddedPictures; }
    // The numbered headings as they appear in the contents, e.g. "3.2 Loks fahren".
    QStringList contents() const;

    // Valid after writePdf(): the number of pages, and the page (from 1) on
    // which each entry of contents() starts.
    int pageCount() const { return m_pageCount; }
    QList<int> contentsPages() const;

    QTextDocument &document() { return m_document; }

private:
    struct Heading
    {
        QTextCursor cursor;  // at the start of the heading block
        int level = 0;
        QString title;
        int page = 0;
    };

    QImage loadPicture(const QString &name, const QString &sourceDirectory) const;
    void placePictures(const QString &sourceDirectory);
    void styleBlocks();
    void styleTables();
    void styleTitlePage();
    void shrinkEmptyBlocks();
    void collectHeadings();
    void insertContents();
    void layOut(qreal pageWidth, qreal pageHeight);
    bool keepHeadingsWithText(qreal pageHeight);
    bool keepCodeWithIntroduction(qreal pageHeight);
    void fitCodeLines();
    void keepInlineCodeTogether();
    bool fillContentsPages(qreal pageHeight);
    void settlePages(qreal pageHeight);
    void setContentsSpacing(qreal cellPadding, qreal chapterGap);
    // Lines of the contents alone on their last page; 0 when they fit on one.
    int contentsTailRows(qreal pageHeight) const;
    int pageOf(const QTextBlock &block, qreal pageHeight) const;
    void print(QPagedPaintDevice &device);
    void paintFooter(QPainter &painter, const QRectF &area, int page) const;

    Options m_options;
    QTextDocument m_document;
    QStringList m_missingPictures;
    QStringList m_embeddedPictures;
    QList<Heading> m_headings;
    QTextTable *m_contentsTable = nullptr;
    int m_pageCount = 0;
};
