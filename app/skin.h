// The window's look: one dark style sheet, and the icon and home picture the program draws.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace djkivo::app {

/// The text colour of the skin, used by the style sheet and by the display panel's painter.
inline const QColor kSkinTextColor{0xd8, 0xdc, 0xe6};
/// The accent colour (selection, progress, spectrum bars).
inline const QColor kSkinAccentColor{0x2f, 0xb4, 0xe8};

/// The style sheet applied to the whole window (dark, compact).
QString DarkStyleSheet();

/// The program's icon (the window's and the tray's): the project's emblem at 16 to 256 px.
QIcon ProgramIcon();

/// The home picture shown while no list is open, drawn at the given size.
QPixmap HomePicture(int width, int height);

/// Small glyphs for the transport and mode buttons, drawn in the skin's text colour.
enum class Glyph { kPlay, kPause, kPrevious, kNext, kSequential, kRandom, kAbout, kSearch };
QIcon GlyphIcon(Glyph glyph);

}  // namespace djkivo::app
