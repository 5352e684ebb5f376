#include "motion/zone_wnd.h"

#include <QMouseEvent>
#include <QPainter>
#include <QRegion>

#include <climits>

namespace {

ZoneRect FromQt(const QRect& r)
{
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

QRect ToQt(const ZoneRect& r)
{
    return QRect(r.left, r.top, r.Width(), r.Height());
}

} // namespace

CZoneWnd::CZoneWnd(int zone) : m_zone(zone) {}

CZoneWnd::~CZoneWnd()
{
    Destroy();
}

void CZoneWnd::Create(QWidget* parent, const QRect& geometry, std::function<QRect()> picture)
{
    Destroy();
    m_window = new CZoneFrame(*this, parent, std::move(picture));
    UpdateRegion(); // the window's initialisation
    m_window->setGeometry(geometry.x(), geometry.y(), LimitZoneWidth(geometry.width()),
                          LimitZoneHeight(geometry.height()));
    m_window->show();
    m_window->raise();
}

void CZoneWnd::Destroy()
{
    delete m_window.data();
    m_window.clear();
}

void CZoneWnd::UpdateRegion()
{
    if (m_firstSize) {
        m_firstSize = false;
        return;
    }
    if (!m_window)
        return;
    const int w = m_window->width(), h = m_window->height();
    const QRegion outer(0, 0, w, h);
    const QRegion inner(kBorder, kClientTop, w - 4 - kBorder, h - 4 - kClientTop);
    m_window->setMask(outer.subtracted(inner));
}

CZoneFrame::CZoneFrame(CZoneWnd& owner, QWidget* parent, std::function<QRect()> picture)
    : QWidget(parent), m_owner(owner), m_picture(std::move(picture))
{
    setObjectName(QStringLiteral("zone%1").arg(owner.Zone()));
    setMouseTracking(true);
}

void CZoneFrame::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_owner.UpdateRegion();
}

void CZoneFrame::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect all = rect();
    p.fillRect(all, QColor(212, 208, 200));
    p.fillRect(QRect(CZoneWnd::kBorder - 1, CZoneWnd::kBorder - 1,
                     width() - 2 * CZoneWnd::kBorder + 2, CZoneWnd::kCaption),
               QColor(10, 36, 106));
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setPixelSize(CZoneWnd::kCaption - 3);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRect(CZoneWnd::kBorder + 2, CZoneWnd::kBorder - 1, width(), CZoneWnd::kCaption),
               Qt::AlignLeft | Qt::AlignVCenter, m_owner.Caption());
    p.setPen(QColor(64, 64, 64));
    p.drawRect(all.adjusted(0, 0, -1, -1));
}

int CZoneFrame::HitTest(const QPoint& pos) const
{
    const int b = CZoneWnd::kBorder;
    int hit = kNone;
    if (pos.x() < b)
        hit |= kLeft;
    if (pos.x() >= width() - b)
        hit |= kRight;
    if (pos.y() < b)
        hit |= kTop;
    if (pos.y() >= height() - b)
        hit |= kBottom;
    if (hit == kNone && pos.y() < CZoneWnd::kClientTop)
        hit = kMove;
    return hit;
}

void CZoneFrame::UpdateCursor(int hit)
{
    if ((hit & (kLeft | kTop)) == (kLeft | kTop) || (hit & (kRight | kBottom)) == (kRight | kBottom))
        setCursor(Qt::SizeFDiagCursor);
    else if ((hit & (kRight | kTop)) == (kRight | kTop) ||
             (hit & (kLeft | kBottom)) == (kLeft | kBottom))
        setCursor(Qt::SizeBDiagCursor);
    else if (hit & (kLeft | kRight))
        setCursor(Qt::SizeHorCursor);
    else if (hit & (kTop | kBottom))
        setCursor(Qt::SizeVerCursor);
    else
        unsetCursor();
}

void CZoneFrame::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_drag = HitTest(event->position().toPoint());
    m_pressGlobal = event->globalPosition().toPoint();
    m_pressGeometry = geometry();
    raise();
}

void CZoneFrame::mouseMoveEvent(QMouseEvent* event)
{
    if (m_drag == kNone) {
        UpdateCursor(HitTest(event->position().toPoint()));
        return;
    }
    const QPoint d = event->globalPosition().toPoint() - m_pressGlobal;
    if (m_drag == kMove) {
        MoveTo(m_pressGeometry.topLeft() + d);
        return;
    }
    ZoneRect r = FromQt(m_pressGeometry);
    if (m_drag & kLeft)
        r.left = std::min(r.left + d.x(), r.right);
    if (m_drag & kRight)
        r.right = std::max(r.right + d.x(), r.left);
    if (m_drag & kTop)
        r.top = std::min(r.top + d.y(), r.bottom);
    if (m_drag & kBottom)
        r.bottom = std::max(r.bottom + d.y(), r.top);
    SizeTo(ToQt(r));
}

void CZoneFrame::mouseReleaseEvent(QMouseEvent*)
{
    m_drag = kNone;
}

void CZoneFrame::MoveTo(const QPoint& topLeft)
{
    ZoneRect r{topLeft.x(), topLeft.y(), topLeft.x() + width(), topLeft.y() + height()};
    if (m_picture)
        r = SlideIntoPicture(r, FromQt(m_picture()));
    move(r.left, r.top);
}

void CZoneFrame::SizeTo(const QRect& proposed)
{
    constexpr ZoneRect kUnbounded{INT_MIN / 2, INT_MIN / 2, INT_MAX / 2, INT_MAX / 2};
    const ZoneRect picture = m_picture ? FromQt(m_picture()) : kUnbounded;
    setGeometry(ToQt(SizeInPicture(FromQt(proposed), FromQt(geometry()), picture)));
}
