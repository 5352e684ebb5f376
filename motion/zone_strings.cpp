#include "motion/zone_strings.h"

QString LoadZoneString(int id)
{
    switch (id) {
    case kStrZoneConnectFailed:
        return QStringLiteral("Connexion impossible !");
    case kStrZoneBusy:
        return QString::fromUtf16(
            u"Le périphérique est occupé, veuillez réessayer ultérieurement.");
    case kStrZoneProtected:
        return QString::fromUtf16(u"Objet protégé. Cet objet est protégé.");
    default:
        return {};
    }
}
