#include "viewer/strings.h"

#include <iterator>

namespace {

struct StringEntry
{
    int id;
    const char16_t* text;
};

constexpr StringEntry kStrings[] = {
    {kStrCredentialsRefused, u"Connexion impossible."},
    {kStrConnectFailed, u"Connexion impossible."},
    {kStrCameraBusy, u"Connexion à la caméra impossible : trop d'utilisateurs déjà connectés ou "
                     u"périphérique occupé. Veuillez réessayer ultérieurement."},
    {kStrTipZoom, u"Zoom"},
    {kStrTipSnapshot, u"Instantané"},
    {kStrTipFolder, u"Image du dossier sélectionné"},
    {kStrTipFlip, u"Retourner l'image"},
    {kStrTipMirror, u"Inverser l'image"},
    {kStrTipRotate, u"Faire pivoter l'image"},
    {kStrSnapshotNotSaved, u"Enregistrement impossible."},
};

} // namespace

QString LoadViewerString(int id)
{
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id)
            return QString::fromUtf16(entry.text);
    }
    return {};
}
