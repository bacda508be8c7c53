#pragma once

#include <QColor>
#include <QWidget>

// A round status lamp with a grey outline.
class LedShape : public QWidget
{
    Q_OBJECT

public:
    explicit LedShape(QWidget *parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);

    QSize sizeHint() const override { return {18, 18}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color = Qt::black;
};

// Two arrow buttons, one above the other, that step a text field.
class SpinButtons : public QWidget
{
    Q_OBJECT

public:
    explicit SpinButtons(const QString &fieldName, QWidget *parent = nullptr);

    // The arrows are announced by the name of the field they step; it
    // follows the field's label when that changes.
    void setFieldName(const QString &fieldName);

signals:
    void stepped(bool up);
};
