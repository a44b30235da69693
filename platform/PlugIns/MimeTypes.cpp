// The MimeTypes plug-in: Qt's MIME database for Core Services' item kinds.
#include "CoreServices/MimeTypes.h"

#include <QFile>
#include <QMimeDatabase>
#include <QMimeType>

extern "C" __attribute__((visibility("default"))) bool sentrel_mime_type_of_file(
    const char* path, sentrel::coreservices::MimeTypeFacts* facts)
{
    if (!path || !facts)
        return false;
    static const QMimeDatabase database;
    const QMimeType mime = database.mimeTypeForFile(QFile::decodeName(path));
    facts->name = mime.name().toStdString();
    facts->comment = mime.comment().toStdString();
    facts->iconName = mime.iconName().toStdString();
    facts->genericIconName = mime.genericIconName().toStdString();
    return true;
}
