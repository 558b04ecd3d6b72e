#include "Lumenor/UI/StepperRow.h"

#include "Lumenor/UI/ElidedLabel.h"
#include "Lumenor/UI/HoverButton.h"
#include "Lumenor/UI/MenuTheme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

/// One half of the minus/plus pair: a small rounded key with a drawn sign.
class StepKey : public HoverButton {
public:
    StepKey(bool plus, QWidget* parent) : HoverButton(parent), plus_(plus) {
        setFixedSize(26, 22);
        setCornerRadius(6);
        setText(plus ? QStringLiteral("+") : QStringLiteral("−"));
    }

protected:
    void paintBackground(QPainter& painter) override {
        QPainterPath key;
        key.addRoundedRect(QRectF(rect()), cornerRadius(), cornerRadius());
        const qreal alpha = isDown() ? 0.18 : (isHovered() && isEnabled() ? 0.14 : 0.08);
        painter.fillPath(key, MenuTheme::wash(palette(), alpha));
        painter.setOpacity(isEnabled() ? 1.0 : 0.3);
        painter.setPen(QPen(MenuTheme::text(palette()), 1.5, Qt::SolidLine, Qt::RoundCap));
        const QPointF centre = QRectF(rect()).center();
        painter.drawLine(centre - QPointF(4, 0), centre + QPointF(4, 0));
        if (plus_) {
            painter.drawLine(centre - QPointF(0, 4), centre + QPointF(0, 4));
        }
    }

private:
    bool plus_;
};

} // namespace

StepperRow::StepperRow(const QString& title, Range range, int step, const QString& unit,
                       std::function<void(int)> onChange, QWidget* parent)
    : QWidget(parent), range_(range), step_(step), unit_(unit), onChange_(std::move(onChange)) {
    setFixedHeight(MenuTheme::rowHeight);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(MenuTheme::margins(36, 0, 6, 0));
    layout->setSpacing(4);
    auto* name = new ElidedLabel(title, this);
    name->setObjectName(QStringLiteral("rowTitle"));
    name->setFont(MenuTheme::font(13));
    layout->addWidget(name, 1);
    valueLabel_ = new QLabel(this);
    valueLabel_->setObjectName(QStringLiteral("stepperValue"));
    valueLabel_->setFont(MenuTheme::font(12));
    valueLabel_->setContentsMargins(MenuTheme::margins(0, 0, 6, 0));
    MenuTheme::setTone(valueLabel_, MenuTheme::Tone::secondary);
    layout->addWidget(valueLabel_);
    minus_ = new StepKey(false, this);
    minus_->setObjectName(QStringLiteral("stepperMinus"));
    minus_->setAccessibleName(QStringLiteral("Decrease %1").arg(title));
    minus_->setAction([this] { propose(decremented()); });
    layout->addWidget(minus_);
    plus_ = new StepKey(true, this);
    plus_->setObjectName(QStringLiteral("stepperPlus"));
    plus_->setAccessibleName(QStringLiteral("Increase %1").arg(title));
    plus_->setAction([this] { propose(incremented()); });
    layout->addWidget(plus_);
    setValue(range.lower);
}

void StepperRow::setValue(int value) {
    value_ = value;
    const QString gap = unit_.startsWith(QLatin1Char('%')) ? QString() : QStringLiteral(" ");
    valueLabel_->setText(QString::number(value) + gap + unit_);
    minus_->setEnabled(value > range_.lower);
    plus_->setEnabled(value < range_.upper);
}

int StepperRow::decremented() const {
    return std::clamp(value_ - step_, range_.lower, range_.upper);
}

int StepperRow::incremented() const {
    return std::clamp(value_ + step_, range_.lower, range_.upper);
}

void StepperRow::propose(int value) {
    if (value == value_ || !onChange_) {
        return;
    }
    onChange_(value);
    // Shown at once, so a second press before the next render steps on from here.
    setValue(value);
}
