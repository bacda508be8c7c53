#pragma once

#include <QByteArray>
#include <QByteArrayView>

class Roster;

// The web throttle's answers for the roster, as JMRI's web server gives them
// to Engine Driver: /roster/ (and /roster/list, any query) the list of locos,
// /roster/<id>/icon the loco's icon when it has one inside the roster's
// folder. No I/O but reading that icon.
namespace WebRoster {

struct Reply
{
    int status = 404;
    QByteArray type;
    QByteArray body;
};

// Whether a path (percent-encoded, without the query) is one of the roster's.
bool isRosterPath(QByteArrayView path);
// The answer to a GET of such a path; 404 for anything the roster has not.
Reply reply(const Roster &roster, QByteArrayView path);

} // namespace WebRoster
