// TPathLabel: the line breaking and painting of a label that names paths (see PathLabel.h).
#include "app/PathLabel.h"

#include <QPainter>
#include <QTextLayout>

namespace {

constexpr QChar kWordJoiner(0x2060);  // forbids a line break on either side, draws nothing

// The text with every drive letter's ":\" joined, so no line ends with a bare "C:".
QString JoinDrives(const QString& text) {
  QString joined;
  joined.reserve(text.size() + 8);
  for (qsizetype i = 0; i < text.size(); ++i) {
    joined += text[i];
    if (text[i] == ':' && i + 1 < text.size() && text[i + 1] == '\\') joined += kWordJoiner;
  }
  return joined;
}

}  // namespace

QStringList TPathLabel::Lines(int width) const {
  const QString shown = JoinDrives(text());
  QTextLayout layout(shown, font());
  QTextOption option;
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    QString part = shown.mid(line.textStart(), line.textLength());
    part.remove(kWordJoiner);
    while (part.endsWith(' ')) part.chop(1);  // the blank a line was broken at
    lines << part;
  }
  layout.endLayout();
  return lines;
}

int TPathLabel::heightForWidth(int width) const {
  const qsizetype count = text().isEmpty() ? 0 : Lines(width).size();
  return static_cast<int>(count) * fontMetrics().lineSpacing();
}

QSize TPathLabel::sizeHint() const {
  return {width(), heightForWidth(width())};
}

void TPathLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  const QFontMetrics metrics = fontMetrics();
  int baseline = metrics.ascent();
  for (const QString& line : Lines()) {
    painter.drawText(0, baseline, line);
    baseline += metrics.lineSpacing();
  }
}
