#include "viewer/resources.h"

#include <QPixmap>

#include <cstdlib>

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

QString ViewerCursorName(int id, int size)
{
    return QStringLiteral("cursor_%1_%2.png").arg(id).arg(size);
}

QImage ViewerBitmap(int id)
{
    return QImage(Embedded(ViewerBitmapName(id)), "BMP");
}

QImage ViewerImage(int id)
{
    return QImage(Embedded(ViewerImageName(id)), "JPG");
}

QCursor ViewerCursor(int id, int size)
{
    if (id != kCurZoom)
        return {};
    const CursorImage* best = nullptr;
    for (const CursorImage& image : kZoomCursorImages) {
        const int miss = std::abs(image.size - size);
        if (!best || miss < std::abs(best->size - size) ||
            (miss == std::abs(best->size - size) && image.size > best->size))
            best = &image;
    }
    QPixmap picture(Embedded(ViewerCursorName(id, best->size)), "PNG");
    if (picture.isNull())
        return {};
    return QCursor(picture, best->hotSpot.x(), best->hotSpot.y());
}

QCursor ViewerCursor(int id)
{
    bool set = false;
    const int size = qEnvironmentVariableIntValue("XCURSOR_SIZE", &set);
    return ViewerCursor(id, set && size > 0 ? size : 32);
}
