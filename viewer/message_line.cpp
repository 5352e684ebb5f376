#include "viewer/message_line.h"

#include <QFontMetrics>
#include <QLabel>

#include <algorithm>
#include <climits>

namespace {

QSize Needed(const QFont& font, const QString& text, int width)
{
    return QFontMetrics(font)
        .boundingRect(QRect(0, 0, width, INT_MAX / 2), Qt::TextWordWrap, text)
        .size();
}

} // namespace

bool MessageFits(const QFont& font, const QString& text, QSize box)
{
    const QSize needed = Needed(font, text, box.width());
    return needed.width() <= box.width() && needed.height() <= box.height();
}

void ShowFittedMessage(QLabel* line, const QString& text, const QRect& place, int largestPixels)
{
    if (!line)
        return;
    QFont font = line->font();
    const int smallest = std::min(largestPixels, kSmallestMessagePixels);
    int pixels = largestPixels;
    for (;; --pixels) {
        font.setPixelSize(pixels);
        if (pixels <= smallest || MessageFits(font, text, place.size()))
            break;
    }
    QRect at = place;
    at.setHeight(std::max(place.height(), Needed(font, text, place.width()).height()));
    line->setWordWrap(true);
    line->setFont(font);
    line->setText(text);
    line->setGeometry(at);
    line->show();
    line->raise();
}
