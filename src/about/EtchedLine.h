#pragma once

#include <QColor>
#include <QWidget>

namespace ew {

// An etched separator: a grey line with a white line of twice its width right below it.
class EtchedLine : public QWidget {
    Q_OBJECT
public:
    explicit EtchedLine(QWidget* parent = nullptr) : QWidget(parent) {}

    static inline const QColor Shadow{128, 128, 128};
    static inline const QColor Light{255, 255, 255};
    static constexpr int ShadowWidth = 1;
    static constexpr int LightWidth = 2;

    QSize sizeHint() const override { return {ShadowWidth + LightWidth, ShadowWidth + LightWidth}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace ew
