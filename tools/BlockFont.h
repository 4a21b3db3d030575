// A tiny block font for drawing sample captions: capital letters, digits and
// a little punctuation, each 5 cells wide and 7 high.
#ifndef KELVO_TOOLS_BLOCKFONT_H
#define KELVO_TOOLS_BLOCKFONT_H

namespace Qor::Tools {

constexpr int GlyphWidth = 5;
constexpr int GlyphHeight = 7;

// True when the cell at column x (0 to 4), row y (0 to 6, top first) of the
// glyph for `c` is inked. A character the font lacks draws as a hollow box;
// a space draws nothing.
bool glyphCell(char c, int x, int y);

} // namespace Qor::Tools

#endif
