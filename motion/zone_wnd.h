#pragma once
// One motion zone's frame over the live picture: a small caption and a sizing border around an
// empty inside. The inside is cut out of the window's shape, so the picture shows through and
// clicks there reach the panel. The object lives with the panel; its window is made on demand.

#include "motion/zone_geometry.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class CZoneFrame;

class CZoneWnd
{
public:
    // Caption bar height and border width; the inside starts at (kBorder, kClientTop).
    static constexpr int kBorder = 4;
    static constexpr int kCaption = 14;
    static constexpr int kClientTop = kBorder + kCaption;

    explicit CZoneWnd(int zone); // 1 to 4
    ~CZoneWnd();
    CZoneWnd(const CZoneWnd&) = delete;
    CZoneWnd& operator=(const CZoneWnd&) = delete;

    int Zone() const { return m_zone; }
    int TemplateId() const { return 201 + m_zone; }
    QString Caption() const { return QStringLiteral("Zone %1").arg(m_zone); }

    // `picture` gives the picture area in the parent's coordinates, asked at every move or size
    // step. The window is made visible at `geometry`, within the size limits.
    void Create(QWidget* parent, const QRect& geometry, std::function<QRect()> picture);
    void Destroy();
    bool Exists() const { return !m_window.isNull(); }
    CZoneFrame* Window() const { return m_window.data(); }

    // The window's shape: outer rectangle minus the inside. Skipped once after construction.
    void UpdateRegion();

private:
    int m_zone;
    bool m_firstSize = true;
    QPointer<CZoneFrame> m_window;
};

class CZoneFrame : public QWidget
{
    Q_OBJECT
public:
    CZoneFrame(CZoneWnd& owner, QWidget* parent, std::function<QRect()> picture);

    // The rules a drag follows, callable without a mouse: a move to `topLeft`, and a size change
    // to `proposed` (both in the parent's coordinates).
    void MoveTo(const QPoint& topLeft);
    void SizeTo(const QRect& proposed);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    enum Edge { kNone = 0, kLeft = 1, kTop = 2, kRight = 4, kBottom = 8, kMove = 16 };
    int HitTest(const QPoint& pos) const;
    void UpdateCursor(int hit);

    CZoneWnd& m_owner;
    std::function<QRect()> m_picture;
    int m_drag = kNone;
    QPoint m_pressGlobal;
    QRect m_pressGeometry;
};
