// mkicons: renders an SVG icon as PNG files for the hicolor icon theme.
//
//   mkicons ICON.svg OUTPUT_ROOT SIZE...
//
// writes OUTPUT_ROOT/SIZExSIZE/apps/ICON.png for every size.

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 4) {
        std::fprintf(stderr, "usage: mkicons ICON.svg OUTPUT_ROOT SIZE...\n");
        return 2;
    }
    const QString source = arguments.at(1);
    const QDir root(arguments.at(2));
    const QString name = QFileInfo(source).completeBaseName() + QStringLiteral(".png");
    // Qt SVG renders the drawing itself: no image plugin is needed, and a
    // machine without Qt SVG fails when the build is configured.
    QSvgRenderer renderer(source);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "mkicons: cannot read %s\n", qPrintable(source));
        return 1;
    }

    for (const QString &argument : arguments.mid(3)) {
        bool ok = false;
        const int size = argument.toInt(&ok);
        if (!ok || size <= 0) {
            std::fprintf(stderr, "mkicons: bad size %s\n", qPrintable(argument));
            return 2;
        }
        // The drawing is rendered at each size, not scaled from one bitmap.
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        const QString directory = QStringLiteral("%1x%1/apps").arg(size);
        const QString path = root.filePath(directory + QLatin1Char('/') + name);
        if (!root.mkpath(directory) || !image.save(path)) {
            std::fprintf(stderr, "mkicons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
