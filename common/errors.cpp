#include "common/errors.h"

#include "common/messagebox.h"
#include "common/program.h"

#include <QGuiApplication>
#include <QLocale>
#include <QScreen>
#include <QWidget>

#include <cmath>
#include <cstdlib>

namespace {

// Descriptions of the run-time error numbers a numeric message may carry.
QString runtimeErrorDescription(const QString &number)
{
    bool ok = false;
    const double value = QLocale().toDouble(number.trimmed(), &ok);
    switch (ok ? int(value) : -1) {
    case 5: return QStringLiteral("Unzulässiger Prozeduraufruf oder ungültiges Argument");
    case 6: return QStringLiteral("Überlauf");
    case 7: return QStringLiteral("Nicht genügend Speicher");
    case 9: return QStringLiteral("Index außerhalb des gültigen Bereichs");
    case 11: return QStringLiteral("Division durch Null");
    case 13: return QStringLiteral("Typen unverträglich");
    case 52: return QStringLiteral("Dateiname oder -nummer falsch");
    case 53: return QStringLiteral("Datei nicht gefunden");
    case 68: return QStringLiteral("Gerät nicht verfügbar");
    case 70: return QStringLiteral("Zugriff verweigert");
    case 76: return QStringLiteral("Pfad nicht gefunden");
    default: return QStringLiteral("Anwendungs- oder objektdefinierter Fehler");
    }
}

bool readsAsNumber(const QString &text)
{
    bool ok = false;
    QLocale().toDouble(text.trimmed(), &ok);
    if (!ok)
        QLocale::c().toDouble(text.trimmed(), &ok);
    return ok;
}

QString supportParagraph()
{
    return CrLf + CrLf + QStringLiteral("Für Rückfragen und Informationen stehen wir ")
           + QStringLiteral("Ihnen gerne zur Verfügung:") + CrLf + CrLf + Program::MakerName + CrLf
           + CrLf + QStringLiteral("Fon: ") + Program::SupportPhone + CrLf
           + QStringLiteral("Fax:  ") + Program::SupportFax + CrLf
           + QStringLiteral("(Supportzeiten auf unserer Homepage)") + CrLf + CrLf
           + QStringLiteral("eMail:     ") + Program::SupportEmail + CrLf
           + QStringLiteral("Internet: ") + Program::WebAddress;
}

} // namespace

QString errorBoxText(const QString &message)
{
    QString text = sysReplace(message, QStringLiteral("$"), CrLf);
    if (readsAsNumber(text))
        text = QStringLiteral("Fehler ") + text + QStringLiteral(": ") + runtimeErrorDescription(text);
    return text + supportParagraph();
}

void sysShowError(const QString &message, bool fatal, bool information, const QString &caption)
{
    const QString title = caption.trimmed().isEmpty() ? Program::Title : caption;
    const QString text = errorBoxText(message);
    if (fatal) {
        showMessageBox(BoxIcon::Critical, BoxButtons::Ok, BoxAnswer::Ok, title, text);
        // A fatal error ends the program at once: no close handlers run.
        std::_Exit(EXIT_FAILURE);
    }
    showMessageBox(information ? BoxIcon::Information : BoxIcon::Warning, BoxButtons::Ok,
                   BoxAnswer::Ok, title, text);
}

QString sysReplace(const QString &text, const QString &search, const QString &replacement)
{
    Q_ASSERT(!search.isEmpty());
    if (search.isEmpty())
        return text;
    QString result = text;
    qsizetype position = result.indexOf(search, 0, Qt::CaseInsensitive);
    while (position >= 0) {
        result.replace(position, search.size(), replacement);
        position = result.indexOf(search, position + replacement.size(), Qt::CaseInsensitive);
    }
    return result;
}

int centeredOrigin(int screenPixels, int windowPixels)
{
    constexpr int TwipsPerPixel = 15;
    const int twips = int(std::floor((screenPixels - windowPixels) * TwipsPerPixel / 2.0)) + 100;
    return int(std::floor(double(twips) / TwipsPerPixel));
}

void sysCenterForm(QWidget *window)
{
    if (!window)
        return;
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize outer = window->frameGeometry().size();
    window->move(area.x() + centeredOrigin(area.width(), outer.width()),
                 area.y() + centeredOrigin(area.height(), outer.height()));
}
