// One tile of the thumbnail viewer: the reduced picture of an image, its index and the state
// icons (control points, texture visibility, sleep).
#pragma once

#include <QPixmap>
#include <QWidget>

class QLabel;

namespace orvUI {

class CImageThumbViewer;

class CThumbWidget : public QWidget {
    Q_OBJECT
public:
    CThumbWidget(QWidget* parent, int options);

    void setViewer(CImageThumbViewer* viewer) { m_viewer = viewer; }
    void setImageIndex(int index);
    int imageIndex() const { return m_index; }
    // The picture, scaled so that its longer side is 120 pixels.
    void setPicture(const QImage& image);
    QPixmap picture() const;
    int options() const { return m_options; }

    int top = 0;
    bool placed = false;

    void setMarked(bool on);
    void setTextureVisible(bool on);
    void setSelected(bool on);
    void setHighlighted(bool on);
    void setAsleep(bool on);
    void setControlPoints(bool on);
    // All off, asleep on.
    void resetStates();

    bool isMarked() const { return m_marked; }
    bool isTextureVisible() const { return m_textureVisible; }
    bool isSelected() const { return m_selected; }
    bool isHighlighted() const { return m_highlighted; }
    bool isAsleep() const { return m_asleep; }
    bool hasControlPoints() const { return m_controlPoints; }
    // Why the last wake-up from this tile failed; empty once the mesh is awake.
    QString wakeError() const { return m_wakeError; }

public slots:
    void OnVisClick();
    void OnSleepClick();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void applyStyles();
    // Tool tips that say each icon's state and what a click does.
    void updateToolTips();

    CImageThumbViewer* m_viewer = nullptr;
    int m_index = -1;
    int m_options = 0;
    QWidget* m_topPart = nullptr;
    QLabel* m_picture = nullptr;
    QLabel* m_name = nullptr;
    QLabel* m_ctrlIcon = nullptr;
    QLabel* m_visIcon = nullptr;
    QLabel* m_sleepIcon = nullptr;
    QPixmap m_sleepPix, m_wakePix, m_visPix, m_invisPix, m_ctrlOnPix, m_ctrlOffPix;
    bool m_marked = false;
    bool m_textureVisible = false;
    bool m_selected = false;
    bool m_highlighted = false;
    bool m_asleep = true;
    bool m_controlPoints = false;
    QString m_wakeError;
};

}  // namespace orvUI
