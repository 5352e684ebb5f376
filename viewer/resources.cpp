#include "viewer/resources.h"

#include <QPixmap>

namespace {

QString Embedded(const QString& name)
{
    return QStringLiteral(":/viewer/") + name;
}

} // namespace

QString ViewerBitmapName(int id)
{
    return QStringLiteral("bitmap_%1.bmp").arg(id);
}

QString ViewerImageName(int id)
{
    return QStringLiteral("image_%1.jpg").arg(id);
}

QString ViewerCursorName(int id)
{
    return QStringLiteral("cursor_%1.png").arg(id);
}

QImage ViewerBitmap(int id)
{
    return QImage(Embedded(ViewerBitmapName(id)), "BMP");
}

QImage ViewerImage(int id)
{
    return QImage(Embedded(ViewerImageName(id)), "JPG");
}

QCursor ViewerCursor(int id)
{
    if (id != kCurZoom)
        return {};
    QPixmap picture(Embedded(ViewerCursorName(id)), "PNG");
    if (picture.isNull())
        return {};
    return QCursor(picture, kZoomCursorHotSpot.x(), kZoomCursorHotSpot.y());
}
