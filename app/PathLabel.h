// TPathLabel: a word-wrapped label for sentences that name a path in the window's syntax. An
// ordinary label may break a line between the drive's colon and the backslash after it, leaving
// "C:" at the end of one line and the rest of the path on the next; this one keeps a drive and its
// path together and breaks only where a person would (at blanks). Its text() stays the sentence
// as set. It does not elide: a text that needs more lines than the label has is cut at the bottom.
#pragma once

#include <QLabel>
#include <QStringList>

class TPathLabel : public QLabel {
 public:
  using QLabel::QLabel;

  // The lines the label shows at `width`, as a person reads them.
  QStringList Lines(int width) const;
  QStringList Lines() const { return Lines(width()); }

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};
