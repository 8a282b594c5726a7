// The status bar's text panel (`SkinStatusPanel1`): one line about playback, cut with "…" where
// the bar is too narrow; the whole text is its tooltip.
#pragma once

#include <QLabel>

namespace djkivo::app {

/// A one-line label that draws its text elided at the right when it does not fit, keeping the
/// whole text as `text()` and as the tooltip. GUI thread only.
class TStatusPanel final : public QLabel {
 public:
  explicit TStatusPanel(QWidget* parent);

  /// Shows `text`; empty clears the panel.
  void ShowText(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace djkivo::app
