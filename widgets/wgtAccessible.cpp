// The accessible interfaces of the painted controls (see wgtAccessible.h).
#include "widgets/wgtAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeySequence>

#include "widgets/Gauges.h"
#include "widgets/xpButton.h"

namespace {

class TxpButtonAccessible : public QAccessibleWidget {
 public:
  explicit TxpButtonAccessible(TxpButton* button)
      : QAccessibleWidget(button, QAccessible::Button) {}

  QString text(QAccessible::Text kind) const override {
    switch (kind) {
      case QAccessible::Name: {
        const QString name = widget()->accessibleName();
        return name.isEmpty() ? Button()->State().Caption : name;
      }
      case QAccessible::Accelerator:
        if (Button()->Accelerator() == 0) return {};
        return QKeySequence(
                   QKeyCombination(Qt::AltModifier, static_cast<Qt::Key>(Button()->Accelerator())))
            .toString(QKeySequence::NativeText);
      default:
        return QAccessibleWidget::text(kind);
    }
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.pressed = Button()->Pressed();
    state.defaultButton = Button()->Default();
    return state;
  }

  QStringList actionNames() const override {
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
  }
  void doAction(const QString& name) override {
    if (name != pressAction()) {
      QAccessibleWidget::doAction(name);
    } else if (Button()->isEnabled() && Button()->isVisible()) {
      Button()->Click();
    }
  }
  QStringList keyBindingsForAction(const QString& name) const override {
    if (name != pressAction()) return QAccessibleWidget::keyBindingsForAction(name);
    QStringList keys{QStringLiteral("Space")};
    const QString accelerator = text(QAccessible::Accelerator);
    if (!accelerator.isEmpty()) keys << accelerator;
    return keys;
  }

 private:
  TxpButton* Button() const { return static_cast<TxpButton*>(widget()); }
};

class TGaugeAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit TGaugeAccessible(TGauge* gauge) : QAccessibleWidget(gauge, QAccessible::ProgressBar) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  QString text(QAccessible::Text kind) const override {
    switch (kind) {
      case QAccessible::Name: {
        const QString name = widget()->accessibleName();
        return name.isEmpty() ? QStringLiteral("Progress") : name;
      }
      case QAccessible::Value:
        return QString::number(Gauge()->PercentDone()) + QLatin1Char('%');
      default:
        return QAccessibleWidget::text(kind);
    }
  }

  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.focusable = false;
    return state;
  }

  QVariant currentValue() const override { return Gauge()->Progress(); }
  void setCurrentValue(const QVariant&) override {}  // the run sets it, not a person
  QVariant maximumValue() const override { return Gauge()->MaxValue(); }
  QVariant minimumValue() const override { return Gauge()->MinValue(); }
  QVariant minimumStepSize() const override { return 1; }

 private:
  TGauge* Gauge() const { return static_cast<TGauge*>(widget()); }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
  if (className == QLatin1String("TxpButton")) {
    if (auto* button = qobject_cast<TxpButton*>(object)) return new TxpButtonAccessible(button);
  } else if (className == QLatin1String("TGauge")) {
    if (auto* gauge = qobject_cast<TGauge*>(object)) return new TGaugeAccessible(gauge);
  }
  return nullptr;
}

}  // namespace

namespace widgets {

void InstallAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(Factory);
    return true;
  }();
  (void)installed;
}

}  // namespace widgets
