#pragma once
// Static picture of the panel: an image resource stretched over the control. Where no picture
// covers the control (none loaded, or the resource is missing) the panel blue shows.

#include <QColor>
#include <QImage>
#include <QWidget>

class CPictureCtrl : public QWidget
{
    Q_OBJECT

public:
    // With loadOwnImage set, the image resource whose id is controlId is loaded at once.
    explicit CPictureCtrl(QWidget* parent = nullptr, int controlId = 0, bool loadOwnImage = false);

    // False, and no picture, when the image resource does not exist.
    bool LoadImage(int id);
    const QImage& Image() const { return m_image; }
    int ControlId() const { return m_controlId; }
    // What shows where no picture covers the control; the panel blue unless set.
    void SetBackground(const QColor& colour) { m_background = colour; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_image;
    int m_controlId;
    QColor m_background;
};
