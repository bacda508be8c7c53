#include "throttleserver/webroster.h"

#include "roster/roster.h"

#include <QFile>
#include <QUrl>

namespace WebRoster {

bool isRosterPath(QByteArrayView path)
{
    return path == "/roster" || path.startsWith("/roster/");
}

Reply reply(const Roster &roster, QByteArrayView path)
{
    if (path == "/roster" || path == "/roster/" || path == "/roster/list")
        return Reply{200, QByteArrayLiteral("application/xml; charset=utf-8"), roster.webRoster()};
    // /roster/<id>/icon, the id percent-encoded (the apps send a blank as %20).
    const QList<QByteArray> parts = path.toByteArray().split('/');
    if (parts.size() != 4 || parts.at(3) != "icon" || parts.at(2).isEmpty())
        return Reply{};
    const RosterEntry *entry = roster.find(QUrl::fromPercentEncoding(parts.at(2)));
    if (!entry)
        return Reply{};
    const std::optional<QString> icon = roster.iconFile(*entry);
    if (!icon)
        return Reply{};
    QFile file(*icon);
    if (!file.open(QIODevice::ReadOnly))
        return Reply{};
    // Read up to the bound and no further, whatever the file grew to since.
    const QByteArray bytes = file.read(RosterFiles::MaxMediaBytes + 1);
    if (bytes.size() > RosterFiles::MaxMediaBytes)
        return Reply{};
    return Reply{200, RosterFiles::mediaType(*icon), bytes};
}

} // namespace WebRoster
