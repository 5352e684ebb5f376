#include "viewer/picture_ctrl.h"

#include "viewer/resources.h"

#include <QPainter>
#include <QPaintEvent>

CPictureCtrl::CPictureCtrl(QWidget* parent, int controlId, bool loadOwnImage)
    : QWidget(parent), m_controlId(controlId), m_background(QColor::fromRgb(kPanelBlueRgb))
{
    // Every pixel is painted here, so Qt need not clear the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (loadOwnImage)
        LoadImage(controlId);
}

bool CPictureCtrl::LoadImage(int id)
{
    m_image = ViewerImage(id);
    update();
    return !m_image.isNull();
}

void CPictureCtrl::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    QRect target;
    if (!m_image.isNull()) {
        target = rect();
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(target, m_image);
    }
    const QRegion uncovered = QRegion(event->rect()).subtracted(target);
    for (const QRect& part : uncovered)
        p.fillRect(part, m_background);
}
