#pragma once

#include <QWidget>

// The HUD's background: a capsule of the window colour at about 85 % opacity with a
// hairline border, for a window with a translucent background. Without a
// compositing manager such a window would show black corners, so the capsule is
// then drawn over an opaque rectangle of the window colour.
class HUDCapsule final : public QWidget {
    Q_OBJECT
public:
    explicit HUDCapsule(QWidget* parent = nullptr);

    bool translucent() const { return m_translucent; }
    void setTranslucent(bool translucent);

    static constexpr qreal materialOpacity = 0.85;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool m_translucent = false;
};
