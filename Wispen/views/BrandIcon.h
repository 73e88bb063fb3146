#pragma once

#include <QWidget>

// The application's own icon (a white microphone on a rounded square of the brand
// blue), drawn smoothly into exactly size × size at any pixel ratio. It is
// decoration: screen readers skip it.
class BrandIcon final : public QWidget {
    Q_OBJECT
public:
    explicit BrandIcon(int size = 32, QWidget* parent = nullptr);

    // The icon as the window, tray and desktop icon.
    static QIcon icon();

protected:
    void paintEvent(QPaintEvent*) override;
};
