#pragma once
// Message lines: a label of fixed place and size that must show a whole message. The largest
// font size up to the line's own at which the word-wrapped text fits is taken; at the smallest
// size the panels use for text, a message that still does not fit makes the line taller.

#include <QRect>

class QFont;
class QLabel;
class QString;

// The panels' ordinary text size: messages are never drawn smaller.
inline constexpr int kSmallestMessagePixels = 12;

// Whether `text`, word-wrapped in `font`, fits `box`.
bool MessageFits(const QFont& font, const QString& text, QSize box);

// Shows `text` in `line` at `place` (the line's size as laid out), with the line's font at the
// largest pixel size from `largestPixels` down that fits.
void ShowFittedMessage(QLabel* line, const QString& text, const QRect& place, int largestPixels);
