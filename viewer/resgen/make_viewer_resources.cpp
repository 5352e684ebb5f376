// Draws the viewer's button bitmaps, zoom cursor and panel background picture into a folder; the
// build embeds what it writes. Every run must give the same bytes: nothing time-dependent goes
// into the files, the JPEG settings are fixed, and text uses a font every Debian system carries.
//
// usage: make_viewer_resources OUTPUT_DIR

#include "viewer/resources.h"

#include <QDir>
#include <QFont>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QTransform>

#include <cstdio>
#include <vector>

namespace {

const QColor kPanelBlue = QColor::fromRgb(kPanelBlueRgb);
const QColor kGlyphColour(248, 248, 255);
const QColor kGlyphOnColour(255, 204, 51);
const QColor kGlyphShadow(16, 14, 72, 150);
const QString kFontFamily = QStringLiteral("DejaVu Sans");
constexpr int kDotsPerMeter = 3780; // 96 dpi, written into every file's header
constexpr int kJpegQuality = 90;

enum class Glyph { Folder, Camera, Rotate, Mirror, Flip, Magnifier };
enum class Look { Normal, Hover, Pressed };

QColor Mix(const QColor& a, const QColor& b, qreal t)
{
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

// One filled piece of a pictogram; `shade` below 1 lets the face show through, for depth. Glass
// stays pale whatever the ink, and hairlines cast no shadow (it would double them).
struct GlyphPart
{
    QPainterPath path;
    qreal shade = 1.0;
    bool glass = false;
    bool shadow = true;
};

QPainterPath Stroke(const QPainterPath& path, qreal width, Qt::PenCapStyle cap = Qt::FlatCap)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(cap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path);
}

QPainterPath Polygon(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    path.addPolygon(QPolygonF(QList<QPointF>(points)));
    path.closeSubpath();
    return path;
}

// Filled triangle on the left of a vertical axis, its outlined reflection on the right, and the
// dashed axis between them. Flip is the same drawing turned a quarter.
std::vector<GlyphPart> MirrorParts()
{
    std::vector<GlyphPart> parts;
    parts.push_back({Polygon({{16, 9}, {16, 28}, {6.5, 28}})});
    parts.push_back({Stroke(Polygon({{20.5, 10.5}, {20.5, 27.5}, {28.5, 27.5}}), 1.6)});
    QPainterPath axis;
    for (qreal y = 7; y < 30; y += 3.5)
        axis.addRect(QRectF(17.5, y, 1.5, 2));
    parts.push_back({axis, 0.8, false, false});
    return parts;
}

std::vector<GlyphPart> GlyphParts(Glyph glyph)
{
    std::vector<GlyphPart> parts;
    switch (glyph) {
    case Glyph::Folder: {
        QPainterPath back;
        back.addRoundedRect(QRectF(7, 11, 22, 16), 1.5, 1.5);
        QPainterPath tab;
        tab.addRoundedRect(QRectF(7, 8.5, 9, 5), 1.5, 1.5);
        parts.push_back({back.united(tab), 0.62});
        parts.push_back({Polygon({{10.5, 15}, {30.5, 15}, {27.5, 27}, {7, 27}})});
        break;
    }
    case Glyph::Camera: {
        QPainterPath body;
        body.addRoundedRect(QRectF(6.5, 13, 23, 14.5), 2.5, 2.5);
        body = body.united(Polygon({{12.5, 13.5}, {14.5, 10}, {21.5, 10}, {23.5, 13.5}}));
        QPainterPath hole;
        hole.addEllipse(QPointF(18, 20.25), 5.6, 5.6);
        QPainterPath flash;
        flash.addRect(QRectF(24.5, 15, 3, 2));
        parts.push_back({body.subtracted(hole).subtracted(flash)});
        QPainterPath lens;
        lens.addEllipse(QPointF(18, 20.25), 3.6, 3.6);
        parts.push_back({lens, 0.85});
        break;
    }
    case Glyph::Rotate: {
        // Clockwise: the arc starts at the upper right and ends at the top, arrow pointing on.
        const QRectF circle(10.5, 11.5, 15, 15);
        QPainterPath arc;
        arc.arcMoveTo(circle, 30);
        arc.arcTo(circle, 30, -300);
        parts.push_back({Stroke(arc, 3.2)});
        parts.push_back({Polygon({{24.5, 11.5}, {18, 6}, {18, 17}})});
        break;
    }
    case Glyph::Mirror:
        parts = MirrorParts();
        break;
    case Glyph::Flip: {
        const QTransform quarter = QTransform().translate(18, 18.5).rotate(90).translate(-18, -18.5);
        parts = MirrorParts();
        for (GlyphPart& part : parts)
            part.path = quarter.map(part.path);
        break;
    }
    case Glyph::Magnifier: {
        QPainterPath ring;
        ring.addEllipse(QPointF(16, 16), 6.5, 6.5);
        QPainterPath handle;
        handle.moveTo(21, 21);
        handle.lineTo(27.5, 27.5);
        parts.push_back({Stroke(ring, 3.2)});
        parts.push_back({Stroke(handle, 4.6, Qt::RoundCap)});
        QPainterPath glass;
        glass.addEllipse(QPointF(16, 16), 4.9, 4.9);
        parts.push_back({glass, 0.3, true, false});
        break;
    }
    }
    return parts;
}

// Face colour of one frame: hover is lighter, pressed darker; a button that is on sits deeper.
QColor FaceColour(Look look, bool on)
{
    const QColor black(0, 0, 0), white(255, 255, 255);
    switch (look) {
    case Look::Normal:
        return on ? Mix(kPanelBlue, black, 0.30) : kPanelBlue;
    case Look::Hover:
        return on ? Mix(kPanelBlue, black, 0.12) : Mix(kPanelBlue, white, 0.24);
    case Look::Pressed:
        return on ? Mix(kPanelBlue, black, 0.46) : Mix(kPanelBlue, black, 0.26);
    }
    return kPanelBlue;
}

void DrawFrame(QPainter& p, int x, Glyph glyph, Look look, bool on)
{
    const QColor black(0, 0, 0), white(255, 255, 255);
    const bool pressed = look == Look::Pressed;
    const QColor face = FaceColour(look, on);
    const QRectF box(x + 1.5, 1.5, kButtonFrameWidth - 3, kButtonFrameHeight - 3);

    p.fillRect(QRect(x, 0, kButtonFrameWidth, kButtonFrameHeight), kPanelBlue);
    QLinearGradient gradient(box.topLeft(), box.bottomLeft());
    gradient.setColorAt(0, Mix(face, pressed ? black : white, pressed ? 0.15 : 0.20));
    gradient.setColorAt(1, Mix(face, pressed ? white : black, pressed ? 0.05 : 0.15));
    p.setPen(QPen(Mix(face, black, 0.45), 1));
    p.setBrush(gradient);
    p.drawRoundedRect(box, 4.5, 4.5);
    // Raised buttons catch the light along the top edge; pressed ones are shaded there.
    p.setPen(QPen(pressed ? QColor(0, 0, 0, 70) : QColor(255, 255, 255, 80), 1));
    p.drawLine(QPointF(x + 5, 3), QPointF(x + kButtonFrameWidth - 5, 3));

    const QColor ink = on ? kGlyphOnColour : kGlyphColour;
    const QPointF offset = QPointF(x, 0) + (pressed ? QPointF(1, 1) : QPointF(0, 0));
    p.setPen(Qt::NoPen);
    for (const GlyphPart& part : GlyphParts(glyph)) {
        QPainterPath path = part.path.translated(offset);
        if (!pressed && part.shadow)
            p.fillPath(path.translated(1, 1), kGlyphShadow);
        p.fillPath(path, Mix(face, part.glass ? kGlyphColour : ink, part.shade));
    }
}

QImage ButtonBitmap(Glyph glyph, bool on)
{
    QImage bitmap(kButtonFrameWidth * 3, kButtonFrameHeight, QImage::Format_RGB32);
    QPainter p(&bitmap);
    p.setRenderHint(QPainter::Antialiasing);
    const Look looks[] = {Look::Normal, Look::Hover, Look::Pressed};
    for (int i = 0; i < 3; ++i)
        DrawFrame(p, i * kButtonFrameWidth, glyph, looks[i], on);
    p.end();
    return bitmap.convertToFormat(QImage::Format_RGB888);
}

QImage PanelBackground()
{
    QImage picture(kPanelBackgroundWidth, kPanelBackgroundHeight, QImage::Format_RGB32);
    picture.fill(kPanelBlue);
    QPainter p(&picture);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont font(kFontFamily);
    font.setPixelSize(12);
    font.setBold(true);
    font.setHintingPreference(QFont::PreferNoHinting);
    p.setFont(font);
    // Heading of the resolution list, which the panel places at (10, 26).
    p.setPen(QColor(255, 255, 255));
    p.drawText(QRect(10, 6, 124, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf16(u"Taille de l'image"));
    p.setPen(Mix(kPanelBlue, QColor(255, 255, 255), 0.35));
    p.drawLine(10, 23, 129, 23);
    return picture;
}

// The motion-zone panel's top-left picture: two framed boxes under which the panel places zone 1's
// and zone 2's enable box (12, 39), level bar (75, 42) and threshold slider (73, 58), the second
// 95 pixels lower.
QImage ZoneBackground()
{
    QImage picture(kZoneBackgroundWidth, kZoneBackgroundHeight, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter p(&picture);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont title(kFontFamily);
    title.setPixelSize(11);
    title.setBold(true);
    title.setHintingPreference(QFont::PreferNoHinting);
    QFont label = title;
    label.setBold(false);
    const QColor fill(236, 232, 205), frame(128, 120, 96);
    for (int n = 0; n < 2; ++n) {
        const int dy = 95 * n;
        const QRect box(4, 24 + dy, 152, 56);
        p.fillRect(box, fill);
        p.setPen(frame);
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.setFont(title);
        p.setPen(Qt::black);
        p.drawText(QRect(6, 8 + dy, 150, 14), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromUtf16(n == 0 ? u"Zone détectée 1" : u"Zone détectée 2"));
        p.setFont(label);
        p.drawText(QRect(30, 39 + dy, 44, 15), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Activer"));
        p.drawText(QRect(12, 58 + dy, 58, 14), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Seuil"));
    }
    return picture;
}

// The lens and its handle, in pixels from the hot spot's centre; the small picture is drawn to
// its own pixel grid rather than scaled, so its cross and ring stay one sharp pixel wide.
struct LensGeometry
{
    qreal radius, ring, halo, cross, crossWidth, handleFrom, handleTo, handle, handleHalo;
};

QImage ZoomCursor(const CursorImage& image)
{
    const LensGeometry g = image.size >= 32
                               ? LensGeometry{6.0, 2.4, 5.0, 3.0, 1.5, 5.2, 14.0, 4.5, 7.0}
                               : LensGeometry{3.5, 1.0, 2.6, 1.5, 1.0, 3.0, 7.2, 2.2, 3.6};
    QImage cursor(image.size, image.size, QImage::Format_ARGB32);
    cursor.fill(Qt::transparent);
    QPainter p(&cursor);
    p.setRenderHint(QPainter::Antialiasing);
    // Geometry is centred on the hot-spot pixel's centre so the lens aims where the click lands.
    const QPointF centre = QPointF(image.hotSpot) + QPointF(0.5, 0.5);
    const QPointF handleFrom = centre + QPointF(g.handleFrom, g.handleFrom);
    const QPointF handleTo = centre + QPointF(g.handleTo, g.handleTo);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, g.handleHalo, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(handleFrom, handleTo);
    p.setPen(QPen(Qt::white, g.halo));
    p.drawEllipse(centre, g.radius, g.radius);
    p.setPen(QPen(Qt::black, g.handle, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(handleFrom, handleTo);
    p.setBrush(QColor(255, 255, 255, 190));
    p.setPen(QPen(Qt::black, g.ring));
    p.drawEllipse(centre, g.radius, g.radius);
    p.setPen(QPen(Qt::black, g.crossWidth));
    p.drawLine(centre - QPointF(g.cross, 0), centre + QPointF(g.cross, 0));
    p.drawLine(centre - QPointF(0, g.cross), centre + QPointF(0, g.cross));
    return cursor;
}

bool Write(QImage image, const QDir& dir, const QString& name, const char* format)
{
    image.setDotsPerMeterX(kDotsPerMeter);
    image.setDotsPerMeterY(kDotsPerMeter);
    QImageWriter writer(dir.filePath(name), format);
    if (qstrcmp(format, "jpg") == 0) {
        writer.setQuality(kJpegQuality);
        writer.setOptimizedWrite(false);
        writer.setProgressiveScanWrite(false);
    }
    if (!writer.write(image)) {
        std::fprintf(stderr, "make_viewer_resources: %s: %s\n", qPrintable(writer.fileName()),
                     qPrintable(writer.errorString()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Drawing needs a GUI application for the fonts, never a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_viewer_resources OUTPUT_DIR\n");
        return 2;
    }
    // Another family would change the heading's pixels from one machine to the next.
    if (QFontInfo(QFont(kFontFamily)).family() != kFontFamily) {
        std::fprintf(stderr, "make_viewer_resources: font \"%s\" not installed\n",
                     qPrintable(kFontFamily));
        return 1;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "make_viewer_resources: cannot create %s\n", argv[1]);
        return 1;
    }

    struct Button
    {
        int id;
        Glyph glyph;
        bool on;
    };
    const Button buttons[] = {
        {kBmpFolder, Glyph::Folder, false},     {kBmpFlip, Glyph::Flip, false},
        {kBmpMirror, Glyph::Mirror, false},     {kBmpRotate, Glyph::Rotate, false},
        {kBmpSnapshot, Glyph::Camera, false},   {kBmpZoom, Glyph::Magnifier, false},
        {kBmpZoomOn, Glyph::Magnifier, true},   {kBmpRotateOn, Glyph::Rotate, true},
        {kBmpMirrorOn, Glyph::Mirror, true},    {kBmpFlipOn, Glyph::Flip, true},
    };
    bool ok = true;
    for (const Button& button : buttons)
        ok = Write(ButtonBitmap(button.glyph, button.on), dir, ViewerBitmapName(button.id), "bmp") &&
             ok;
    ok = Write(PanelBackground(), dir, ViewerImageName(kImgPanelBackground), "jpg") && ok;
    ok = Write(ZoneBackground(), dir, ViewerImageName(kImgZoneBackground), "jpg") && ok;
    for (const CursorImage& image : kZoomCursorImages)
        ok = Write(ZoomCursor(image), dir, ViewerCursorName(kCurZoom, image.size), "png") && ok;
    return ok ? 0 : 1;
}
