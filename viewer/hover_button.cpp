#include "viewer/hover_button.h"

#include "viewer/resources.h"
#include "viewer/strings.h"

#include <QEnterEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

CHoverButton::CHoverButton(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

void CHoverButton::SetBitmap(int id)
{
    m_bitmap = ViewerBitmap(id);
    m_frameWidth = m_bitmap.width() / 3;
    m_frameHeight = m_bitmap.height();
    resize(m_frameWidth, m_frameHeight);
    update();
}

void CHoverButton::SetTooltip(int stringId, bool activate)
{
    QString text = LoadViewerString(stringId);
    if (text.isEmpty())
        return;
    m_tipText = text;
    m_tipActive = activate;
    if (!m_tipActive && QToolTip::isVisible() && underMouse())
        QToolTip::hideText();
}

QSize CHoverButton::sizeHint() const
{
    return {m_frameWidth, m_frameHeight};
}

void CHoverButton::paintEvent(QPaintEvent*)
{
    if (m_bitmap.isNull())
        return;
    const int frame = isDown() ? 2 : m_hover ? 1 : 0;
    QPainter p(this);
    p.drawImage(QPoint(0, 0), m_bitmap, QRect(frame * m_frameWidth, 0, m_frameWidth, m_frameHeight));
}

void CHoverButton::enterEvent(QEnterEvent* event)
{
    m_hover = true;
    update();
    // At once, not after the platform's tooltip delay.
    ShowTooltip(event->globalPosition().toPoint());
    QAbstractButton::enterEvent(event);
}

void CHoverButton::leaveEvent(QEvent* event)
{
    m_hover = false;
    update();
    if (m_tipActive)
        QToolTip::hideText();
    QAbstractButton::leaveEvent(event);
}

bool CHoverButton::event(QEvent* event)
{
    // The delayed tooltip request of a resting mouse shows the same tip again, if any.
    if (event->type() == QEvent::ToolTip) {
        ShowTooltip(static_cast<QHelpEvent*>(event)->globalPos());
        return true;
    }
    return QAbstractButton::event(event);
}

void CHoverButton::ShowTooltip(const QPoint& globalPos)
{
    if (m_tipActive && !m_tipText.isEmpty())
        QToolTip::showText(globalPos, m_tipText, this, rect());
}
