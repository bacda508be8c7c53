// mkmanual: turns the manual's Markdown text into the PDF the program opens
// from its Help button.
//
//   mkmanual [--pictures DIR]... [--title TEXT] [--footer TEXT] SOURCE.md OUTPUT.pdf
//
// Pictures are looked for beside SOURCE.md and then in each DIR. A picture
// that is missing is reported and left out; the manual is written anyway.

#include "manual/manualwriter.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Nothing is ever shown: the tool runs on build machines without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes the user manual as PDF."));
    parser.addHelpOption();
    const QCommandLineOption pictures(QStringLiteral("pictures"),
                                      QStringLiteral("Directory with pictures (repeatable)."),
                                      QStringLiteral("dir"));
    const QCommandLineOption title(QStringLiteral("title"), QStringLiteral("Title of the PDF."),
                                   QStringLiteral("text"));
    const QCommandLineOption footer(QStringLiteral("footer"),
                                    QStringLiteral("Text at the left of every footer."),
                                    QStringLiteral("text"));
    parser.addOption(pictures);
    parser.addOption(title);
    parser.addOption(footer);
    parser.addPositionalArgument(QStringLiteral("source"), QStringLiteral("Markdown source."));
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("PDF to write."));
    parser.process(app);

    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 2) {
        std::fprintf(stderr, "mkmanual: expected SOURCE.md and OUTPUT.pdf\n");
        return 2;
    }

    QFile source(arguments.at(0));
    if (!source.open(QIODevice::ReadOnly | QIODevice::Text)) {
        std::fprintf(stderr, "mkmanual: cannot read %s\n", qPrintable(arguments.at(0)));
        return 1;
    }
    const QString markdown = QString::fromUtf8(source.readAll());

    ManualWriter::Options options;
    options.pictureDirectories = parser.values(pictures);
    options.documentTitle = parser.value(title);
    options.footerText = parser.value(footer);
    ManualWriter writer(options);
    writer.setMarkdown(markdown, QFileInfo(source).absolutePath());

    for (const QString &missing : writer.missingPictures())
        std::fprintf(stderr, "mkmanual: picture %s not found, left out\n", qPrintable(missing));

    if (!writer.writePdf(arguments.at(1))) {
        std::fprintf(stderr, "mkmanual: cannot write %s\n", qPrintable(arguments.at(1)));
        return 1;
    }
    std::printf("mkmanual: %s, %d pages, %d pictures\n", qPrintable(arguments.at(1)),
                writer.pageCount(), int(writer.embeddedPictures().size()));
    return 0;
}
